// The platform layer on Linux and other POSIX systems.
#include "platform.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The modification and change times that a stat call gave, as macOS names
// them, and as POSIX, Linux and the BSDs do.
#ifdef __APPLE__
const struct timespec& modifiedAt(const struct stat& info) { return info.st_mtimespec; }
const struct timespec& changedAt(const struct stat& info) { return info.st_ctimespec; }
#else
const struct timespec& modifiedAt(const struct stat& info) { return info.st_mtim; }
const struct timespec& changedAt(const struct stat& info) { return info.st_ctim; }
#endif

// A time as the program keeps it.
FileTime timeOf(const struct timespec& time)
{
    return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::int64_t>(time.tv_nsec)};
}

// The facts that a stat call gave.
FileFacts factsOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), 0,
            static_cast<std::int64_t>(info.st_size), timeOf(modifiedAt(info)), timeOf(changedAt(info)),
            S_ISREG(info.st_mode), S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)};
}

// Opens path with the flags, retrying an opening that a signal broke off.
int openRetrying(const char* path, int flags)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// The number of the descriptor that path names as one of this process's
// own (/dev/stdin, /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N with PID its
// own) when it is open and is the file that path leads to; -1 otherwise.
int ownDescriptor(const char* path)
{
    char own[40];
    std::snprintf(own, sizeof own, "/proc/%ld/fd/", static_cast<long>(::getpid()));
    const char* digits = nullptr;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", static_cast<const char*>(own)})
        if (std::strncmp(path, prefix, std::strlen(prefix)) == 0)
            digits = path + std::strlen(prefix);
    if (std::strcmp(path, "/dev/stdin") == 0)
        digits = "0";
    if (digits == nullptr || *digits < '0' || *digits > '9')
        return -1;
    char* end;
    const long fd = std::strtol(digits, &end, 10);
    struct stat named, open;
    if (*end != '\0' || fd > 1'000'000 || ::stat(path, &named) != 0 ||
        ::fstat(static_cast<int>(fd), &open) != 0 || open.st_dev != named.st_dev || open.st_ino != named.st_ino)
        return -1;
    return static_cast<int>(fd);
}

}  // namespace

bool closeFile(int fd)
{
    return ::close(fd) == 0;
}

void prepareProcess()
{
    std::signal(SIGPIPE, SIG_IGN);
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);  // a write past `ulimit -f` fails with EFBIG
#endif
}

char** argumentsInUtf8(int, char* argv[])
{
    return argv;
}

void printMessage(const char* format, const char* text)
{
    std::printf(format, text);
}

void printError(const char* format, const char* text)
{
    std::fprintf(stderr, format, text);
}

bool describeOpenState(const FileHandle& file, FileFacts& facts)
{
    return describeOpenFile(file, facts);
}

FileKind kindOfPath(const char* path)
{
    struct stat info;
    if (::stat(path, &info) != 0)
        return FileKind::Missing;
    if (S_ISREG(info.st_mode))
        return FileKind::Regular;
    if (S_ISBLK(info.st_mode))
        return FileKind::Disk;
    // A socket is read only as a descriptor already open: one named by its
    // own path would have to be connected to.
    if (S_ISSOCK(info.st_mode))
        return ownDescriptor(path) >= 0 ? FileKind::Stream : FileKind::Other;
    return S_ISFIFO(info.st_mode) ? FileKind::Stream : FileKind::Other;
}

bool describePath(const char* path, FileFacts& facts)
{
    struct stat info;
    if (::stat(path, &info) != 0)
        return false;
    facts = factsOf(info);
    return true;
}

bool describeOpenFile(const FileHandle& file, FileFacts& facts)
{
    struct stat info;
    if (::fstat(file.fd(), &info) != 0)
        return false;
    facts = factsOf(info);
    return true;
}

FileHandle openForReading(const char* path)
{
    // Not waiting at the opening, in case the path names a FIFO.  A regular
    // file under another program's lease answers EWOULDBLOCK to that: it is
    // opened again, waiting, as the lease is given up.
    int fd = openRetrying(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0 && errno == EWOULDBLOCK) {
        struct stat info;
        if (::stat(path, &info) == 0 && S_ISREG(info.st_mode))
            fd = openRetrying(path, O_RDONLY);
    }
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // reads wait for data
    return FileHandle(fd);
}

FileHandle standardOutput()
{
    return FileHandle(::fcntl(1, F_DUPFD_CLOEXEC, 0));
}

bool standardOutputIsConsole()
{
    return false;  // a terminal takes the bytes as they are
}

FileHandle standardInput()
{
    return FileHandle(::fcntl(0, F_DUPFD_CLOEXEC, 0));
}

