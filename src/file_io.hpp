// Buffered reading and writing on plain file descriptors.
//
// The conversion needs what the C library's streams do not give cleanly:
// every failed write must be seen, a read error must be told apart from the
// end of the file, and the line reader and the record writer want direct
// access to large buffers.  These two small classes do only that, in fixed
// buffers, so that memory use never depends on the size of a file.
#ifndef TABFOLD_FILE_IO_HPP
#define TABFOLD_FILE_IO_HPP

#include <array>
#include <cstddef>

// Reads a file descriptor in large blocks; the caller takes bytes from the
// block with available()/consume() and asks for the next with refill().
// Each read asks for readSize bytes, kBlockSize unless a test wants blocks
// to end at other places.
class InputFile {
public:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    // How many bytes past available() may always be read: they are zero.
    static constexpr std::size_t kReadAhead = 128;

    explicit InputFile(int fd, std::size_t readSize = kBlockSize)
        : fd_(fd), readSize_(readSize >= 1 && readSize <= kBlockSize ? readSize : kBlockSize)
    {
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // The bytes read but not yet consumed.
    const char* data() const { return block_.data() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Reads the next block once the current one is used up; false at the
    // end of the file or on a read error (then failed() is true).
    bool refill();
    bool failed() const { return failed_; }

private:
    int fd_;
    std::size_t readSize_;
    std::array<char, kBlockSize + kReadAhead> block_;  // not cleared: that costs page faults
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

// Collects output in a large buffer and writes it with write(2), retrying
// short writes.  Once a write has failed, every later call fails too.
class OutputFile {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;

    explicit OutputFile(int fd) : fd_(fd) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Appends count bytes, at most kBufferSize; false when a write has failed.
    bool put(const char* bytes, std::size_t count);
    // Room for count bytes (at most kBufferSize) at the end of the buffer, to
    // be filled and then appended with commit(); nullptr when a write has
    // failed.
    char* reserve(std::size_t count)
    {
        if (count <= buffer_.size() - used_ && !failed_)
            return buffer_.data() + used_;
        return flushForRoom(count);
    }
    // Appends count bytes of the room that reserve() gave.
    void commit(std::size_t count) { used_ += count; }
    // Writes out everything buffered; false when a write has failed.
    bool flush();
    // Flushes and closes the descriptor; false when either failed.
    bool close();

private:
    char* flushForRoom(std::size_t count);
    bool writeAll(const char* bytes, std::size_t count);

    int fd_;
    std::array<char, kBufferSize> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

#endif
