#include "spare_file.hpp"

#include <charconv>
#include <cstring>
#include <limits>

namespace {

constexpr char kNewFileHeader[] = "        DS3\nN1  N2  LINK#\n";

// True for the characters that isspace() accepts in the "C" locale.
bool isSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// Reads one integer at text, after any whitespace.  Returns the position
// just past it, or nullptr (value untouched) when there are no digits.
const char* scanInteger(const char* text, std::int32_t& value)
{
    // The magnitude of INT_MIN, one past INT_MAX.  Once a magnitude passes
    // it, further digits cannot change the result, so it stops growing.
    constexpr std::uint64_t kSaturated = std::uint64_t{1} << 31;

    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (isSpace(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (!isDigit(*p))
        return nullptr;
    std::uint64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        if (magnitude <= kSaturated)
            magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative)
        value = magnitude >= kSaturated ? std::numeric_limits<std::int32_t>::min()
                                        : -static_cast<std::int32_t>(magnitude);
    else
        value = magnitude >= kSaturated ? std::numeric_limits<std::int32_t>::max()
                                        : static_cast<std::int32_t>(magnitude);
    return reinterpret_cast<const char*>(p);
}

// Writes value in decimal, padded with blanks on the right to width.
char* putLeftJustified(char* out, std::int32_t value, std::ptrdiff_t width)
{
    char* end = std::to_chars(out, out + 11, value).ptr;
    while (end - out < width)
        *end++ = ' ';
    return end;
}

}  // namespace

int scanIntegers(const char* text, std::int32_t* fields, int count)
{
    for (int i = 0; i < count; ++i) {
        text = scanInteger(text, fields[i]);
        if (text == nullptr)
            return i;
    }
    return count;
}

std::size_t formatSpareRecord(const SpareRecord& record, char* out)
{
    char* p = putLeftJustified(out, record.N1, 3);
    *p++ = ' ';
    p = putLeftJustified(p, record.N2, 3);
    *p++ = ' ';
    p = putLeftJustified(p, record.LINK, 0);
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

ReadResult readLinePiece(InputFile& in, LineBuffer& line)
{
    std::size_t length = 0;
    bool sawNewline = false;
    while (length < LineBuffer::kMaxPieceLength && !sawNewline) {
        if (in.available() == 0 && !in.refill())
            break;
        const std::size_t room = LineBuffer::kMaxPieceLength - length;
        const std::size_t span = in.available() < room ? in.available() : room;
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
    std::int32_t fields[3] = {record.N1, record.N2, record.LINK};
    scanIntegers(line.text, fields, 3);
    record = {fields[0], fields[1], fields[2]};
}

void parseRightRecord(const LineBuffer& line, SpareRecord& record)
{
    // The first three integers belong to the left record and are dropped.
    std::int32_t fields[6] = {0, 0, 0, record.N1, record.N2, record.LINK};
    scanIntegers(line.text, fields, 6);
    record = {fields[3], fields[4], fields[5]};
}

bool writeNewFileHeader(OutputFile& out)
{
    return out.put(kNewFileHeader, sizeof kNewFileHeader - 1);
}

bool writeSpareRecord(OutputFile& out, const SpareRecord& record)
{
    char text[kMaxRecordLineLength];
    return out.put(text, formatSpareRecord(record, text));
}
