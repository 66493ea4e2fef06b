// The texts of tabfold-check's findings, as a person reads them, made from
// the account of each piece (spare_check.hpp), and the summary's counts; and
// the line of text they are put together in, without the C library's printf.
#include "check_text.hpp"

#include <bit>
#include <cstring>

namespace {

// The field that the integer at index (from 0) fills, as a person names it.
std::string_view fieldOf(int index)
{
    static constexpr std::string_view kNames[kFields] = {
        "the left record's N1",  "the left record's N2",  "the left record's LINK#",
        "the right record's N1", "the right record's N2", "the right record's LINK#"};
    return kNames[index];
}

// Appends what the fields of one record (first the left's, 3 the right's)
// that the piece does not supply become: grouped by the line they repeat,
// with the values written.
void addCarried(Text& text, const PieceReport& report, int first, bool& more)
{
    bool done[3] = {};
    for (int i = 0; i < 3; ++i) {
        const int field = first + i;
        if (field < report.integers || done[i])
            continue;
        const std::uint64_t from = report.carriedFrom[field];
        if (more)
            text.literal("; ");
        if (first == 0)
            text.literal("the left record's ");
        else
            text.literal("the right record's ");
        more = true;
        int same[3];
        int named = 0;
        for (int j = i; j < 3; ++j)
            if (first + j >= report.integers && report.carriedFrom[first + j] == from)
                same[named++] = j;
        for (int k = 0; k < named; ++k) {
            done[same[k]] = true;
            text.add(k == 0 ? "" : k + 1 < named ? ", " : " and ").add(kFieldNames[first + same[k]]);
        }
        if (from == 0) {
            text.add(named > 1 ? " are 0, no line having given them yet" : " is 0, no line having given it yet");
            continue;
        }
        text.add(named > 1 ? " repeat line " : " repeats line ").number(from).literal("'s ");
        for (int k = 0; k < named; ++k)
            text.add(k == 0 ? "" : k + 1 < named ? ", " : " and ").signedNumber(report.carried[first + same[k]]);
    }
}

// The message of a data line piece that supplies fewer than six integers:
// how many, what stopped the scan, and what the missing fields become.
void addShortScan(Text& text, const LineBuffer& piece, const PieceReport& report)
{
    if (report.integers == 0)
        text.literal("no integer, then ");
    else
        text.number(static_cast<std::uint64_t>(report.integers))
            .add(report.integers == 1 ? " integer of 6, then " : " integers of 6, then ");
    switch (report.stop) {
    case ScanStop::LineEnd:
        text.literal("the end of the line");
        break;
    case ScanStop::FileEnd:
        text.literal("the end of the file");
        break;
    case ScanStop::PieceEnd:
        text.literal("the end of the line piece");
        break;
    case ScanStop::Character:
        text.character(piece.text[report.stopAt]).literal(", which stops the scan");
        break;
    case ScanStop::LoneSign:
        text.character(piece.text[report.stopAt]).literal(" with no digit after it, which stops the scan");
        break;
    case ScanStop::SignAtPieceEnd:
        text.character(piece.text[report.stopAt]).literal(" at the end of the line piece, which stops the scan");
        break;
    case ScanStop::None:
        break;
    }
    text.literal(": ");
    bool more = false;
    addCarried(text, report, 0, more);
    addCarried(text, report, 3, more);
}

// Appends a number of count digits, the first of them at digits, with its
// sign: whole up to twenty digits, else its first twelve, an ellipsis and
// how many it has.
void addNumber(Text& text, char sign, const char* digits, std::uint64_t count)
{
    if (sign != '\0')
        text.add(&sign, 1);
    if (count <= 20) {
        text.add(digits, count);
        return;
    }
    text.add(digits, 12).literal("... (").number(count).literal(" digits)");
}

// Appends the integer of the piece as it stands there, its sign included.
void addInteger(Text& text, const LineBuffer& piece, const ScannedInteger& integer)
{
    const char* at = piece.text + integer.begin;
    const bool sign = characters::isSign(*at);
    addNumber(text, sign ? *at : '\0', at + sign, integer.end - integer.begin - sign);
}

// The message of a number, or a sign and its digits, that the end of the
// piece before parts, and what each of the two pieces reads of it.
void addCut(Text& text, const PieceReport& report)
{
    const CutNumber& cut = report.cut;
    if (cut.before == 0) {
        text.literal("the sign ").character(cut.sign).literal(" is parted from its digits ");
        addNumber(text, '\0', cut.digits, cut.count);
    } else {
        addNumber(text.literal("the number "), cut.sign, cut.digits, cut.count);
        text.literal(" is cut in two");
    }
    text.literal(" by the end of the line piece before: ");
    switch (cut.fate) {
    case CutFate::Read:
        text.literal("that piece reads ").signedNumber(cut.value).literal(" as ").add(fieldOf(cut.field));
        break;
    case CutFate::Seventh:
        text.literal("that piece ignores its part, a seventh integer");
        break;
    case CutFate::Ignored:
        text.literal("that piece ignores its part, after its sixth integer");
        break;
    case CutFate::NotReached:
        text.literal("that piece's scan stops before its part");
        break;
    case CutFate::StopsScan:
        text.literal("that piece's scan stops at the sign");
        break;
    case CutFate::Heading:
        text.literal("that piece is dropped with the heading");
        break;
    }
    text.literal("; this one reads ").signedNumber(report.found[0].value).literal(" as ").add(fieldOf(0));
}

// The message of a line too long for one piece: its bytes, the pieces it
// is read as, and whose they are.
void addLongLine(Text& text, const LongLine& longLine)
{
    const int data = longLine.pieces - longLine.headingPieces;
    const char* const heading[] = {"", "the heading's second and ", "both of the heading's and "};
    text.number(longLine.length)
        .add(longLine.carriageReturn ? " bytes with its CRLF end"
             : longLine.newline      ? " bytes with its newline"
                                     : " bytes")
        .literal(" are too many for one line piece of 254: the line is read as ")
        .number(static_cast<std::uint64_t>(longLine.pieces)).literal(" pieces, ").add(heading[longLine.headingPieces])
        .number(static_cast<std::uint64_t>(data)).add(data == 1 ? " data line" : " data lines")
        .add(longLine.headingPieces == 2 && !longLine.last ? ", so line 2 is read as a data line" : "");
}

}  // namespace

