#include "spare_file.hpp"

#include "scanner.hpp"
#include "vectors.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

namespace {

constexpr char kNewFileHeader[] = "        DS3\nN1  N2  LINK#\n";

// A record line is put together in words of eight characters, the first in
// the lowest byte, and stored whole: a store may reach up to eight
// characters past the end of what it writes.
using vectors::storeWord;
using vectors::Word;

// "000" to "999": the three decimal digits of every value below 1000, the
// first in the lowest byte.
constexpr auto kThreeDigits = [] {
    std::array<std::uint32_t, 1000> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value)
        table[value] = ('0' + value / 100) | ('0' + value / 10 % 10) << 8 | ('0' + value % 10) << 16;
    return table;
}();

// The decimal digits of a value below 1000000, in a word, and how many.
struct Digits {
    Word word;
    int count;
};

constexpr Digits digitsOf(std::uint32_t value)
{
    const int count = 1 + (value >= 10) + (value >= 100) + (value >= 1000) +
                      (value >= 10000) + (value >= 100000);
    const Word sixDigits = kThreeDigits[value / 1000] | Word{kThreeDigits[value % 1000]} << 24;
    return {sixDigits >> (8 * (6 - count)), count};  // the leading zeros dropped
}

// "0   " to "999 ": every value below 1000 as "%-3d " writes it, the first
// character in the lowest byte.
constexpr auto kPaddedFields = [] {
    std::array<std::uint32_t, 1000> table{};
    for (std::uint32_t value = 0; value < table.size(); ++value) {
        const Digits digits = digitsOf(value);
        table[value] = static_cast<std::uint32_t>(digits.word | Word{0x20202020} << (8 * digits.count));
    }
    return table;
}();

// Writes the decimal digits of magnitude at out and returns their end.
char* putDigits(char* out, std::uint32_t magnitude)
{
    if (magnitude < 1000000) {
        const Digits digits = digitsOf(magnitude);
        storeWord(out, digits.word);
        return out + digits.count;
    }
    // Up to four digits, then six (a 32-bit magnitude has at most ten).
    const Digits high = digitsOf(magnitude / 1000000);
    const std::uint32_t low = magnitude % 1000000;
    storeWord(out, high.word);
    storeWord(out + high.count, kThreeDigits[low / 1000] | Word{kThreeDigits[low % 1000]} << 24);
    return out + high.count + 6;
}

// Writes value as "%d" does and returns the end.
char* putInteger(char* out, std::int32_t value)
{
    if (value >= 0)
        return putDigits(out, static_cast<std::uint32_t>(value));
    *out = '-';
    return putDigits(out + 1, 0u - static_cast<std::uint32_t>(value));
}

// Writes value as "%-3d " does and returns the end: the digits, blanks up
// to three characters, and one blank.
char* putPaddedField(char* out, std::int32_t value)
{
    if (value >= 0 && value < 1000) {
        storeWord(out, kPaddedFields[static_cast<std::size_t>(value)]);
        return out + 4;
    }
    char* const digitsEnd = putInteger(out, value);
    storeWord(digitsEnd, 0x2020202020202020);  // the blanks
    return std::max(digitsEnd, out + 3) + 1;
}

// Writes value as "%d\n" does and returns the end.
char* putLastField(char* out, std::int32_t value)
{
    if (value >= 0 && value < 1000000) {
        const Digits digits = digitsOf(static_cast<std::uint32_t>(value));
        storeWord(out, digits.word | Word{'\n'} << (8 * digits.count));
        return out + digits.count + 1;
    }
    char* end = putInteger(out, value);
    *end++ = '\n';
    return end;
}

// The fast paths read a whole window from the block and the line buffer.
static_assert(InputFile::kReadAhead >= kScanWindow);
static_assert(LineBuffer::kSize >= kScanReadable);

// readLinePiece when the piece ends with a newline among the first
// kScanWindow characters of the block.
bool readShortPiece(InputFile& in, LineBuffer& line)
{
    const std::size_t length = copyShortPiece(in.data(), in.available(), line.text);
    if (length == 0)
        return false;
    line.length = length;
    in.consume(length);
    return true;
}

}  // namespace

std::size_t formatSpareRecord(const SpareRecord& record, char* out)
{
    char* p = putPaddedField(out, record.N1);
    p = putPaddedField(p, record.N2);
    p = putLastField(p, record.LINK);
    return static_cast<std::size_t>(p - out);
}

ReadResult readLinePiece(InputFile& in, LineBuffer& line)
{
    if (readShortPiece(in, line))
        return ReadResult::Piece;
    std::size_t length = 0;
    bool sawNewline = false;
    while (length < LineBuffer::kMaxPieceLength && !sawNewline) {
        if (in.available() == 0 && !in.refill())
            break;
        const std::size_t room = LineBuffer::kMaxPieceLength - length;
        const std::size_t span = std::min(in.available(), room);
        const char* newline = static_cast<const char*>(std::memchr(in.data(), '\n', span));
        sawNewline = newline != nullptr;
        const std::size_t take = sawNewline ? static_cast<std::size_t>(newline + 1 - in.data()) : span;
        std::memcpy(line.text + length, in.data(), take);
        in.consume(take);
        length += take;
    }
    line.text[length] = '\0';
    line.length = length;
    if (in.failed())
        return ReadResult::Error;
    return length > 0 ? ReadResult::Piece : ReadResult::End;
}

bool skipHeaderLines(InputFile& in, LineBuffer& line)
{
    readLinePiece(in, line);
    return readLinePiece(in, line) != ReadResult::Error;  // a read error sticks
}

void parseLeftRecord(const LineBuffer& line, SpareRecord& record)
{
    std::int32_t* const fields[] = {&record.N1, &record.N2, &record.LINK};
    scanPiece(line.text, line.length, std::end(line.text), 0, fields, 3);
}

void parseRightRecord(const LineBuffer& line, SpareRecord& record)
{
    // The first three integers belong to the left record and are dropped.
    std::int32_t* const fields[] = {&record.N1, &record.N2, &record.LINK};
    scanPiece(line.text, line.length, std::end(line.text), 3, fields, 3);
}

bool writeNewFileHeader(OutputFile& out)
{
    return out.put(kNewFileHeader, sizeof kNewFileHeader - 1);
}

bool writeSpareRecord(OutputFile& out, const SpareRecord& record)
{
    char* room = out.reserve(kMaxRecordLineLength + kRecordLineSlack);
    if (room == nullptr)
        return false;
    out.commit(formatSpareRecord(record, room));
    return true;
}
