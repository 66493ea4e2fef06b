#include "file_io.hpp"

#include "platform.hpp"

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Four 64-bit lanes, added all at once: a chunk is two of them.
using Lanes = std::uint64_t __attribute__((vector_size(32)));
static_assert(2 * sizeof(Lanes) == Fingerprint::kChunk);

// Adds the count chunks at bytes into the two sums, each eight lanes wide.
__attribute__((always_inline)) inline void sumChunks(std::uint64_t* sums, std::uint64_t* sumsOfSums,
                                                     const char* bytes, std::size_t count)
{
    Lanes low, high, lowSums, highSums, lowBytes, highBytes;
    std::memcpy(&low, sums, sizeof low);
    std::memcpy(&high, sums + 4, sizeof high);
    std::memcpy(&lowSums, sumsOfSums, sizeof lowSums);
    std::memcpy(&highSums, sumsOfSums + 4, sizeof highSums);
    for (; count > 0; --count, bytes += Fingerprint::kChunk) {
        std::memcpy(&lowBytes, bytes, sizeof lowBytes);
        std::memcpy(&highBytes, bytes + sizeof lowBytes, sizeof highBytes);
        low += lowBytes;
        high += highBytes;
        lowSums += low;
        highSums += high;
    }
    std::memcpy(sums, &low, sizeof low);
    std::memcpy(sums + 4, &high, sizeof high);
    std::memcpy(sumsOfSums, &lowSums, sizeof lowSums);
    std::memcpy(sumsOfSums + 4, &highSums, sizeof highSums);
}

// sumChunks on the instructions that every processor of its kind has, and,
// on x86, compiled for AVX2, where it costs about 2% of a conversion's
// time.
void sumChunksBaseline(std::uint64_t* sums, std::uint64_t* sumsOfSums, const char* bytes, std::size_t count)
{
    sumChunks(sums, sumsOfSums, bytes, count);
}
#ifdef TABFOLD_SCAN_WITH_AVX2
__attribute__((target("avx2"))) void sumChunksAvx2(std::uint64_t* sums, std::uint64_t* sumsOfSums,
                                                   const char* bytes, std::size_t count)
{
    sumChunks(sums, sumsOfSums, bytes, count);
}
#endif

}  // namespace

Fingerprint::Fingerprint(Kernel kernel) : kernel_(kernel) {}

void Fingerprint::add(const char* bytes, std::size_t count)
{
    total_ += count;
    // The chunk begun before is filled first (from none, a whole chunk).
    const std::size_t taken = count < kChunk - pendingCount_ ? count : kChunk - pendingCount_;
    std::memcpy(pending_ + pendingCount_, bytes, taken);
    pendingCount_ += taken;
    bytes += taken;
    count -= taken;
    if (pendingCount_ < kChunk)
        return;
    addChunks(pending_, 1);
    addChunks(bytes, count / kChunk);
    pendingCount_ = count % kChunk;
    std::memcpy(pending_, bytes + count - pendingCount_, pendingCount_);
}

bool Fingerprint::operator==(const Fingerprint& other) const
{
    return total_ == other.total_ && std::memcmp(sums_, other.sums_, sizeof sums_) == 0 &&
           std::memcmp(sumsOfSums_, other.sumsOfSums_, sizeof sumsOfSums_) == 0 &&
           std::memcmp(pending_, other.pending_, pendingCount_) == 0;
}

void Fingerprint::addChunks(const char* chunks, std::size_t count)
{
#ifdef TABFOLD_SCAN_WITH_AVX2
    if (kernel_ == Kernel::Avx2)
        return sumChunksAvx2(sums_, sumsOfSums_, chunks, count);
#endif
    sumChunksBaseline(sums_, sumsOfSums_, chunks, count);
}

InputFile::InputFile(FileHandle file, std::size_t readSize)
    : file_(std::move(file)),
      readSize_(readSize),
      block_(allocateBuffer(kBlockSize + kReadAhead)),
      failed_(block_ == nullptr)
{
}

void InputFile::restart(FileHandle file, Fingerprint* fingerprint)
{
    file_ = std::move(file);
    begin_ = end_ = 0;
    ended_ = false;
    failed_ = block_ == nullptr;
    fingerprint_ = fingerprint;
}

bool InputFile::refill()
{
    if (ended_ || failed_)
        return false;
    const std::ptrdiff_t got = readSome(file_, block_.get(), readSize_);
    if (got <= 0) {
        ended_ = got == 0;
        failed_ = got < 0;
        error_ = failed_ ? errno : 0;
        return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(got);
    std::memset(block_.get() + end_, 0, kReadAhead);
    if (fingerprint_ != nullptr)
        fingerprint_->add(block_.get(), end_);
    return true;
}

FileHandle InputFile::release()
{
    ended_ = true;
    return std::move(file_);
}

OutputFile::OutputFile(FileHandle file)
    : file_(std::move(file)),
      buffer_(allocateBuffer(kBufferSize)),
      failed_(buffer_ == nullptr)
{
}

void OutputFile::attach(FileHandle file)
{
    file_ = std::move(file);
    used_ = 0;
    written_ = 0;
    failed_ = buffer_ == nullptr;
}

bool OutputFile::put(const char* bytes, std::size_t count)
{
    // A large run with nothing before it goes out as it is, uncopied.
    if (used_ == 0 && count >= kBufferSize / 4)
        return writeAll(bytes, count);
    char* room = reserve(count);
    if (room == nullptr)
        return false;
    std::memcpy(room, bytes, count);
    commit(count);
    return true;
}

char* OutputFile::flushForRoom(std::size_t count)
{
    if (count > kBufferSize - used_ && !flush())
        return nullptr;
    return failed_ ? nullptr : buffer_.get() + used_;
}

bool OutputFile::flush()
{
    const std::size_t pending = used_;
    used_ = 0;
    return writeAll(buffer_.get(), pending);
}

FileHandle OutputFile::release()
{
    failed_ = true;
    return std::move(file_);
}

bool OutputFile::writeAll(const char* bytes, std::size_t count)
{
    while (count > 0 && !failed_) {
        const std::ptrdiff_t wrote = writeSome(file_, bytes, count);
        if (wrote <= 0) {
            failed_ = true;
            break;
        }
        bytes += wrote;
        count -= static_cast<std::size_t>(wrote);
        written_ += static_cast<std::size_t>(wrote);
    }
    return !failed_;
}
