// The fast way through a block: one plain line, followed from the bytes
// read to its record line.
//
// 1. convertBlock takes the block a segment at a time, from the start of a
//    line: one chunk of 64 characters at first, twice as many each time, up
//    to 64 chunks, so that a block whose lines are seldom plain costs little.
// 2. mapSegment classifies every chunk of the segment with the kernel's
//    mapChunk (plain_lines_baseline.hpp, plain_lines_avx2.hpp): bitmaps of
//    its digits, its zeros and its newlines (plain_lines_chunks.hpp), and
//    whether any character is neither a digit nor whitespace.  The newlines
//    are flattened into the list of where each line ends.  Signs are mapped
//    only where they come (mapSigns).
// 3. convertLines takes the lines one after the other: through a window of
//    the digits' bitmap at the line's start, findFields finds the places
//    and lengths of the three integers that the pass copies, with no branch
//    on the characters; putRecordLine copies their digits, padded as
//    "%-3d %-3d %d\n" pads them, straight into the output buffer.
// 4. Lines with signs or leading zeros go through findPrinted, which finds
//    the integers as printing their values writes them; longer lines
//    through findLongFields.  The first line that is not plain (or not
//    whole) ends the run: the pass gives it to the operations of the
//    formats, and parses the last line converted for the fields it carries
//    over.
#include "plain_lines.hpp"

#include "plain_lines_avx2.hpp"
#include "plain_lines_baseline.hpp"
#include "plain_lines_chunks.hpp"
#include "platform.hpp"
#include "scanner.hpp"
#include "vectors.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

using namespace plain;

// A block is converted a segment at a time: its characters are classified
// into bitmaps, one word for each chunk of 64 characters, and its lines are
// then taken one after the other.  A segment begins where a line begins.
constexpr std::size_t kSegmentChunks = 64;
constexpr std::size_t kSegment = kChunk * kSegmentChunks;

// A line is read from the bitmaps through a window of a word loaded at the
// byte holding its first bit, so the window sees the line's first 57 bits.
constexpr unsigned kLongestPlainLine = 56;  // the newline included

// The shortest line with the integers of a pass: three digits, two blanks
// and a newline.  A segment holds no more plain lines than this allows.
constexpr std::size_t kMostPlainLines = kSegment / 6;

// Classifying the last chunk of the data reads up to a chunk past its end,
// where the input file keeps zeros; writing a field reads a vector past it.
static_assert(InputFile::kReadAhead >= kChunk + sizeof(Bytes));

// The characters of a segment as bitmaps stored a byte at a time: bit j of
// byte k stands for character 8 * k + j, on either byte order.  The word
// after the last is zero, for the windows.
constexpr std::size_t kMapBytes = (kSegmentChunks + 1) * sizeof(Word);
struct SegmentMaps {
    unsigned char digits[kMapBytes];
    unsigned char zeros[kMapBytes];
    unsigned char signs[kMapBytes];  // + and -, once mapSigns ran
    unsigned char minuses[kMapBytes];  // - alone
    // Where each newline of the segment stands, and the entries that the
    // flattening writes regardless.
    unsigned ends[kSegment + 2];
};

// Appends where the newlines of one word stand, base being the position of
// its first bit; returns the new count.  Two entries are written whatever
// the word holds, so that the common words take no branch.
template <class Isa>
std::size_t flattenNewlines(Word newlines, unsigned base, unsigned* ends, std::size_t count)
{
    const std::size_t total = count + Isa::countNewlines(newlines);
    for (int i = 0; i < 2; ++i, ++count) {
        ends[count] = base + static_cast<unsigned>(std::countr_zero(newlines));
        newlines &= newlines - 1;
    }
    for (; newlines != 0; newlines &= newlines - 1)
        ends[count++] = base + static_cast<unsigned>(std::countr_zero(newlines));
    return total;
}