FileHandle openStream(const char* path)
{
    // A stream that the process holds open is taken as it is: opening its
    // name again would wait for a FIFO's new writer, or fail on a socket.
    const int own = ownDescriptor(path);
    const int fd = own >= 0 ? ::fcntl(own, F_DUPFD_CLOEXEC, 0) : openRetrying(path, O_RDONLY);
#ifdef F_SETPIPE_SZ
    // A pipe of Linux holds 64 KiB; the most it may hold without privileges,
    // 1 MiB by default, takes a quarter of the reads and of the waits on the
    // writer.  (A mere wish: where it fails, the pipe stays as it was.)
    if (fd >= 0)
        ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#endif
    return FileHandle(fd);
}

SpoolFolder spoolFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return {folder == nullptr || *folder == '\0' ? "/tmp" : folder};
}

namespace {

// A file in folder that lost its name as soon as it was made; not open when
// it cannot be made.
FileHandle openUnnamedFile(const char* folder)
{
    const std::size_t size = std::strlen(folder) + sizeof "/tabfold-XXXXXX";
    char* name = static_cast<char*>(std::malloc(size));
    if (name == nullptr)
        return FileHandle();
    std::snprintf(name, size, "%s/tabfold-XXXXXX", folder);
    FileHandle spool(::mkostemp(name, O_CLOEXEC));
    const bool unnamed = spool.isOpen() && ::unlink(name) == 0;
    std::free(name);
    return unnamed ? std::move(spool) : FileHandle();
}

// True when a byte written to the empty file reads back, and the file is
// empty again.  Where the system keeps an unlinked file under a hidden name
// (FUSE, NFS), a file system that fails here (FAT under FUSE) would also
// leave that name, and all that was written, once the program ends: only
// this one byte is put at risk.
bool readsBack(const FileHandle& file)
{
    char byte = '\n';
    return ::pwrite(file.fd(), &byte, 1, 0) == 1 && ::pread(file.fd(), &byte, 1, 0) == 1 && byte == '\n' &&
           ::ftruncate(file.fd(), 0) == 0;
}

}  // namespace

FileHandle openSpool(const char* folder)
{
#ifdef O_TMPFILE
    // A file that never has a name, where the file system can make one.
    const int fd = openRetrying(folder, O_RDWR | O_TMPFILE | O_EXCL);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return FileHandle(fd);
#endif
    FileHandle spool = openUnnamedFile(folder);
    return spool.isOpen() && readsBack(spool) ? std::move(spool) : FileHandle();
}

bool rewindFile(const FileHandle& file)
{
    return ::lseek(file.fd(), 0, SEEK_SET) == 0;
}

FileHandle openForWriting(const char* path, bool create)
{
    return FileHandle(openRetrying(path, O_WRONLY | (create ? O_CREAT : 0)));
}

namespace {

// The folder part of path, a copy to be freed, or nullptr without memory:
// "." for a bare name, "/" for a name at the root.
char* folderOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return ::strdup(".");
    return ::strndup(path, slash == path ? 1 : static_cast<std::size_t>(slash - path));
}

}  // namespace

