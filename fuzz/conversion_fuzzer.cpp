// Fuzzes the whole conversion: arbitrary bytes as an old spare file,
// converted by the program's operations on line pieces alone, by the pass
// loop that converts plain lines straight from the block (with the widest
// instructions the processor has, and with the baseline ones), and by a
// plain reference that uses nothing but the C library's fgets (limit 255),
// sscanf ("%ld" fields, clamped to 32 bits) and snprintf ("%-3d %-3d %d\n").
// The first difference aborts.
//
// The first byte of an input chooses how many bytes each read of the old
// spare file asks for (0 for whole blocks), so that blocks end at every kind
// of place in a line; the other bytes are the file.
#include "file_io.hpp"
#include "plain_lines.hpp"
#include "spare_file.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Aborts with a message when a step that cannot fail in memory fails.
void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "fuzzer set-up failed: %s\n", what);
        std::abort();
    }
}

// A file in memory holding the bytes.
int memoryFile(const std::uint8_t* bytes, std::size_t size)
{
    const int fd = ::memfd_create("tabfold-fuzz", MFD_CLOEXEC);
    require(fd >= 0, "memfd_create");
    require(::write(fd, bytes, size) == static_cast<ssize_t>(size), "write");
    return fd;
}

// A new descriptor on the file, at its start.
int reopened(int fd)
{
    require(::lseek(fd, 0, SEEK_SET) == 0, "lseek");
    const int copy = ::dup(fd);
    require(copy >= 0, "dup");
    return copy;
}

// Everything in the file.
std::string contents(int fd)
{
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    require(::pread(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()), "pread");
    return text;
}

// How a conversion takes the line pieces.
enum class Way { Operations, PlainLines, PlainLinesBaseline };

// The conversion by the program's own code, reading readSize bytes at a time.
std::string convertWith(int oldFd, std::size_t readSize, Way way)
{
    const int newFd = ::memfd_create("tabfold-fuzz-new", MFD_CLOEXEC);
    require(newFd >= 0, "memfd_create");
    OutputFile newFile(reopened(newFd));
    LineBuffer line;
    require(writeNewFileHeader(newFile), "header");
    for (const Side side : {Side::Left, Side::Right}) {
        InputFile oldFile(reopened(oldFd), readSize);
        require(skipHeaderLines(oldFile, line), "skip");
        if (way != Way::Operations) {
            require(copyPieces(oldFile, newFile, side, line, way == Way::PlainLinesBaseline) == PassEnd::Done,
                    "pass");
            continue;
        }
        const auto parse = side == Side::Left ? parseLeftRecord : parseRightRecord;
        SpareRecord record;
        while (readLinePiece(oldFile, line) == ReadResult::Piece) {
            parse(line, record);
            require(writeSpareRecord(newFile, record), "record");
        }
    }
    require(newFile.close(), "close");
    std::string converted = contents(newFd);
    ::close(newFd);
    return converted;
}

std::int32_t clamped(long value)
{
    return static_cast<std::int32_t>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// The conversion as the C library's streams do it.
std::string convertReference(int oldFd)
{
    std::string converted = "        DS3\nN1  N2  LINK#\n";
    for (const bool right : {false, true}) {
        std::FILE* oldFile = ::fdopen(reopened(oldFd), "r");
        require(oldFile != nullptr, "fdopen");
        char line[256];
        for (int heading = 0; heading < 2; ++heading)
            if (std::fgets(line, 255, oldFile) == nullptr)
                break;
        long record[3] = {0, 0, 0};
        long dropped[3];
        while (std::fgets(line, 255, oldFile) != nullptr) {
            if (right)
                std::sscanf(line, "%ld %ld %ld %ld %ld %ld", &dropped[0], &dropped[1],
                            &dropped[2], &record[0], &record[1], &record[2]);
            else
                std::sscanf(line, "%ld %ld %ld", &record[0], &record[1], &record[2]);
            char text[64];
            const int length = std::snprintf(text, sizeof text, "%-3d %-3d %d\n", clamped(record[0]),
                                             clamped(record[1]), clamped(record[2]));
            converted.append(text, static_cast<std::size_t>(length));
            for (long& field : record)
                field = clamped(field);
        }
        std::fclose(oldFile);
    }
    return converted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t readSize = data[0] == 0 ? InputFile::kBlockSize : data[0];
    const int oldFd = memoryFile(data + 1, size - 1);
    const std::string reference = convertReference(oldFd);
    for (const Way way : {Way::Operations, Way::PlainLines, Way::PlainLinesBaseline}) {
        const std::string converted = convertWith(oldFd, readSize, way);
        if (converted != reference) {
            std::fprintf(stderr, "conversions differ (way %d, reads of %zu bytes)\n--- program:\n%s\n--- C library:\n%s\n",
                         static_cast<int>(way), readSize, converted.c_str(), reference.c_str());
            std::abort();
        }
    }
    ::close(oldFd);
    return 0;
}