// Where the first character of the length at text that is neither a digit
// nor whitespace stands, or length when there is none.
unsigned firstOther(const char* text, std::size_t length)
{
    for (std::size_t at = 0; at < length; at += sizeof(Bytes)) {
        const Bytes bytes = bytesAt(text + at);
        const Word others = maskBits(~(digitBytes(bytes) | spaceBytes(bytes)));
        if (others != 0)
            return static_cast<unsigned>(std::min(at + static_cast<std::size_t>(std::countr_zero(others)), length));
    }
    return static_cast<unsigned>(length);
}

// Classifies the segment of length characters at text and lists its
// newlines; returns how many there are, in other where the first character
// that is neither a digit nor whitespace stands, and in leadingZeros
// whether an integer starts with 0 and has more digits.  The last chunk may
// reach past the data, whose zeros hold no newline.
template <class Isa>
std::size_t mapSegment(const char* text, std::size_t length, SegmentMaps& maps, unsigned& other,
                       bool& leadingZeros)
{
    const std::size_t chunks = (length + kChunk - 1) / kChunk;
    std::size_t newlines = 0;
    typename Isa::Known known = Isa::kAllKnown;
    Word led = 0;  // zeros that start an integer and are followed by a digit
    Word lastDigit = 0, lastZeroStart = 0;  // bit 63 of the chunk before, at bit 0
    for (std::size_t k = 0; k < chunks; ++k) {
        const ChunkMaps chunk = Isa::mapChunk(text + k * kChunk, known);
        storeWord(maps.digits + k * sizeof(Word), chunk.digits);
        storeWord(maps.zeros + k * sizeof(Word), chunk.zeros);
        newlines = flattenNewlines<Isa>(chunk.newlines, static_cast<unsigned>(k * kChunk), maps.ends, newlines);
        const Word zeroStarts = chunk.zeros & ~(chunk.digits << 1 | lastDigit);
        led |= (zeroStarts & chunk.digits >> 1) | (lastZeroStart & chunk.digits);
        lastDigit = chunk.digits >> 63;
        lastZeroStart = zeroStarts >> 63;
    }
    leadingZeros = led != 0;
    storeWord(maps.digits + chunks * sizeof(Word), 0);
    storeWord(maps.zeros + chunks * sizeof(Word), 0);
    // Rare, but for the zeros after the data in the last chunk of a block.
    other = Isa::allKnown(known) ? static_cast<unsigned>(length) : firstOther(text, length);
    return newlines;
}

// Maps the signs of the segment of length characters at text; returns where
// the first character that is neither a digit, whitespace nor a sign
// stands, or length.  Only segments that are not all plain pay for it.
template <class Isa>
unsigned mapSigns(const char* text, std::size_t length, SegmentMaps& maps)
{
    const std::size_t chunks = (length + kChunk - 1) / kChunk;
    std::size_t other = length;
    for (std::size_t k = 0; k < chunks; ++k) {
        const ChunkSigns chunk = Isa::signChunk(text + k * kChunk);
        storeWord(maps.signs + k * sizeof(Word), chunk.signs);
        storeWord(maps.minuses + k * sizeof(Word), chunk.minuses);
        if (chunk.others != 0 && other == length)
            other = std::min(k * kChunk + static_cast<std::size_t>(std::countr_zero(chunk.others)), length);
    }
    storeWord(maps.signs + chunks * sizeof(Word), 0);
    storeWord(maps.minuses + chunks * sizeof(Word), 0);
    return static_cast<unsigned>(other);
}

// The bits of a map from bit at on; only the first 57 count.
Word windowAt(const unsigned char* map, unsigned at)
{
    return wordAt(map + at / 8) >> (at % 8);
}

// The first character from at on, before end, whose bit in the map is set,
// or clear where flip is all ones; end when there is none.
unsigned nextBit(const unsigned char* map, unsigned at, unsigned end, Word flip)
{
    constexpr unsigned kStep = 56;  // of the 57 bits a window sees
    for (; at < end; at += kStep) {
        const Word bits = (windowAt(map, at) ^ flip) & ((Word{1} << kStep) - 1);
        if (bits != 0)
            return std::min(at + static_cast<unsigned>(std::countr_zero(bits)), end);
    }
    return end;
}