void describeMessage(Text& text, const LineBuffer& piece, const PieceReport& report, const Noted& noted)
{
    const std::size_t at = noted.column - report.column;  // in the piece, for those in it
    switch (noted.kind) {
    case Finding::ShortLine:
        addShortScan(text, piece, report);
        break;
    case Finding::SignAfterDigit:
        addInteger(text.literal("a sign straight after a digit begins a new integer, "), piece,
                   report.found[noted.subject]);
        text.literal(", read as ").add(fieldOf(noted.subject));
        break;
    case Finding::Beyond32Bits:
        addInteger(text, piece, report.found[noted.subject]);
        text.literal(" lies beyond 32 bits: ").add(fieldOf(noted.subject)).literal(" is read as ")
            .signedNumber(report.found[noted.subject].value);
        break;
    case Finding::SeventhInteger:
        text.literal("a seventh integer, which is ignored with all that follows it");
        break;
    case Finding::GluedSixth:
        text.character(piece.text[at])
            .literal(" ends the sixth integer, and is ignored with all that follows it: ").add(fieldOf(kFields - 1))
            .literal(" is written as ").signedNumber(report.found[kFields - 1].value);
        break;
    case Finding::AfterSixth:
        text.character(piece.text[at]).literal(" after the sixth integer, which is ignored with all that follows it");
        break;
    case Finding::CutNumber:
        addCut(text, report);
        break;
    case Finding::LongLine:
        addLongLine(text, report.longLine);
        break;
    case Finding::LoneReturn:
        text.literal("a carriage return that ends no line: the conversion reads it as a blank, where an editor "
                     "may begin a new line");
        break;
    case Finding::HeadingWithData:
        text.literal("read as a heading line and dropped, but holds ")
            .number(static_cast<std::uint64_t>(report.held))
            .literal(" integers as a data line does (is the heading missing?)");
        break;
    case Finding::NotText:
        text.literal("a NUL byte: the file is not text; its other findings are counted, not printed");
        break;
    case Finding::NoDataLine:
        describeNoDataLine(text);
        break;
    }
}

