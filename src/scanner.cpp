#include "scanner.hpp"

#include "vectors.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

using namespace vectors;

// How many bytes of the word, from the first, lie between low and high.
int leadingBetween(Word word, unsigned low, unsigned high)
{
    return std::countr_zero(~bytesBetween(word, low, high) & kHighBits) / 8;
}

// How many bytes of the word, from the first, are whitespace.
int leadingSpaces(Word word)
{
    return std::countr_zero(~spaceBytes(word) & kHighBits) / 8;
}

// The characters of a piece shorter than the window, as bitmaps: bit i
// stands for character i.
struct PieceMaps {
    Word digits = 0;
    Word others = 0;  // neither whitespace nor digit: a sign, or the end of the scan
};

// Classifies the characters of a piece shorter than the window; those from
// length on count as others.
PieceMaps mapPiece(const char* text, std::size_t length)
{
    const ChunkClasses chunk = classifyChunk(text);
    PieceMaps maps;
    maps.others = ~(chunk.digits | chunk.spaces) | ~Word{0} << length;
    maps.digits = chunk.digits & ~maps.others;
    return maps;
}

// Where the scan of a short piece stops: at its first other character that
// is not a sign directly followed by a digit.
int stopOfPiece(const char* text, const PieceMaps& maps)
{
    Word others = maps.others;
    for (;;) {
        const int at = std::countr_zero(others);
        if (!isSign(text[at]) || (maps.digits >> (at + 1) & 1) == 0)
            return at;
        others &= others - 1;
    }
}

// True when the digits hold a run of more than eight.
bool hasLongRun(Word digits)
{
    Word runs = digits & digits >> 1;  // bit i: digits from i to i + 1
    runs &= runs >> 2;                 // ... to i + 3
    runs &= runs >> 4;                 // ... to i + 7
    return (runs & digits >> 8) != 0;  // ... to i + 8
}

// scanPiece for a piece shorter than the window, classified into maps, with
// no integer of more than eight digits.  Its integers are the runs of digits
// before the stop, each with the sign just before it.
int scanShortPiece(const char* text, const PieceMaps& maps, int skip,
                   std::int32_t* const* fields, int count)
{
    const int stop = stopOfPiece(text, maps);
    const Word signedDigits = maps.others << 1;  // before the stop, just after a sign
    Word starts = maps.digits & ~(maps.digits << 1) & ((Word{1} << stop) - 1);
    for (int i = 0; i < skip; ++i)
        starts &= starts - 1;
    int filled = 0;
    for (; filled < count && starts != 0; ++filled, starts &= starts - 1) {
        const int start = std::countr_zero(starts);
        const int digits = std::countr_one(maps.digits >> start);
        const auto value = static_cast<std::int32_t>(digitsValue(wordAt(text + start), digits));
        const bool negative = (signedDigits >> start) & 1 && text[start - 1] == kMinus;
        *fields[filled] = negative ? -value : value;
    }
    return filled;
}

// Reads one integer at p, after any whitespace, a word at a time, into
// found, with its place counted from text, and in begin where it begins
// (or would: past the whitespace).  Returns the position just past it, or
// nullptr (found untouched) when there are no digits.
const char* scanInteger(const char* text, const char* p, const char* limit, ScannedInteger& found,
                        const char*& begin)
{
    for (int spaces = 8; spaces == 8; p += spaces)
        spaces = leadingSpaces(loadWord(p, limit));
    begin = p;
    const bool negative = *p == kMinus;
    if (isSign(*p))
        ++p;
    int digits = 0;
    for (int more = 8; more == 8; digits += more)
        more = leadingBetween(loadWord(p + digits, limit), kFirstDigit, kLastDigit);
    if (digits == 0)
        return nullptr;
    const Word magnitude = magnitudeOf(p, digits, limit);
    found = {static_cast<std::size_t>(begin - text), static_cast<std::size_t>(p + digits - text),
             saturated(negative, magnitude), beyond32Bits(negative, magnitude)};
    return p + digits;
}

