// The scanner under the operations on old spare files: it finds the newline
// that ends a line piece, and the integers of a data line.
//
// It reads a line as sscanf reads it with "%d" fields, saturating at the
// bounds of 32 bits, but it classifies a whole window of characters at once
// and finds the fields with bit operations, so that the branches it takes do
// not depend on how the digits and blanks of a line happen to fall.
#ifndef TABFOLD_SCANNER_HPP
#define TABFOLD_SCANNER_HPP

#include "vectors.hpp"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>

// How "%d" reads the digits of an integer, for the scanner and the
// plain-line converter.  The magnitude of INT_MIN, one past INT_MAX: once a
// magnitude passes it, further digits cannot change the result, so it stops
// growing.
constexpr vectors::Word kSaturated = vectors::Word{1} << 31;
constexpr vectors::Word kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// The magnitude of the count (at least 1) digits at p, or some value past
// kSaturated when it is that large.
inline vectors::Word magnitudeOf(const char* p, int count, const char* limit)
{
    using namespace vectors;
    Word magnitude = digitsValue(loadWord(p, limit), count < 8 ? count : 8);
    for (int done = 8; done < count && magnitude <= kSaturated; done += 8) {
        const int step = count - done < 8 ? count - done : 8;
        magnitude = magnitude * kPowersOfTen[step] + digitsValue(loadWord(p + done, limit), step);
    }
    return magnitude;
}

// True when an integer of the sign and magnitude lies beyond 32 bits: past
// INT_MAX, or past INT_MIN's magnitude for a negative one.
inline bool beyond32Bits(bool negative, vectors::Word magnitude)
{
    return magnitude > kSaturated - !negative;
}

// The integer of a sign and magnitude, saturated to 32 bits.
inline std::int32_t saturated(bool negative, vectors::Word magnitude)
{
    if (magnitude >= kSaturated)
        return negative ? std::numeric_limits<std::int32_t>::min()
                        : std::numeric_limits<std::int32_t>::max();
    const auto value = static_cast<std::int32_t>(magnitude);
    return negative ? -value : value;
}

// Where a run of ten digits or more ends, bit i standing for the digits from
// i - 9 to i, in the bitmap of a chunk's digits, the bitmap of the chunk
// before it being lastDigits (0 for none): the integers that a quiet piece
// cannot hold, since they may lie beyond 32 bits.
inline vectors::Word tenDigitEnds(vectors::Word digits, vectors::Word lastDigits)
{
    vectors::Word ends = digits;
    for (int shift = 1; shift < 10; ++shift)
        ends &= digits << shift | lastDigits >> (64 - shift);
    return ends;
}

// How many characters the scanner classifies at once, and how many it may
// read or write from the start of a text shorter than that.
constexpr std::size_t kScanWindow = 64;
constexpr std::size_t kScanReadable = kScanWindow + sizeof(vectors::Bytes);

// The classes of the characters of one chunk of kScanWindow characters, as
// bitmaps, bit i for character i: the one classifier of many characters at
// once, for the scanner, the baseline kernel of the plain-line converter and
// the check's quiet lines (each caller's unused maps cost nothing, inlined).
struct ChunkClasses {
    vectors::Word digits = 0;
    vectors::Word spaces = 0;
    vectors::Word others = 0;    // neither digits nor whitespace
    vectors::Word signs = 0;
    vectors::Word minuses = 0;
    vectors::Word zeros = 0;     // the digit 0
    vectors::Word newlines = 0;
    vectors::Word returns = 0;   // carriage returns
    vectors::Word signsOrReturns = 0;  // either, seldom in most data
};

