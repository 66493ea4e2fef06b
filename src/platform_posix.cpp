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
#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif
#include <unistd.h>
#include <algorithm>
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

// Opens path, relative to the folder open as at, with the flags, retrying
// an opening that a signal broke off; a file made has the mode, less the
// process's mask.
int openAtRetrying(int at, const char* path, int flags, mode_t mode = 0666)
{
    int fd;
    do
        fd = ::openat(at, path, flags | O_CLOEXEC, mode);
    while (fd == -1 && errno == EINTR);
    return fd;
}

int openRetrying(const char* path, int flags)
{
    return openAtRetrying(AT_FDCWD, path, flags);
}

#ifdef O_TMPFILE
// True when error, of an opening with O_TMPFILE, says that the file system
// (or a kernel before 3.11) makes no file without a name, rather than that
// the folder refuses a new file.
bool makesNoUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}
#endif

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
    if (digits == nullptr)
        return -1;
    // (A path that names no open descriptor is no file, nor one whose digits
    // the system does not take as a number, with a sign or a leading zero;
    // one with more after the digits is no FIFO or socket.)
    const long fd = std::strtol(digits, nullptr, 10);
    struct stat named, open;
    if (::stat(path, &named) != 0 || ::fstat(static_cast<int>(fd), &open) != 0 || open.st_dev != named.st_dev ||
        open.st_ino != named.st_ino)
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