// scanPiece for a piece of any length, one integer after the other.
int scanLongPiece(const char* text, const char* limit, int skip,
                  std::int32_t* const* fields, int count)
{
    ScannedInteger found;
    const char* p = text;
    const char* begin;
    for (int i = 0; i < skip + count; ++i) {
        p = scanInteger(text, p, limit, found, begin);
        if (p == nullptr)
            return std::max(i, skip) - skip;
        if (i >= skip)
            *fields[i - skip] = found.value;
    }
    return count;
}

// scanIntegers for a piece whose scan stops within the window, classified
// at once: its integers are the runs of digits before the stop, each with
// the sign just before it.  Returns -1 when the stop lies past the window.
int scanWindowIntegers(const char* text, const char* limit, ScannedInteger* integers, int count,
                       ScanStopPoint* stop)
{
    const ChunkClasses chunk = classifyChunk(text);
    Word others = chunk.others;
    int at = 0;
    for (;; others &= others - 1) {
        at = std::countr_zero(others);  // 64 when there is none
        if (at >= 63)
            return -1;
        if (!isSign(text[at]) || (chunk.digits >> (at + 1) & 1) == 0)
            break;
    }
    Word starts = chunk.digits & ~(chunk.digits << 1) & ((Word{1} << at) - 1);
    int filled = 0;
    for (; filled < count && starts != 0; ++filled, starts &= starts - 1) {
        const int start = std::countr_zero(starts);
        const int digits = std::countr_one(chunk.digits >> start);
        // (The maps moved one place on: the character before the start.)
        const bool sign = (chunk.signs << 1) >> start & 1;
        const bool negative = (chunk.minuses << 1) >> start & 1;
        // (Within the window, eight characters past any digit are readable.)
        const Word magnitude = digits <= 8 ? digitsValue(wordAt(text + start), digits)
                                           : magnitudeOf(text + start, digits, limit);
        integers[filled] = {static_cast<std::size_t>(start - sign), static_cast<std::size_t>(start + digits),
                            saturated(negative, magnitude), beyond32Bits(negative, magnitude)};
    }
    if (filled < count && stop != nullptr)
        *stop = {static_cast<std::size_t>(at), isSign(text[at])};
    return filled;
}

}  // namespace

std::size_t copyShortPiece(const char* from, std::size_t available, char* to)
{
    for (std::size_t at = 0; at < kScanWindow && at < available; at += sizeof(Bytes)) {
        const Bytes bytes = bytesAt(from + at);
        const Word newlines = maskBits(bytes == '\n');
        if (newlines == 0) {
            std::memcpy(to + at, &bytes, sizeof bytes);
            continue;
        }
        // The piece ends in this vector: what follows it becomes NUL, in
        // whole vectors, which the scan reads back as they were stored.
        const auto end = static_cast<unsigned char>(std::countr_zero(newlines) + 1);
        const Bytes piece = bytes & static_cast<Bytes>(kLanes < end);
        const Bytes nothing = {};
        std::memcpy(to + at, &piece, sizeof piece);
        std::memcpy(to + at + sizeof(Bytes), &nothing, sizeof nothing);
        return at + end;
    }
    return 0;
}

int scanPiece(const char* text, std::size_t length, const char* limit, int skip,
              std::int32_t* const* fields, int count)
{
    if (length < kScanWindow) {
        const PieceMaps maps = mapPiece(text, length);
        if (!hasLongRun(maps.digits))
            return scanShortPiece(text, maps, skip, fields, count);
    }
    return scanLongPiece(text, limit, skip, fields, count);
}