inline ChunkClasses classifyChunk(const char* p)
{
    using namespace vectors;
    ChunkClasses chunk;
    static_assert(kScanWindow == 4 * sizeof(Bytes));
    for (const std::size_t at : {0 * sizeof(Bytes), 1 * sizeof(Bytes), 2 * sizeof(Bytes), 3 * sizeof(Bytes)}) {
        const Bytes bytes = bytesAt(p + at);
        const ByteMask digit = digitBytes(bytes), space = spaceBytes(bytes), sign = signBytes(bytes);
        const ByteMask carriageReturn = bytes == '\r';
        chunk.digits |= maskBits(digit) << at;
        chunk.spaces |= maskBits(space) << at;
        chunk.others |= maskBits(~(digit | space)) << at;
        chunk.signs |= maskBits(sign) << at;
        chunk.minuses |= maskBits(bytes == kMinus) << at;
        chunk.zeros |= maskBits(bytes == kFirstDigit) << at;
        chunk.newlines |= maskBits(bytes == '\n') << at;
        chunk.returns |= maskBits(carriageReturn) << at;
        chunk.signsOrReturns |= maskBits(sign | carriageReturn) << at;
    }
    return chunk;
}

// Copies the piece at from, of which available characters are valid, to to,
// when it ends with a newline among its first kScanWindow characters: the
// piece, then at least one NUL.  Returns its length, or 0 when it does not
// end there.  from must have kScanWindow characters readable, none of
// those past the available ones a newline (an input block's read-ahead
// is zeros), and to room for kScanReadable.
std::size_t copyShortPiece(const char* from, std::size_t available, char* to);

// Scans the piece of length characters at text as sscanf would with skip +
// count "%d" fields, the first skip of them consumed and dropped: each
// integer after optional whitespace, with an optional sign, saturating at the
// bounds of 32 bits.  Fills up to count fields, each through its pointer,
// and returns how many it filled.  Stops at the first integer without
// digits, leaving the fields from there on untouched.
//
// text[length] must be NUL, and every character from text up to limit, which
// lies past the NUL, must be readable; for a piece shorter than kScanWindow,
// limit lies at least kScanReadable characters after text.
int scanPiece(const char* text, std::size_t length, const char* limit, int skip,
              std::int32_t* const* fields, int count);

// One integer as the scanner reads it: where it begins (its sign, or its
// first digit) and where it ends in the text, its value, saturated to 32
// bits, and whether its magnitude lay beyond them.
struct ScannedInteger {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::int32_t value = 0;
    bool beyond = false;
};

// Where a scan of integers stopped before it had all it was asked for: at
// the first character past the whitespace after the last integer read,
// which begins no integer: a sign with no digit after it, or any other
// character, the NUL that ends the piece among them.
struct ScanStopPoint {
    std::size_t at = 0;
    bool loneSign = false;
};

// Reads up to count integers of the piece at text into integers, one after
// the other, as scanPiece reads them; returns how many it read, and, when
// fewer than count, says in stop (unless nullptr) where and why it stopped.
// The piece must end in NUL, and every character from text up to limit,
// at least kScanReadable characters after text, must be readable.
int scanIntegers(const char* text, const char* limit, ScannedInteger* integers, int count,
                 ScanStopPoint* stop = nullptr);

// How many integers the piece at text holds, read one after the other as
// scanIntegers reads them, to the first character that begins none.  The
// piece must end in NUL, and every character from text up to limit must be
// readable.
int countIntegers(const char* text, const char* limit);

// The quiet lines at the start of a text: lines whose reading has nothing
// to tell, the one definition of quiet.  A quiet line is whole, its newline
// included, and no longer than the longest line piece; it holds exactly six
// integers and whitespace, nothing else: each integer of ten digits at most
// and within 32 bits, with a sign only straight before its digits and after
// whitespace (or the line's start); a carriage return only straight before
// the newline.
struct QuietLines {
    std::size_t length = 0;     // the characters they take
    std::uint64_t count = 0;    // how many there are
    std::size_t lastStart = 0;  // where the last of them begins
};

// The quiet lines at the start of the available characters at text, each
// of at most longest characters; text must start a line, and a chunk of
// kScanWindow characters past available must be readable.
QuietLines quietLines(const char* text, std::size_t available, std::size_t longest);

#endif
