// Buffered reading and writing on open files.
//
// The conversion needs what the C library's streams do not give cleanly:
// every failed write must be seen, a read error must be told apart from the
// end of the file, the line reader and the record writer want direct
// access to large buffers, and the two readings of the old spare file must
// be shown to have read the same bytes.  These small classes do only that,
// in fixed buffers taken from the heap once each, so that memory use never
// depends on the size of a file, nor the stack on the buffers.
#ifndef TABFOLD_FILE_IO_HPP
#define TABFOLD_FILE_IO_HPP

#include "instructions.hpp"
#include "platform.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Memory for a buffer, from the C library and given back to it: the program
// needs nothing from the C++ runtime, which then is not loaded at all, and a
// run on a small file starts as fast as a C program's.
struct FreeMemory {
    void operator()(char* bytes) const { std::free(bytes); }
};
using Buffer = std::unique_ptr<char[], FreeMemory>;

// A buffer of size bytes, not cleared; empty when there is no memory for it.
inline Buffer allocateBuffer(std::size_t size)
{
    return Buffer(static_cast<char*>(std::malloc(size)));
}

// A fingerprint of a run of bytes, the same however the run is split: two
// running sums over the 64-bit lanes of each chunk of 64 bytes, the second
// summing the first, so that a byte changed, added, dropped or moved changes
// it but for rare cancellations.  A checksum, not a hash: fast enough to take
// of every byte read (XXH3 cost three times as much), and it guards against
// rewrites, not against someone who wants to fool it.
class Fingerprint {
public:
    static constexpr std::size_t kChunk = 64;

    explicit Fingerprint(Kernel kernel = chooseKernel());
    // Takes in count more bytes.
    void add(const char* bytes, std::size_t count);
    bool operator==(const Fingerprint& other) const;

private:
    static constexpr std::size_t kLanes = kChunk / sizeof(std::uint64_t);

    void addChunks(const char* chunks, std::size_t count);

    std::uint64_t sums_[kLanes] = {};
    std::uint64_t sumsOfSums_[kLanes] = {};
    char pending_[kChunk] = {};  // the start of a chunk still incomplete
    std::size_t pendingCount_ = 0;
    std::uint64_t total_ = 0;
    Kernel kernel_;
};

// Reads an open file in large blocks; the caller takes bytes from the block
// with available()/consume() and asks for the next with refill().  Each read
// asks for readSize bytes, kBlockSize unless a test wants blocks to end at
// other places.  Every byte read goes into the fingerprint that the caller
// gives, if it gives one.
class InputFile {
public:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    // How many bytes past available() may always be read: they are zero.
    static constexpr std::size_t kReadAhead = 128;

    explicit InputFile(FileHandle file = FileHandle(), std::size_t readSize = kBlockSize);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False when there was no memory for the block: then nothing reads.
    bool ready() const { return block_ != nullptr; }
    // Starts over on another file, from its position, in the same block,
    // adding what it reads to fingerprint, when there is one.
    void restart(FileHandle file, Fingerprint* fingerprint = nullptr);
    // The block, kBlockSize bytes, for another use while no file is read.
    char* scratch() { return block_.get(); }

    // The bytes read but not yet consumed.
    const char* data() const { return block_.get() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Reads the next block once the current one is used up; false at the
    // end of the file, or on a read error (then failed() is true).
    bool refill();
    bool failed() const { return failed_; }
    // The system's number of the error that failed a read, or 0.
    int error() const { return error_; }
    // Gives the file up, to be read again: the object reads no more.
    FileHandle release();

private:
    FileHandle file_;
    std::size_t readSize_;
    Buffer block_;  // not cleared: that costs page faults
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    int error_ = 0;
    Fingerprint* fingerprint_ = nullptr;
};

// Collects output in a large buffer and writes it out, retrying short
// writes.  Once a write has failed, every later call fails too.  What is
// still buffered when the object ends is written out then, so that a
// conversion that stops on a failure leaves all it converted.  Its buffer is
// taken when it is made, with a file or before one is given to it; without
// an open file every call fails.
class OutputFile {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;

    explicit OutputFile(FileHandle file = FileHandle());
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { flush(); }  // a failure here was, or will be, reported

    // False when there was no memory for the buffer: then nothing writes.
    bool ready() const { return buffer_ != nullptr; }
    // Starts writing the file, at its position, with the buffer empty.
    void attach(FileHandle file);

    // Appends count bytes, at most kBufferSize; false when a write has failed.
    bool put(const char* bytes, std::size_t count);
    // Room for count bytes (at most kBufferSize) at the end of the buffer, to
    // be filled and then appended with commit(); nullptr when a write has
    // failed.
    char* reserve(std::size_t count)
    {
        if (count <= kBufferSize - used_ && !failed_)
            return buffer_.get() + used_;
        return flushForRoom(count);
    }
    // Appends count bytes of the room that reserve() gave.
    void commit(std::size_t count) { used_ += count; }
    // Writes out everything buffered; false when a write has failed.
    bool flush();
    // Gives the file up, once flushed, to be read back: the object writes no more.
    FileHandle release();
    // How many bytes it wrote to the file since it was given.
    std::uint64_t written() const { return written_; }

private:
    char* flushForRoom(std::size_t count);
    bool writeAll(const char* bytes, std::size_t count);

    FileHandle file_;
    Buffer buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

#endif