// The value of the count digits at p, as "%d" reads them: saturated at the
// largest 32-bit integer.  The block is readable well past p + count.
std::int32_t valueOfDigits(const char* p, unsigned count)
{
    return saturated(false, magnitudeOf(p, static_cast<int>(count), p + count + sizeof(Word)));
}

// The integers that a pass copies from a line, as places and digit counts.
struct Fields {
    unsigned start[3];
    unsigned count[3];
};

// The record of the fields found in the line at text: their values,
// whatever their digits and leading zeros.
SpareRecord recordOf(const char* text, const Fields& fields)
{
    return {valueOfDigits(text + fields.start[0], fields.count[0]),
            valueOfDigits(text + fields.start[1], fields.count[1]),
            valueOfDigits(text + fields.start[2], fields.count[2])};
}

// How many characters "%-3d " writes for a value of count digits.
constexpr unsigned char kPaddedWidth[17] = {4, 4, 4, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

// Writes the record line of the three integers of fields, in the line at
// text, as "%-3d %-3d %d\n" writes their values; returns its end.  Without
// a sign or a leading zero, the digits are the value as printed.
template <class Isa>
char* putRecordLine(char* out, const char* text, const Fields& fields)
{
    // The vector stored for the third field, of eight digits and a minus at
    // most, ends within the room kept for the longest record line.
    static_assert(kMaxRecordLineLength >= 2 * kPaddedWidth[9] + sizeof(Bytes));
    Isa::putField(out, text + fields.start[0], fields.count[0], ' ');
    out += kPaddedWidth[fields.count[0]];
    Isa::putField(out, text + fields.start[1], fields.count[1], ' ');
    out += kPaddedWidth[fields.count[1]];
    Isa::putField(out, text + fields.start[2], fields.count[2], '\n');
    return out + fields.count[2] + 1;
}

// Finds, in the line of length characters before its newline, seen through
// its window of digits, the three integers after the first skip; false when
// it has fewer, or one has more than eight digits, which printing the
// values would not copy (nor would it leading zeros, which the caller
// rules out).  All is computed, nothing branched on.
template <int skip>
bool findFields(Word digits, unsigned length, Fields& fields)
{
    // (For a line too long to be plain, the mask means nothing.)
    Word starts = digits & ~(digits << 1) & ((Word{1} << (length & 63)) - 1);
    for (int i = 0; i < skip; ++i)
        starts &= starts - 1;
    unsigned wide = 0;  // at least 16 when a count passes 8
    for (int i = 0; i < 3; ++i) {
        // 64 when the line has no more; that shift takes the count modulo
        // 64, as x86 shifts do, and the line is not plain.
        const unsigned start = static_cast<unsigned>(std::countr_zero(starts));
        const unsigned count = static_cast<unsigned>(std::countr_zero(~(digits >> start % 64)));
        wide |= count + 7;
        starts &= starts - 1;
        fields.start[i] = start;
        fields.count[i] = count;
    }
    // The starts come in order: when the third lies in the line, all do.
    return (fields.start[2] < length) & (wide < 16);
}

// Finds, as findFields does, the three integers after the first skip of a
// line that may hold signs but no integer with a leading zero, seen
// through its windows of digits, zeros, signs and minuses: each with the
// minus before it when its value is not 0 (-0 prints as 0), the one sign
// that printing the value keeps.  False also where a sign that the scan
// passes over stands before no digit, where the scan would stop early.
template <int skip>
bool findSignedFields(Word digits, Word zeros, Word signs, Word minuses, unsigned length, Fields& fields)
{
    constexpr Word kPastEveryLine = ~(~Word{0} >> 1);  // the window's last bit
    const Word runStarts = digits & ~(digits << 1);
    // Without leading zeros, a run that starts with 0 is 0 itself.
    const Word negative = (minuses << 1) & runStarts & ~zeros;
    Word starts = runStarts;  // those past the line's newline fail the test of the third
    for (int i = 0; i < skip; ++i)
        starts &= starts - 1;
    unsigned wide = 0;  // at least 16 when a count passes 8
    Word third = 0;
    for (int i = 0; i < 3; ++i) {
        // At the window's last bit when the window has no more.
        const Word first = starts | kPastEveryLine;
        const auto start = static_cast<unsigned>(std::countr_zero(first));
        const auto count = static_cast<unsigned>(std::countr_zero(~(digits >> start)));
        const auto minus = static_cast<unsigned>(negative >> start & 1);
        wide |= count + 7;
        third = first & -first;
        starts &= starts - 1;
        fields.start[i] = start - minus;
        fields.count[i] = count + minus;
    }
    // The signs before the third integer's digits are passed over.
    const Word passed = signs & (third - 1);
    // The starts come in order: when the third lies in the line, all do.
    return ((third >> length) == 0) & (wide < 16) & ((passed & ~(digits >> 1)) == 0);
}

// One integer as printing its value writes it: a minus or not, then count
// digits from digits, which stay readable for a vector.
struct PrintedField {
    const char* digits;
    unsigned count;
    unsigned minus;
};

// The digits that "%d" prints for the values that saturate, positive and
// negative, each readable for a vector.
constexpr char kSaturatedDigits[2][sizeof(Bytes)] = {"2147483647", "2147483648"};

// Fills field with how printing the value of the count (at least 1) digits
// at p, with no sign, writes it but for the bounds of 32 bits, zerosFrom
// being the window of zeros from p: past the leading zeros.  False when the
// zeros fill the window, which then cannot tell where they end.
bool printField(const char* p, unsigned count, Word zerosFrom, PrintedField& field)
{
    const auto zeros = static_cast<unsigned>(std::countr_zero(~zerosFrom));
    const unsigned lead = std::min(zeros, count - 1);
    field = PrintedField{p + lead, count - lead, 0};
    return zeros < kLongestPlainLine;
}

// Saturates the printed fields at the bounds of 32 bits as the scanner
// does, from a magnitude of 2^31 on (which -2147483648 prints as it is);
// only the values of ten digits and more, which few lines have, are read.
void saturate(PrintedField (&fields)[3])
{
    if (((fields[0].count + 6) | (fields[1].count + 6) | (fields[2].count + 6)) < 16)  // 16 from 10 on
        return;
    for (PrintedField& field : fields) {
        // (The block is readable well past the digits.)
        if (field.count > 10 ||
            (field.count == 10 && magnitudeOf(field.digits, 10, field.digits + 10 + sizeof(Word)) >= kSaturated)) {
            field.digits = kSaturatedDigits[field.minus];
            field.count = 10;
        }
    }
}

// Writes the record line of the printed fields as "%-3d %-3d %d\n" does;
// returns its end.  The minus goes first, the digits over it when there is
// none.
template <class Isa>
char* putPrintedLine(char* out, const PrintedField (&fields)[3])
{
    // The vector stored for the third field, of eleven characters at most,
    // ends within the room kept for the longest record line.
    static_assert(kMaxRecordLineLength + kRecordLineSlack >= 2 * kPaddedWidth[11] + 1 + sizeof(Bytes));
    for (int i = 0; i < 2; ++i) {
        *out = '-';
        Isa::putField(out + fields[i].minus, fields[i].digits, fields[i].count, ' ');
        out += kPaddedWidth[fields[i].count + fields[i].minus];
    }
    *out = '-';
    Isa::putField(out + fields[2].minus, fields[2].digits, fields[2].count, '\n');
    return out + fields[2].minus + fields[2].count + 1;
}

// Finds in the line at text, of fewer than kLongestPlainLine characters
// before its newline, seen through its windows of digits, zeros, signs and
// minuses, the three integers after the first skip as printing their values
// writes them: past leading zeros, with their minus but for 0, of any
// width.  False when the line has fewer than three integers, or a sign that
// the scan passes over stands before no digit, where the scan would stop
// early.  All is computed, nothing branched on.
template <int skip>
bool findPrinted(const char* text, Word digits, Word zeros, Word signs, Word minuses, unsigned length,
                 PrintedField (&printed)[3])
{
    const Word runStarts = digits & ~(digits << 1);
    const Word lastDigits = digits & ~(digits >> 1);
    // The zeros that lead their run of digits, but for its last digit: a
    // carry from the run's start through them clears them.
    const Word leading = zeros & ~(zeros + (runStarts & zeros)) & ~lastDigits;
    // Where each run's printed digits start, past its leading zeros.
    Word starts = digits & ~leading & ((leading << 1) | runStarts) & ((Word{1} << length) - 1);
    // The same places for the runs after a minus, carried past the leading
    // zeros, when the value is not 0 (-0 prints as 0).
    const Word negative = (leading + ((minuses << 1) & runStarts)) & ~leading & ~zeros;
    for (int i = 0; i < skip; ++i)
        starts &= starts - 1;
    unsigned place = 0, start = 0, count = 0;
    for (int i = 0; i < 3; ++i) {
        // 64 when the line has no more; the line is then not found, and the
        // field means nothing.
        place = static_cast<unsigned>(std::countr_zero(starts));
        start = place % 64;
        count = static_cast<unsigned>(std::countr_zero(~(digits >> start)));
        printed[i] = PrintedField{text + start, count, static_cast<unsigned>(negative >> start & 1)};
        starts &= starts - 1;
    }
    // The starts, all within the line, come in order: when there is a third
    // (not 64), all are there.
    const bool found = place != 64;
    const Word passed = signs & ((Word{1} << ((start + count) & 63)) - 1);
    return found & ((passed & ~(digits >> 1)) == 0);
}

// Finds the three integers after the first skip of the line of digits and
// whitespace from start to end of the segment, of any length, through the
// windows of its digits; false when it has fewer.  Their places are from
// start.
template <int skip>
bool findLongFields(const SegmentMaps& maps, unsigned start, unsigned end, Fields& fields)
{
    constexpr unsigned kStep = 56;  // of the 57 bits a window sees
    int found = 0;
    Word before = 0;  // 1 when the character before the window is a digit
    for (unsigned at = start; at < end; at += kStep) {
        const unsigned span = std::min(kStep, end - at);
        const Word digits = windowAt(maps.digits, at) & ((Word{1} << span) - 1);
        for (Word starts = digits & ~(digits << 1 | before); starts != 0; starts &= starts - 1) {
            const unsigned first = at + static_cast<unsigned>(std::countr_zero(starts));
            if (found >= skip) {
                // A run that fills a window is measured to its end.
                unsigned count = static_cast<unsigned>(std::countr_zero(~windowAt(maps.digits, first)));
                if (count >= kStep)
                    count = nextBit(maps.digits, first, end, ~Word{0}) - first;
                fields.start[found - skip] = first - start;
                fields.count[found - skip] = count;
            }
            if (++found == skip + 3)
                return true;
        }
        before = digits >> (span - 1) & 1;
    }
    return false;
}

// The fields of the line at start of the segment at text as printing their
// values writes them.  False when the leading zeros of one fill its window.
bool printFields(const char* text, const SegmentMaps& maps, unsigned start, const Fields& fields,
                 PrintedField (&printed)[3])
{
    bool seen = true;
    for (int i = 0; i < 3; ++i)
        seen &= printField(text + start + fields.start[i], fields.count[i],
                           windowAt(maps.zeros, start + fields.start[i]), printed[i]);
    saturate(printed);
    return seen;
}

// Writes at out, and moves it past, the record line of the line of the
// segment at text from start to end that is all digits and whitespace but
// too long for its windows, read in windows, leadingZeros telling whether
// an integer of the segment may have one.  False when the line has fewer
// than three integers or is longer than a piece.  Only the loop over lines
// that are not all plain has it.
template <int skip, class Isa>
bool putLongLine(char*& out, const char* text, const SegmentMaps& maps, unsigned start, unsigned end,
                 bool leadingZeros)
{
    Fields fields;
    if (end - start >= LineBuffer::kMaxPieceLength || !findLongFields<skip>(maps, start, end, fields))
        return false;
    PrintedField printed[3];
    if (!leadingZeros) {
        // With no sign and no leading zero, the digits are the value as
        // printed but for the bounds of 32 bits, which eight never pass.
        if (((fields.count[0] + 7) | (fields.count[1] + 7) | (fields.count[2] + 7)) < 16) {
            out = putRecordLine<Isa>(out, text + start, fields);
            return true;
        }
        for (int i = 0; i < 3; ++i)
            printed[i] = PrintedField{text + start + fields.start[i], fields.count[i], 0};
        saturate(printed);
        out = putPrintedLine<Isa>(out, printed);
    } else if (printFields(text, maps, start, fields, printed)) {
        out = putPrintedLine<Isa>(out, printed);
    } else {
        out += formatSpareRecord(recordOf(text + start, fields), out);
    }
    return true;
}

// What converting the plain lines at the start of a block came to.
using BlockResult = PlainRun;

// Converts the lines of the segment at text from the line first on, up to
// the first that is not plain or is at or past the first of them that may
// not be (clean of the mapped lines); returns where it stopped, in lines and
// in end and start.  When irregular, lines that are not plain are converted
// as well, and, where signs is true, lines may hold signs, mapped in
// maps.signs and maps.minuses; a line too long for its windows that has
// signs is left to the scanner.
template <int skip, class Isa, bool irregular>
std::size_t convertLines(const char* text, const SegmentMaps& maps, std::size_t first, std::size_t clean,
                         bool signs, bool leadingZeros, char*& end, unsigned& start)
{
    const unsigned* newline = maps.ends + first;
    const unsigned* const last = maps.ends + clean;
    for (; newline != last; ++newline) {
        const unsigned chars = *newline - start;  // before the newline
        const Word digits = windowAt(maps.digits, start);
        if constexpr (irregular) {
            if (chars < kLongestPlainLine) {
                const Word zeros = windowAt(maps.zeros, start);
                const Word signMap = signs ? windowAt(maps.signs, start) : 0;
                const Word minuses = signs ? windowAt(maps.minuses, start) : 0;
                Fields fields;
                PrintedField printed[3];
                if (!leadingZeros && findSignedFields<skip>(digits, zeros, signMap, minuses, chars, fields)) {
                    end = putRecordLine<Isa>(end, text + start, fields);
                } else {
                    // Not found: fewer than three integers, or a stray sign.
                    if (!findPrinted<skip>(text + start, digits, zeros, signMap, minuses, chars, printed))
                        break;
                    saturate(printed);
                    end = putPrintedLine<Isa>(end, printed);
                }
            } else if ((signs && nextBit(maps.signs, start, *newline, 0) != *newline) ||
                       !putLongLine<skip, Isa>(end, text, maps, start, *newline, leadingZeros)) {
                break;  // a long line, read from the maps as far as it goes
            }
        } else {
            Fields fields;
            if (!(findFields<skip>(digits, chars, fields) & (chars < kLongestPlainLine)))
                break;
            end = putRecordLine<Isa>(end, text + start, fields);
        }
        start = *newline + 1;
    }
    return static_cast<std::size_t>(newline - maps.ends);
}


// Converts the plain lines of the segment at text, up to the first that is
// not plain or not whole; adds what it converted to result.  False when it
// stopped before the end of the segment's last whole line, if it has one.
template <int skip, class Isa>
bool convertSegment(const char* text, std::size_t length, SegmentMaps& maps, OutputFile& out,
                    BlockResult& result)
{
    unsigned other;
    bool leadingZeros;
    const std::size_t lines = mapSegment<Isa>(text, length, maps, other, leadingZeros);
    // Signs, the most common characters besides digits and whitespace, are
    // mapped only where they come.
    const bool signs = other < length && isSign(text[other]);
    if (signs)
        other = mapSigns<Isa>(text, length, maps);
    // Only the lines before the first character that is neither a digit nor
    // whitespace (nor a sign, once mapped) can be plain.
    // (With none, other is length, past every newline: all lines.)
    const auto clean = static_cast<std::size_t>(std::lower_bound(maps.ends, maps.ends + lines, other) - maps.ends);
    const std::size_t most = std::min(clean, kMostPlainLines);
    char* const room = out.reserve(most * kMaxRecordLineLength + kRecordLineSlack);
    if (room == nullptr) {
        result.writeFailed = true;
        return false;
    }
    char* end = room;
    unsigned start = 0;
    // The loop over plain lines, which a segment with signs or leading
    // zeros skips, stops at the first that is not; the rest of the segment
    // then goes through the loop that takes the others too.
    const bool plain = !signs && !leadingZeros;
    // (Without signs, the lines before other have none: their maps are
    // not needed.)
    std::size_t line = plain ? convertLines<skip, Isa, false>(text, maps, 0, most, false, false, end, start) : 0;
    if (line < most)
        line = convertLines<skip, Isa, true>(text, maps, line, most, signs, leadingZeros, end, start);
    out.commit(static_cast<std::size_t>(end - room));
    // The last line converted begins after the newline before its own.
    if (line > 0)
        result.lastLine = text + (line > 1 ? maps.ends[line - 2] + 1 : 0);
    result.converted += start;
    return line == lines;
}

// Converts the plain lines at the start of the available characters at
// text, up to the first that is not plain or not whole.  The segments grow
// from one chunk: where lines that are not plain come often, a call that
// stops early has classified little more than what it converted.
template <int skip, class Isa>
BlockResult convertBlock(const char* text, std::size_t available, OutputFile& out)
{
    BlockResult result;
    SegmentMaps maps;
    for (std::size_t chunks = 1; result.converted < available; chunks = std::min(2 * chunks, kSegmentChunks)) {
        const std::size_t length = std::min(chunks * kChunk, available - result.converted);
        const std::size_t before = result.converted;
        if (!convertSegment<skip, Isa>(text + result.converted, length, maps, out, result))
            break;
        // A segment too short for a whole line grows, while it can.
        if (result.converted == before && (chunks == kSegmentChunks || length < chunks * kChunk))
            break;
    }
    return result;
}

#ifdef TABFOLD_SCAN_WITH_AVX2
// convertBlock compiled whole for AVX2 and BMI2.
template <int skip>
TABFOLD_AVX2 __attribute__((flatten)) BlockResult convertBlockAvx2(const char* text, std::size_t available,
                                                                 OutputFile& out)
{
    return convertBlock<skip, Avx2>(text, available, out);
}
#endif

// convertBlock, in the copy of the kernel.
template <int skip>
BlockResult convertBlockWith(const char* text, std::size_t available, OutputFile& out, Kernel kernel)
{
#ifdef TABFOLD_SCAN_WITH_AVX2
    if (kernel == Kernel::Avx2)
        return convertBlockAvx2<skip>(text, available, out);
#endif
    (void)kernel;
    return convertBlock<skip, Baseline>(text, available, out);
}

}  // namespace

PlainRun convertPlainPieces(const char* text, std::size_t available, OutputFile& out, Side side, Kernel kernel)
{
    return side == Side::Left ? convertBlockWith<0>(text, available, out, kernel)
                              : convertBlockWith<3>(text, available, out, kernel);
}
