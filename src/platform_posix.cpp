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

// The socket that path names as /dev/stdin or /dev/fd/N, which Linux does
// not open by those names: that descriptor of the process, duplicated; -1
// when path names no socket of the process.
int duplicateNamedSocket(const char* path)
{
    const char* digits = std::strcmp(path, "/dev/stdin") == 0    ? "0"
                         : std::strncmp(path, "/dev/fd/", 8) == 0 ? path + 8
                                                                  : nullptr;
    struct stat named, open;
    if (digits == nullptr || ::stat(path, &named) != 0)
        return -1;
    const long fd = std::strtol(digits, nullptr, 10);
    if (fd < 0 || fd > 1'000'000 || ::fstat(static_cast<int>(fd), &open) != 0 || !S_ISSOCK(open.st_mode) ||
        open.st_dev != named.st_dev || open.st_ino != named.st_ino)
        return -1;
    return ::fcntl(static_cast<int>(fd), F_DUPFD_CLOEXEC, 0);
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
    return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ? FileKind::Stream : FileKind::Other;
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

FileHandle openStream(const char* path)
{
    int fd = openRetrying(path, O_RDONLY);
    if (fd < 0 && errno == ENXIO)
        fd = duplicateNamedSocket(path);
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

FileHandle openForWriting(const char* path)
{
    return FileHandle(openRetrying(path, O_WRONLY | O_CREAT));
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