namespace {

// Gives the file open in fd, which has no name, the name of a link in
// folder that no file has yet, and returns it (to be freed); nullptr when
// it cannot.  Through /proc where the system has it, otherwise as the
// privileged may.
char* nameUnnamedFile(int fd, const char* folder)
{
    const std::size_t size = std::strlen(folder) + 64;
    char* name = static_cast<char*>(std::malloc(size));
    char open[40];
    std::snprintf(open, sizeof open, "/proc/self/fd/%d", fd);
    for (int attempt = 0; name != nullptr && attempt < 100; ++attempt) {
        std::snprintf(name, size, "%s/.tabfold-%ld-%d", folder, static_cast<long>(::getpid()), attempt);
        int linked = ::linkat(AT_FDCWD, open, AT_FDCWD, name, AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (linked != 0 && errno == ENOENT)
            linked = ::linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH);
#endif
        if (linked == 0)
            return name;
        if (errno != EEXIST)
            break;
    }
    std::free(name);
    return nullptr;
}

// Flushes the folder's entries to the disk; true where the folder takes no
// flush.
bool flushFolder(const char* folder)
{
    const int fd = openRetrying(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
    return ::close(fd) == 0 && flushed;
}

}  // namespace

Replacement::~Replacement()
{
    if (name_ != nullptr)
        ::unlink(name_);
    std::free(name_);
    std::free(target_);
}

FileHandle Replacement::open(const char* path, const FileHandle& existing)
{
    // The file replaced is the one open in existing, wherever links lead.
    struct stat named, open;
    target_ = ::realpath(path, nullptr);
    if (target_ == nullptr || ::stat(target_, &named) != 0 || ::fstat(existing.fd(), &open) != 0 ||
        named.st_dev != open.st_dev || named.st_ino != open.st_ino)
        return FileHandle();
    char* folder = folderOf(target_);
    if (folder == nullptr)
        return FileHandle();
    int fd = -1;
#ifdef O_TMPFILE
    fd = openRetrying(folder, O_WRONLY | O_TMPFILE);  // a file without a name, until it is whole
#endif
    const std::size_t size = std::strlen(folder) + sizeof "/.tabfold-XXXXXX";
    if (fd < 0 && (name_ = static_cast<char*>(std::malloc(size))) != nullptr) {
        std::snprintf(name_, size, "%s/.tabfold-XXXXXX", folder);
        fd = ::mkostemp(name_, O_CLOEXEC);
        if (fd < 0) {
            std::free(name_);
            name_ = nullptr;
        }
    }
    std::free(folder);
    return FileHandle(fd);
}

bool Replacement::commit(FileHandle file, FileHandle existing)
{
    // The replaced file's owner, where this process may give it, then its
    // mode (a change of owner may clear the mode's set-id bits).
    struct stat replaced;
    if (::fsync(file.fd()) != 0 || ::fstat(existing.fd(), &replaced) != 0)
        return false;
    [[maybe_unused]] const bool owned = ::fchown(file.fd(), replaced.st_uid, replaced.st_gid) == 0 ||
                                        ::fchown(file.fd(), static_cast<uid_t>(-1), replaced.st_gid) == 0;
    ::fchmod(file.fd(), replaced.st_mode & 07777);
    char* folder = folderOf(target_);
    if (name_ == nullptr && folder != nullptr)
        name_ = nameUnnamedFile(file.fd(), folder);
    const bool replacedWhole = folder != nullptr && name_ != nullptr && file.close() &&
                               ::rename(name_, target_) == 0;
    if (replacedWhole) {
        std::free(name_);  // it is the new spare file's name now
        name_ = nullptr;
    }
    const bool flushed = replacedWhole && flushFolder(folder);
    std::free(folder);
    return existing.close() && flushed;
}

bool folderTakesFiles(const char* path)
{
    char* folder = folderOf(path);
    const bool takes = folder != nullptr && ::access(folder, W_OK | X_OK) == 0;
    std::free(folder);
    return takes;
}

Lock lockExclusively(const FileHandle& file)
{
    int locked;
    do
        locked = ::flock(file.fd(), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0)
        return Lock::Taken;
    return errno == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::Unsupported;
}

bool emptyFile(const FileHandle& file)
{
    return ::ftruncate(file.fd(), 0) == 0;
}

namespace {

// True when a call on the stream open as fd that failed with the error
// may be made again: it was broken off by a signal, or the stream, which
// another program made non-blocking, had no bytes yet, and now has some or
// has ended.
bool mayRetry(int fd, int error)
{
    if (error == EINTR)
        return true;
    if (error != EAGAIN && error != EWOULDBLOCK)
        return false;
    struct pollfd readable = {fd, POLLIN, 0};
    return ::poll(&readable, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

std::ptrdiff_t readSome(const FileHandle& file, char* bytes, std::size_t count)
{
    for (;;) {
        const ssize_t got = ::read(file.fd(), bytes, count);
        if (got >= 0)
            return got;
        if (!mayRetry(file.fd(), errno))
            return -1;
    }
}

std::ptrdiff_t moveFromStream(const FileHandle& from, const FileHandle& to, std::size_t count)
{
#ifdef SPLICE_F_MOVE
    for (;;) {
        const ssize_t moved = ::splice(from.fd(), nullptr, to.fd(), nullptr, count, SPLICE_F_MOVE);
        if (moved >= 0)
            return moved;
        // The stream is no pipe, the file takes no splice, or the system
        // (an emulator) has none.
        if (errno == EINVAL || errno == ENOSYS)
            return kCannotMove;
        if (!mayRetry(from.fd(), errno))
            return -1;
    }
#else
    (void)from, (void)to, (void)count;
    return kCannotMove;
#endif
}

std::ptrdiff_t readFromStart(const FileHandle& file, char* bytes, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(file.fd(), bytes + done, count - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(done);
}

std::ptrdiff_t writeSome(const FileHandle& file, const char* bytes, std::size_t count)
{
    ssize_t wrote;
    do
        wrote = ::write(file.fd(), bytes, count);
    while (wrote < 0 && errno == EINTR);
    return wrote;
}
