// The platform layer on Linux and other POSIX systems.
#include "platform.hpp"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The facts that a stat call gave.
FileFacts factsOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            S_ISREG(info.st_mode)};
}

}  // namespace

void prepareProcess()
{
    std::signal(SIGPIPE, SIG_IGN);
}

char** argumentsInUtf8(int, char* argv[])
{
    return argv;
}

bool describePath(const char* path, FileFacts& facts)
{
    struct stat info;
    if (::stat(path, &info) != 0)
        return false;
    facts = factsOf(info);
    return true;
}

bool describeOpenFile(int fd, FileFacts& facts)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return false;
    facts = factsOf(info);
    return true;
}

int openForReading(const char* path)
{
    // Not blocking at the opening, in case the path names a FIFO; reads
    // then wait for data as usual.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int openForWriting(const char* path)
{
    return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

bool emptyFile(int fd)
{
    return ::ftruncate(fd, 0) == 0;
}

#if defined(__x86_64__) || defined(__i386__)
#if __has_include(<sys/platform/x86.h>)
// The header is written for C, whose name for bool C++ compilers need not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool

// The C library read the processor's features as it started the program:
// asking the processor again costs a trap into the hypervisor in a virtual
// machine, a tenth of a millisecond, as much as a small conversion.
bool processorHasAvx2()
{
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2) &&
           CPU_FEATURE_ACTIVE(POPCNT);
}
#else
bool processorHasAvx2()
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}
#endif
#endif