void describeNoDataLine(Text& text)
{
    text.literal("no data line: the new spare file will hold the heading alone, no record");
}

void describeCounts(const FindingCounts& counts, Text& text)
{
    static constexpr const char* kNames[kFindingKinds][2] = {
        {"short line", "short lines"},
        {"sign after a digit", "signs after a digit"},
        {"integer beyond 32 bits", "integers beyond 32 bits"},
        {"seventh integer", "seventh integers"},
        {"sixth integer glued to a character", "sixth integers glued to a character"},
        {"character after the sixth integer", "characters after the sixth integer"},
        {"number cut by a piece's end", "numbers cut by a piece's end"},
        {"long line", "long lines"},
        {"carriage return that ends no line", "carriage returns that end no line"},
        {"heading line with data", "heading lines with data"},
        {"file without a data line", "files without a data line"},
        {"file that is not text", "files that are not text"}};
    const char* separator = "";
    for (int kind = 0; kind < kFindingKinds; ++kind) {
        if (counts.of[kind] == 0)
            continue;
        text.add(separator).number(counts.of[kind]).literal(" ").add(kNames[kind][counts.of[kind] == 1 ? 0 : 1]);
        separator = ", ";
    }
}

namespace {

// Writes the count decimal digits of value to digits, four at a time from
// the last, then two.
void putDigits(char* digits, std::size_t count, std::uint64_t value)
{
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                     "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                     "8081828384858687888990919293949596979899";
    char* last = digits + count;
    for (; value >= 10000; value /= 10000) {
        const auto four = static_cast<unsigned>(value % 10000);
        std::memcpy(last -= 2, kPairs + 2 * (four % 100), 2);
        std::memcpy(last -= 2, kPairs + 2 * (four / 100), 2);
    }
    if (value >= 100) {
        std::memcpy(last -= 2, kPairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10)
        std::memcpy(last - 2, kPairs + 2 * value, 2);
    else
        last[-1] = static_cast<char>('0' + value);
}

}  // namespace

Text& Text::number(std::uint64_t value)
{
    static constexpr std::uint64_t kTens[20] = {1,
                                                10,
                                                100,
                                                1000,
                                                10000,
                                                100000,
                                                1000000,
                                                10000000,
                                                100000000,
                                                1000000000,
                                                10000000000,
                                                100000000000,
                                                1000000000000,
                                                10000000000000,
                                                100000000000000,
                                                1000000000000000,
                                                10000000000000000,
                                                100000000000000000,
                                                1000000000000000000,
                                                10000000000000000000u};
    // Its digits: the power of ten below its highest bit, or one more.
    const int bits = 64 - std::countl_zero(value | 1);
    const auto below = static_cast<std::size_t>(bits * 1233 >> 12);  // 1233 / 4096: log10(2), a little over
    const std::size_t count = below + ((value | 1) >= kTens[below]);
    char digits[20];
    putDigits(digits, count, value);
    return add(digits, count);  // its first digits, as many as fit
}

Text& Text::signedNumber(std::int64_t value)
{
    const bool negative = value < 0;
    if (negative)
        add("-");
    return number(negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
}

Text& Text::character(char c)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0)
        return add("a NUL byte");
    if (byte > ' ' && byte < 0x7F) {
        const bool escaped = inJson_ && (c == '"' || c == '\\');
        const char quoted[] = {'\'', '\\', c, '\''};
        add(quoted, 1).add(quoted + 2 - escaped, 1 + escaped);
        return add(quoted + 3, 1);
    }
    const char code[] = {kHex[byte >> 4], kHex[byte & 15]};
    return add("the byte 0x").add(code, sizeof code);
}

