#include "file_io.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);  // a file only read has nothing to lose at close
}

bool InputFile::refill()
{
    if (ended_ || failed_)
        return false;
    ssize_t got;
    do {
        got = ::read(fd_, block_.data(), readSize_);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        ended_ = got == 0;
        failed_ = got < 0;
        return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(got);
    std::memset(block_.data() + end_, 0, kReadAhead);
    return true;
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);  // only reached on a failure path, already reported
}

bool OutputFile::put(const char* bytes, std::size_t count)
{
    char* room = reserve(count);
    if (room == nullptr)
        return false;
    std::memcpy(room, bytes, count);
    commit(count);
    return true;
}

char* OutputFile::flushForRoom(std::size_t count)
{
    if (count > buffer_.size() - used_ && !flush())
        return nullptr;
    return failed_ ? nullptr : buffer_.data() + used_;
}

bool OutputFile::flush()
{
    const std::size_t pending = used_;
    used_ = 0;
    return writeAll(buffer_.data(), pending);
}

bool OutputFile::close()
{
    const bool flushed = flush();
    const int closed = ::close(fd_);
    fd_ = -1;
    return flushed && closed == 0;
}

bool OutputFile::writeAll(const char* bytes, std::size_t count)
{
    while (count > 0 && !failed_) {
        const ssize_t wrote = ::write(fd_, bytes, count);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            failed_ = true;
            break;
        }
        bytes += wrote;
        count -= static_cast<std::size_t>(wrote);
    }
    return !failed_;
}