bool pathsOfWindows()
{
    return false;
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
    if (fd == -1 && errno == EWOULDBLOCK) {
        struct stat info;
        if (::stat(path, &info) == 0 && S_ISREG(info.st_mode))
            fd = openRetrying(path, O_RDONLY);
    }
    if (fd != -1)
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

bool printOnConsole(const char*, std::size_t)
{
    return false;  // (no such console)
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
    const int fd = own != -1 ? ::fcntl(own, F_DUPFD_CLOEXEC, 0) : openRetrying(path, O_RDONLY);
#ifdef F_SETPIPE_SZ
    // A pipe of Linux holds 64 KiB; the most it may hold without privileges,
    // 1 MiB by default, takes a quarter of the reads and of the waits on the
    // writer.  (A mere wish: where it fails, the pipe stays as it was.)
    if (fd != -1)
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
    if (fd != -1 || !makesNoUnnamedFiles(errno))
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

// Opens into folder the folder that holds the file that path names, or
// would hold it, links followed one by one, and returns the file's name in
// it, a copy to be freed; nullptr, errno saying why, when it cannot.  No path longer than
// path or a link's text is made.
char* openFolderOfFile(const char* path, FileHandle& folder)
{
    constexpr int kMostLinks = 40;
    char* name = ::strdup(path);  // the path, then each link's text
    char text[4096];  // a link's text; one that fills it (FUSE's may, on 64 KiB pages) is refused
    for (int links = 0; name != nullptr; ++links) {
        char* within = folderOf(name);
        const int fd = within == nullptr ? -1 : openAtRetrying(folder.isOpen() ? folder.fd() : AT_FDCWD, within,
                                                                O_RDONLY | O_DIRECTORY);
        std::free(within);
        if (fd == -1)
            break;
        folder = FileHandle(fd);
        const char* slash = std::strrchr(name, '/');
        const char* base = slash == nullptr ? name : slash + 1;
        const ssize_t length = ::readlinkat(fd, base, text, sizeof text);
        if (length == -1 && (errno == EINVAL || errno == ENOENT)) {  // no link: the file, or where it would be
            char* found = ::strdup(base);
            std::free(name);
            return found;
        }
        if (length == -1)
            break;
        errno = links == kMostLinks ? ELOOP : ENAMETOOLONG;  // should the walk end here
        if (links == kMostLinks || static_cast<std::size_t>(length) == sizeof text)
            break;
        std::free(name);
        name = ::strndup(text, static_cast<std::size_t>(length));
    }
    std::free(name);
    return nullptr;
}

// True when the file named name in the folder open as folder is the one
// that info describes.
bool named(int folder, const char* name, const struct stat& info)
{
    struct stat found;
    return ::fstatat(folder, name, &found, AT_SYMLINK_NOFOLLOW) == 0 && found.st_dev == info.st_dev &&
           found.st_ino == info.st_ino;
}

// Every signal that may be caught held back while it lives, so that none
// ends the process between two steps that must go together.
class HeldSignals {
public:
    HeldSignals()
    {
        sigset_t all;
        ::sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &before_);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }

private:
    sigset_t before_;
};

// The one file that a signal ending the process takes away with it: a
// replacement that has a name before it is whole, as where the file system
// has no files without one.  A signal handler can know of it only here;
// it is set and cleared only while signals are held.
struct {
    int folder = -1;
    const char* name = nullptr;
} removedOnSignal;

// Takes the file away, then ends the process by the signal, as it would
// have ended without the handler.
void removeAndEnd(int signal)
{
    if (removedOnSignal.name != nullptr)
        ::unlinkat(removedOnSignal.folder, removedOnSignal.name, 0);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Sets the file that a signal ending the process takes away: name in the
// folder open as folder, or none when name is nullptr; the first call
// gives the signals that end a process the handler.  To be called while
// signals are held.
void removeOnSignal(int folder, const char* name)
{
    static bool handled = false;
    const auto handle = [](int signal) {
        struct sigaction before, action = {};
        action.sa_handler = removeAndEnd;
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    };
    // Every signal whose default ends the process, those of a fault among
    // them, which another program may send as well (a fault of the program
    // itself comes back once the handler returns, and ends it then).
    if (!handled) {
        for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM,
                                 SIGPROF, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
            handle(signal);
#ifdef SIGRTMIN
        for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
            handle(signal);
#endif
#ifdef __linux__
        for (const int signal : {SIGPWR, SIGIO, SIGSTKFLT})
            handle(signal);
#endif
    }
    handled = true;
    removedOnSignal = {folder, name};
}

// The room for a name beside the file: ".tabfold-", a long's 20 digits, a
// dash, an attempt's digits (two at most) and the NUL.
constexpr std::size_t kNameSize = 40;

// The name of the replacement in the folder, for the attempt.
void nameFor(char* name, int attempt)
{
    std::snprintf(name, kNameSize, ".tabfold-%ld-%d", static_cast<long>(::getpid()), attempt);
}

// Makes a new file in the folder open as folder, with a name that no file
// has yet, which it puts in name (of kNameSize characters); -1 when it cannot.
int makeNamedFile(int folder, char* name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        nameFor(name, attempt);
        const HeldSignals held;
        const int fd = openAtRetrying(folder, name, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd != -1) {
            removeOnSignal(folder, name);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Gives the file open as fd, which has no name, a name in the folder open
// as folder that no file has yet, which it puts in name (of kNameSize
// characters); false when it cannot.  Through /proc where the system has
// it, otherwise as the privileged may.
bool nameUnnamedFile(int fd, int folder, char* name)
{
    char open[40];
    std::snprintf(open, sizeof open, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        nameFor(name, attempt);
        int linked = ::linkat(AT_FDCWD, open, folder, name, AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (linked != 0 && errno == ENOENT)
            linked = ::linkat(fd, "", folder, name, AT_EMPTY_PATH);
#endif
        if (linked == 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    return false;
}

#ifdef __linux__
// The extended attribute that holds a file's access control list.
constexpr const char* kAccessList = "system.posix_acl_access";

// The rights of the group class that the access control list, as its
// attribute holds it (a version of four bytes, then entries of a tag of
// two, rights of two and an id of four, all little-endian), grants the
// file's group: the group's own, within the list's mask.
mode_t groupRights(const unsigned char* list, std::size_t size)
{
    constexpr unsigned kGroup = 0x04, kMask = 0x10;
    unsigned group = 0, mask = 07;
    for (std::size_t at = 4; at + 8 <= size; at += 8) {
        const unsigned tag = list[at] | list[at + 1] << 8, rights = (list[at + 2] | list[at + 3] << 8) & 07;
        group = tag == kGroup ? rights : group;
        mask = tag == kMask ? rights : mask;
    }
    return static_cast<mode_t>((group & mask) << 3);
}

// Gives the file open as to the extended attributes of the file open as
// from, what the system lets it set; an access control list that cannot be
// set leaves mode's group only the rights it granted, and one that the new
// file took from its folder is taken away.  False when an access control
// list would grant what the file's did not.
bool carryAttributes(int to, int from, mode_t& mode)
{
    constexpr std::size_t kLargestValue = 65536;  // the system's limit
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0 && errno != ENOTSUP)
        return false;
    // One block: a value, then the names.
    const std::size_t namesSize = static_cast<std::size_t>(std::max<ssize_t>(size, 0));
    char* const value = static_cast<char*>(std::malloc(kLargestValue + namesSize));
    char* const names = value + kLargestValue;
    // (Names added since the first call make the list too long for it.)
    const ssize_t listed = size <= 0 || value == nullptr ? 0 : ::flistxattr(from, names, namesSize);
    bool read = value != nullptr && listed >= 0, listCarried = false;
    for (const char* name = names; read && name < names + listed; name += std::strlen(name) + 1) {
        const ssize_t length = ::fgetxattr(from, name, value, kLargestValue);
        const bool list = std::strcmp(name, kAccessList) == 0;
        read = length >= 0 || (!list && errno == ENODATA);  // (one taken away since is gone)
        const bool carried = length >= 0 && ::fsetxattr(to, name, value, static_cast<std::size_t>(length), 0) == 0;
        if (list && read && !carried)
            mode &= ~S_IRWXG | groupRights(reinterpret_cast<unsigned char*>(value), static_cast<std::size_t>(length));
        listCarried = listCarried || (list && carried);
    }
    std::free(value);
    return read && (listCarried || ::fremovexattr(to, kAccessList) == 0 || errno == ENODATA || errno == ENOTSUP);
}
#else
bool carryAttributes(int, int, mode_t&)
{
    return true;
}
#endif

// Gives the file open as to the owner (where the process may), the
// extended attributes and the mode of the file that replaced describes,
// open as from: without the set-user-id or set-group-id bit where the
// owner or the group could not be kept, and never with a right that the
// file did not grant.  False when that cannot be.
bool carryMetadata(int to, int from, const struct stat& replaced)
{
    // (The group alone where the owner cannot be kept.  Only a change that
    // did not fail tells that the group is the file's: in a user namespace,
    // every group it does not map has the same number.)
    const bool grouped = ::fchown(to, replaced.st_uid, replaced.st_gid) == 0 ||
                         ::fchown(to, static_cast<uid_t>(-1), replaced.st_gid) == 0;
    struct stat made;
    mode_t mode = replaced.st_mode & 07777;
    if (::fstat(to, &made) != 0 || !carryAttributes(to, from, mode))
        return false;
    // Another owner or group gets no set-id bit, and the group none of the
    // rights that the file's own had.
    mode &= made.st_uid == replaced.st_uid ? 07777 : ~S_ISUID;
    mode &= grouped && made.st_gid == replaced.st_gid ? 07777 : ~(S_ISGID | S_IRWXG);
    ::fchmod(to, mode);  // (where it fails, the check below tells)
    return ::fstat(to, &made) == 0 && (made.st_mode & 07777 & ~mode) == 0;
}

// True when the process may do to any file what its owner may (on Linux,
// when it has the capability CAP_FOWNER; elsewhere, when it is root).
bool actsAsAnyOwner()
{
#ifdef __linux__
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[2] = {};
    return ::syscall(SYS_capget, &header, sets) == 0 && (sets[0].effective & (1u << CAP_FOWNER)) != 0;
#else
    return ::geteuid() == 0;
#endif
}

// True when the system lets a file be renamed over the one named name in
// the folder open as folder, which info describes, as far as it tells
// before: not in a folder where only owners may do so (sticky) a file of
// another owner (EPERM), nor a mount point (EBUSY); false, errno saying
// why, otherwise.
bool mayRenameOver(int folder, const char* name, const struct stat& info)
{
    struct stat within;
    const uid_t user = ::geteuid();
    errno = EPERM;
    if (::fstat(folder, &within) == 0 && (within.st_mode & S_ISVTX) != 0 && user != info.st_uid &&
        user != within.st_uid && !actsAsAnyOwner())
        return false;
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx file;
    errno = EBUSY;
    if (::statx(folder, name, AT_SYMLINK_NOFOLLOW, 0, &file) == 0 && (file.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0)
        return false;
#else
    (void)name;
#endif
    return true;
}

// Puts the file named name in the folder open as folder in the place of the
// one named target, if that is still the file that info describes, and
// returns how that ended.  Where the system can, the two are exchanged, and
// the one that comes out is taken away, or, being another, put back: no
// other program can slip a file in between.  Elsewhere target is looked at
// first, then renamed over.
Commit putInPlace(int folder, const char* name, const char* target, const struct stat& info)
{
#ifdef RENAME_EXCHANGE
    if (::renameat2(folder, name, folder, target, RENAME_EXCHANGE) == 0) {
        if (!named(folder, name, info)) {
            ::renameat2(folder, name, folder, target, RENAME_EXCHANGE);
            return Commit::Replaced;
        }
        ::unlinkat(folder, name, 0);  // (the conversion is in place whatever comes of it)
        return Commit::Done;
    }
#endif
    if (!named(folder, target, info))
        return Commit::Replaced;
    return ::renameat(folder, name, folder, target) == 0 ? Commit::Done : Commit::Failed;
}

// Flushes the entries of the folder open as fd to the disk; true where the
// folder takes no flush.
bool flushFolder(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL;
}

}  // namespace

Replacement::~Replacement()
{
    if (name_ != nullptr) {
        const HeldSignals held;
        ::unlinkat(folder_.fd(), name_, 0);
        removeOnSignal(-1, nullptr);
    }
    std::free(name_);
    std::free(target_);
}

FileHandle Replacement::open(const char* path, const FileHandle& existing, int& error)
{
    // The file replaced is the one open in existing, wherever links lead.
    struct stat replaced;
    target_ = openFolderOfFile(path, folder_);
    error = errno;
    if (target_ == nullptr || ::fstat(existing.fd(), &replaced) != 0)
        return FileHandle();
    // (A file that lost its name, open in a descriptor that the path names,
    // has none to be replaced at.)
    error = ENOENT;
    if (!named(folder_.fd(), target_, replaced))
        return FileHandle();
    if (!mayRenameOver(folder_.fd(), target_, replaced)) {
        error = errno;
        return FileHandle();
    }
    int fd = -1;
#ifdef O_TMPFILE
    // A file without a name, until it is whole, where the file system can.
    fd = openAtRetrying(folder_.fd(), ".", O_WRONLY | O_TMPFILE, 0600);
    const bool unnamed = fd != -1 || !makesNoUnnamedFiles(errno);
#else
    const bool unnamed = false;
#endif
    if (!unnamed && (name_ = static_cast<char*>(std::malloc(kNameSize))) != nullptr) {
        fd = makeNamedFile(folder_.fd(), name_);
        if (fd == -1)
            std::free(std::exchange(name_, nullptr));
    }
    error = fd == -1 ? errno : 0;
    return FileHandle(fd);
}

Commit Replacement::commit(FileHandle file, FileHandle existing)
{
    struct stat replaced;
    if (::fsync(file.fd()) != 0 || ::fstat(existing.fd(), &replaced) != 0 ||
        !carryMetadata(file.fd(), existing.fd(), replaced))
        return Commit::Failed;
    Commit end = Commit::Failed;
    {
        const HeldSignals held;
        if (name_ == nullptr && (name_ = static_cast<char*>(std::malloc(kNameSize))) != nullptr &&
            !nameUnnamedFile(file.fd(), folder_.fd(), name_))
            std::free(std::exchange(name_, nullptr));
        if (name_ != nullptr && file.close())
            end = putInPlace(folder_.fd(), name_, target_, replaced);
        if (name_ != nullptr) {
            if (end != Commit::Done)
                ::unlinkat(folder_.fd(), name_, 0);
            removeOnSignal(-1, nullptr);
        }
        std::free(std::exchange(name_, nullptr));  // the new spare file's name now, or gone
    }
    const bool flushed = end == Commit::Done && flushFolder(folder_.fd());
    return existing.close() && flushed ? Commit::Done : end == Commit::Done ? Commit::Failed : end;
}

bool folderTakesFiles(const char* path)
{
    FileHandle folder;
    char* name = openFolderOfFile(path, folder);
    const bool takes = name != nullptr && ::faccessat(folder.fd(), ".", W_OK | X_OK, 0) == 0;
    std::free(name);
    return takes;
}

bool namesOpenFile(const char* path, const FileHandle& file)
{
    struct stat named, open;
    return ::stat(path, &named) == 0 && ::fstat(file.fd(), &open) == 0 && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
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

// A file already empty is left as it is: ext4 takes a truncation to 0 for
// the sign of a file being rewritten, and writes the file out when it is
// closed, which the program would then wait for (5% of a conversion's
// time), with no earlier data to keep.
bool emptyFile(const FileHandle& file)
{
    FileFacts facts;
    return (describeOpenFile(file, facts) && facts.size == 0) || ::ftruncate(file.fd(), 0) == 0;
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
    return ::poll(&readable, 1, -1) != -1 || errno == EINTR;
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