int scanIntegers(const char* text, const char* limit, ScannedInteger* integers, int count, ScanStopPoint* stop)
{
    const int read = scanWindowIntegers(text, limit, integers, count, stop);
    if (read >= 0)
        return read;
    const char* p = text;
    const char* begin;
    for (int i = 0; i < count; ++i) {
        p = scanInteger(text, p, limit, integers[i], begin);
        if (p == nullptr) {
            if (stop != nullptr)
                *stop = {static_cast<std::size_t>(begin - text), isSign(*begin)};
            return i;
        }
    }
    return count;
}

int countIntegers(const char* text, const char* limit)
{
    ScannedInteger found;
    const char* begin;
    int count = 0;
    for (const char* p = text; (p = scanInteger(text, p, limit, found, begin)) != nullptr;)
        ++count;
    return count;
}

QuietLines quietLines(const char* text, std::size_t available, std::size_t longest)
{
    QuietLines quiet;
    std::size_t lineStart = 0;       // of the line being looked at
    unsigned integers = 0;           // of that line so far
    bool clean = true;               // that line so far
    Word lastDigits = 0, lastTen = 0;
    for (std::size_t at = 0; at < available; at += kScanWindow) {
        const ChunkClasses chunk = classifyChunk(text + at);
        // Where a run of ten digits ends, and of eleven or more.
        const Word ten = tenDigitEnds(chunk.digits, lastDigits);
        const Word over = ten & (ten << 1 | lastTen >> 63);
        const Word digitBefore = chunk.digits << 1 | lastDigits >> 63;
        Word bad = chunk.others | over;
        if ((chunk.signsOrReturns | ten) != 0) {
            // What follows the chunk, when it is part of the text.
            const char next = at + kScanWindow < available ? text[at + kScanWindow] : '\0';
            const Word digitAfter = chunk.digits >> 1 | Word{isDigit(next)} << 63;
            const Word newlineAfter = chunk.newlines >> 1 | Word{next == '\n'} << 63;
            // A sign is quiet straight before a digit, after no digit (a sign
            // or another character there is not quiet already); a carriage
            // return straight before a newline.  (These maps, seldom needed,
            // are made only here.)
            const ChunkClasses rare = classifyChunk(text + at);
            bad = (bad & ~chunk.signsOrReturns) | (rare.signs & ~(digitAfter & ~digitBefore)) |
                  (rare.returns & ~newlineAfter);
            for (Word tens = ten & ~over & ~digitAfter; tens != 0; tens &= tens - 1) {
                const std::size_t last = at + static_cast<std::size_t>(std::countr_zero(tens));
                const char* first = text + last - 9;
                const bool negative = last >= 10 && first[-1] == kMinus;
                if (beyond32Bits(negative, magnitudeOf(first, 10, text + available + kScanWindow)))
                    bad |= tens & (0 - tens);
            }
        }
        const Word starts = chunk.digits & ~digitBefore;
        lastDigits = chunk.digits;
        lastTen = ten;
        Word newlines = chunk.newlines;
        if (available - at < kScanWindow)
            newlines &= (Word{1} << (available - at)) - 1;
        std::size_t from = 0;  // the first bit of the chunk in the line
        for (; newlines != 0; newlines &= newlines - 1) {
            const auto end = static_cast<std::size_t>(std::countr_zero(newlines));
            const Word line = (~Word{0} >> (63 - end)) & ~((Word{1} << from) - 1);
            integers += static_cast<unsigned>(countBits(starts & line));
            clean = clean && (bad & line) == 0;
            if (!clean || integers != 6 || at + end + 1 - lineStart > longest)
                return quiet;
            ++quiet.count;
            quiet.lastStart = lineStart;
            quiet.length = lineStart = at + end + 1;
            integers = 0;
            from = end + 1;
        }
        const Word rest = from < 64 ? ~((Word{1} << from) - 1) : 0;
        integers += static_cast<unsigned>(countBits(starts & rest));
        clean = clean && (bad & rest) == 0;
        if (!clean || integers > 6 || at + 64 - lineStart > longest)
            break;
    }
    return quiet;
}
