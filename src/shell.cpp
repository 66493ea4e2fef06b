#include "shell.hpp"

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace {

// The message of each failure, in the order of Failure, without the
// newline that ends its line.
constexpr const char* kMessages[] = {
    "can not open %s",
    "can not open %s: not a regular file",
    "can not open %s: it is the old spare file",
    "can not open %s: it is locked by another program",
    "can not open %s: it changed during the conversion",
    "can not read %s",
    "can not read %s: it changed during the conversion",
    "can not spool the old spare file in %s",
    "can not write %s",
    "can not write beside %s",
    "can not write %s: another program replaced it during the conversion",
    "not enough memory to convert %s",
};
static_assert(std::size(kMessages) == static_cast<std::size_t>(Failure::OutOfMemory) + 1);

// The failure of an old spare file whose path names a file of kind: none
// when it may be opened (a regular file or a stream at the first opening,
// first being nullptr, and a regular file again at a later one).
bool refusedKind(FileKind kind, const FileFacts* first, Failure& failure)
{
    const bool allowed = kind == FileKind::Regular || (first == nullptr && kind == FileKind::Stream);
    failure = kind == FileKind::Missing ? Failure::CannotOpen
              : first != nullptr        ? Failure::ChangedBeforeReopening
                                        : Failure::NotRegularFile;
    return !allowed;
}

}  // namespace

const char* messageOf(Failure failure)
{
    return kMessages[static_cast<int>(failure)];
}

bool sameFile(const FileFacts& a, const FileFacts& b)
{
    return a.volume == b.volume && a.index == b.index && a.indexHigh == b.indexHigh;
}

bool sameState(const FileFacts& a, const FileFacts& b)
{
    return a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

bool openOldSpareFile(const char* path, const FileFacts* first, FileFacts& facts, FileHandle& file,
                      Failure& failure, int& error)
{
    errno = 0;
    const FileKind kind = kindOfPath(path);
    error = kind == FileKind::Missing ? errno : 0;
    if (refusedKind(kind, first, failure))
        return false;
    const bool stream = kind == FileKind::Stream;
    file = stream ? openStream(path) : openForReading(path);
    failure = Failure::CannotOpen;
    if (!file.isOpen() || !describeOpenFile(file, facts)) {
        error = errno;
        return false;
    }
    // A file that turns from one kind into the other at the opening, or is
    // not the one first found, has changed.
    failure = Failure::ChangedBeforeReopening;
    if (facts.stream != stream)
        return false;
    if (first == nullptr) {
        failure = Failure::NotRegularFile;
        return facts.regular || facts.stream;
    }
    return sameFile(facts, *first) && sameState(facts, *first);
}

const char* reasonOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EIO:
        return "input/output error";
    case ENOSPC:
        return "no space left on device";
    case EROFS:
        return "read-only file system";
    case EBUSY:
        return "device or resource busy";
    case ENAMETOOLONG:
        return "name too long";
    case ELOOP:
        return "too many levels of symbolic links";
    case ENOMEM:
        return "not enough memory";
    case EEXIST:
        return "file exists";
    default:
        return "error number of the system's own";
    }
}

bool finishStandardOutput()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}
