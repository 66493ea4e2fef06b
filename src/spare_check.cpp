#include "spare_check.hpp"

#include "platform.hpp"
#include "vectors.hpp"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

// The fields' names, as the new spare file's heading gives them.
constexpr const char* kFieldNames[kFields] = {"N1", "N2", "LINK#", "N1", "N2", "LINK#"};

// Counts the piece into the line it belongs to, and the line into the file
// once the piece ends it; true, with longLine told, when that line took
// more than one piece.
bool countPiece(CheckState& state, const LineBuffer& piece, bool heading, LongLine& longLine)
{
    state.lineLength += piece.length;
    ++state.linePieces;
    state.lineHeadingPieces += heading;
    if (!heading && state.linePieces - state.lineHeadingPieces == 1)
        ++state.dataLines;
    if (piece.text[piece.length - 1] != '\n') {
        state.lastCharacter = piece.text[piece.length - 1];
        // The digits it ends with, the last fifteen of them, which the next
        // piece may go on with.
        std::size_t start = piece.length;
        while (start > 0 && piece.length - start < sizeof state.trailingDigits - 1 &&
               characters::isDigit(piece.text[start - 1]))
            --start;
        std::snprintf(state.trailingDigits, sizeof state.trailingDigits, "%.*s",
                      static_cast<int>(piece.length - start), piece.text + start);
        return false;  // the line goes on, or the file ends: finishFile tells
    }
    state.trailingDigits[0] = '\0';
    const bool isLong = state.linePieces > 1;
    const char beforeNewline = piece.length > 1 ? piece.text[piece.length - 2] : state.lastCharacter;
    longLine = {state.line, state.lineLength - 1, state.linePieces, state.lineHeadingPieces, beforeNewline == '\r'};
    ++state.line;
    state.lineLength = 0;
    state.lastCharacter = '\0';
    state.linePieces = state.lineHeadingPieces = 0;
    return isLong;
}

// Fills in where and how the scan of the piece stopped, as the scanner
// tells: at a character, or at the end of the piece, which is the end of its
// line when it holds the newline or the file ends right after it (fileEnds).
void tellStop(const LineBuffer& piece, const ScanStopPoint& stop, bool fileEnds, PieceReport& report)
{
    report.stopAt = stop.at;
    if (stop.at < piece.length)
        report.stop = stop.loneSign ? ScanStop::LoneSign : ScanStop::Character;
    else
        report.stop = piece.text[piece.length - 1] == '\n' ? ScanStop::LineEnd
                      : fileEnds                           ? ScanStop::FileEnd
                                                           : ScanStop::PieceEnd;
}

// Scans a data line piece into the report, and notes which fields it
// supplies: all six at once where the piece is quiet, as most are.
void scanDataPiece(CheckState& state, const LineBuffer& piece, bool fileEnds, PieceReport& report)
{
    if (quietIntegers(piece.text, piece.length) == kFields) {
        report.integers = kFields;
        report.quiet = true;
    } else {
        ScanStopPoint stop;
        const int read = scanIntegers(piece.text, std::end(piece.text), report.found, kFields + 1, &stop);
        report.seventh = read > kFields;
        report.integers = report.seventh ? kFields : read;
        if (read < kFields)
            tellStop(piece, stop, fileEnds, report);
        // What ends the sixth integer, when it is no whitespace, is ignored
        // with all that follows it, silently.
        report.glued = read == kFields && stop.at == report.found[kFields - 1].end && stop.at < piece.length;
        if (report.glued)
            report.stopAt = stop.at;
    }
    if (report.quiet)  // (a quiet piece's integers are read only for their values)
        scanIntegers(piece.text, std::end(piece.text), report.found, kFields);
    for (int field = 0; field < kFields; ++field) {
        if (field < report.integers) {
            state.lastSupplied[field] = report.line;
            state.lastValues[field] = report.found[field].value;
        } else {
            report.carriedFrom[field] = state.lastSupplied[field];
            report.carried[field] = state.lastValues[field];
        }
    }
}

// A finding's line up to its message, as compilers print a warning: the
// path, the line and the column (from 1), and the word warning.
Text finding(const char* path, std::uint64_t line, std::size_t column)
{
    Text text;
    text.add(path).literal(":").number(line).literal(":").number(column).literal(": warning: ");
    return text;
}

// Ends the line of text and gives it to the sink.
void emit(const FindingSink& sink, Text& text)
{
    sink.line(text.literal("\n"));
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
        text.add(more ? "; " : "").add(first == 0 ? "the left record's " : "the right record's ");
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

// Prints the finding of a data line piece that supplies fewer than six
// integers: how many, what stopped the scan, and what the missing fields
// become.
void printShortScan(const FindingSink& sink, const char* path, const LineBuffer& piece, const PieceReport& report)
{
    const bool atCharacter = report.stop == ScanStop::Character || report.stop == ScanStop::LoneSign;
    Text text = finding(path, report.line, report.column + (atCharacter ? report.stopAt : 0));
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
    case ScanStop::None:
        break;
    }
    text.literal(": ");
    bool more = false;
    addCarried(text, report, 0, more);
    addCarried(text, report, 3, more);
    emit(sink, text);
}

// The field that the integer at index (from 0) fills, as a person names it.
const char* fieldOf(int index)
{
    static constexpr const char* kNames[kFields] = {
        "the left record's N1",  "the left record's N2",  "the left record's LINK#",
        "the right record's N1", "the right record's N2", "the right record's LINK#"};
    return kNames[index];
}

}  // namespace

bool checkPiece(CheckState& state, const LineBuffer& piece, bool fileEnds, PieceReport& report, LongLine& longLine)
{
    report = {};
    report.line = state.line;
    report.column = state.lineLength + 1;
    report.heading = state.pieces < 2;
    ++state.pieces;
    if (report.heading) {
        report.integers = scanIntegers(piece.text, std::end(piece.text), report.found, kFields);
        report.held = countIntegers(piece.text, std::end(piece.text));
    } else {
        ++state.dataPieces;
        scanDataPiece(state, piece, fileEnds, report);
        if (state.trailingDigits[0] != '\0' && characters::isDigit(piece.text[0]))
            std::snprintf(report.cutBefore, sizeof report.cutBefore, "%s", state.trailingDigits);
    }
    return countPiece(state, piece, report.heading, longLine);
}

std::size_t passQuietLines(CheckState& state, const char* text, std::size_t available)
{
    using namespace vectors;
    std::size_t lineStart = 0;     // of the line being looked at
    std::size_t lastStart = 0;     // of the last line passed over
    std::uint64_t lines = 0;
    unsigned integers = 0;         // of that line so far
    bool quiet = true;             // so far
    Word lastDigits = 0;           // the chunk before's
    for (std::size_t at = 0; at < available; at += 64) {
        Word digits = 0, others = 0, newlines = 0;
        for (std::size_t i = 0; i < 64; i += sizeof(Bytes)) {
            const Bytes bytes = bytesAt(text + at + i);
            const ByteMask digit = digitBytes(bytes);
            digits |= maskBits(digit) << i;
            others |= maskBits(~(digit | spaceBytes(bytes))) << i;
            newlines |= maskBits(bytes == '\n') << i;
        }
        // Where a run of ten digits ends, and where each integer starts.
        const Word tenDigits = tenDigitEnds(digits, lastDigits);
        Word starts = digits & ~(digits << 1 | lastDigits >> 63);
        Word bad = others | tenDigits;
        lastDigits = digits;
        std::size_t from = 0;  // the first bit of the chunk in the line
        for (; newlines != 0; newlines &= newlines - 1) {
            const auto end = static_cast<std::size_t>(std::countr_zero(newlines));
            const Word line = (~Word{0} >> (63 - end)) & ~((Word{1} << from) - 1);
            integers += static_cast<unsigned>(std::popcount(starts & line));
            quiet = quiet && (bad & line) == 0;
            if (!quiet || integers != kFields || at + end + 1 - lineStart > LineBuffer::kMaxPieceLength)
                break;
            ++lines;
            lastStart = lineStart;
            lineStart = at + end + 1;
            integers = 0;
            from = end + 1;
        }
        if (newlines != 0 || lineStart > available)
            break;
        const Word rest = from < 64 ? ~((Word{1} << from) - 1) : 0;
        integers += static_cast<unsigned>(std::popcount(starts & rest));
        quiet = quiet && (bad & rest) == 0;
        if (!quiet || integers > kFields || at + 64 - lineStart > LineBuffer::kMaxPieceLength)
            break;
    }
    if (lines > 0) {
        state.pieces += lines;
        state.dataPieces += lines;
        state.dataLines += lines;
        state.line += lines;
        for (std::uint64_t& line : state.lastSupplied)
            line = state.line - 1;
        // The values that the next piece short of fields repeats: a quiet
        // line's six integers are digits between blanks, none of more than
        // nine digits.
        const char* p = text + lastStart;
        for (std::int32_t& value : state.lastValues) {
            while (!characters::isDigit(*p))
                ++p;
            for (value = 0; characters::isDigit(*p); ++p)
                value = value * 10 + (*p - '0');
        }
    }
    return lineStart;
}

bool finishFile(CheckState& state, LongLine& longLine)
{
    if (state.linePieces == 0)
        return false;
    longLine = {state.line, state.lineLength, state.linePieces, state.lineHeadingPieces};
    return state.linePieces > 1;
}

bool hasFinding(const PieceReport& report)
{
    if (report.heading)
        return report.integers >= 3;
    if (report.quiet)
        return false;
    if (report.integers < kFields || report.seventh || report.glued || report.cutBefore[0] != '\0')
        return true;
    for (int i = 0; i < report.integers; ++i)
        if (report.found[i].beyond || (i > 0 && report.found[i].begin == report.found[i - 1].end))
            return true;
    return false;
}

void printFindings(const FindingSink& sink, const char* path, const LineBuffer& piece, const PieceReport& report)
{
    if (report.heading) {
        if (report.integers >= 3) {
            Text text = finding(path, report.line, report.column);
            text.literal("read as a heading line and dropped, but holds ")
                .number(static_cast<std::uint64_t>(report.held))
                .literal(" integers as a data line does (is the heading missing?)");
            emit(sink, text);
        }
        return;
    }
    if (report.quiet)
        return;
    if (report.cutBefore[0] != '\0') {
        std::size_t digits = 0;
        while (digits < 15 && characters::isDigit(piece.text[digits]))
            ++digits;
        Text text = finding(path, report.line, report.column);
        text.literal("the number ").add(report.cutBefore).add(piece.text, digits)
            .literal(" is cut in two by the end of the line piece before: it is read as ").add(report.cutBefore)
            .literal(" and ").add(piece.text, digits);
        emit(sink, text);
    }
    for (int i = 0; i < report.integers; ++i) {
        const ScannedInteger& integer = report.found[i];
        const std::size_t digits = integer.end - integer.begin;
        if (i > 0 && integer.begin == report.found[i - 1].end) {
            Text text = finding(path, report.line, report.column + integer.begin);
            text.literal("a sign straight after a digit begins a new integer, ").add(piece.text + integer.begin, digits)
                .literal(", read as ").add(fieldOf(i));
            emit(sink, text);
        }
        if (integer.beyond) {
            Text text = finding(path, report.line, report.column + integer.begin);
            text.add(piece.text + integer.begin, digits).literal(" lies beyond 32 bits: ").add(fieldOf(i))
                .literal(" is read as ").signedNumber(integer.value);
            emit(sink, text);
        }
    }
    if (report.seventh) {
        Text text = finding(path, report.line, report.column + report.found[kFields].begin);
        emit(sink, text.literal("a seventh integer, which is ignored with all that follows it"));
    }
    if (report.glued) {
        Text text = finding(path, report.line, report.column + report.stopAt);
        text.character(piece.text[report.stopAt])
            .literal(" ends the sixth integer, and is ignored with all that follows it: ").add(fieldOf(kFields - 1))
            .literal(" is written as ").signedNumber(report.found[kFields - 1].value);
        emit(sink, text);
    }
    if (report.integers < kFields)
        printShortScan(sink, path, piece, report);
}

void countFindings(const PieceReport& report, FindingCounts& counts)
{
    if (report.heading) {
        if (report.integers >= 3)
            counts.add(Finding::HeadingWithData);
        return;
    }
    if (report.quiet)
        return;
    for (int i = 0; i < report.integers; ++i) {
        if (i > 0 && report.found[i].begin == report.found[i - 1].end)
            counts.add(Finding::SignAfterDigit);
        if (report.found[i].beyond)
            counts.add(Finding::Beyond32Bits);
    }
    if (report.seventh)
        counts.add(Finding::SeventhInteger);
    if (report.glued)
        counts.add(Finding::GluedSixth);
    if (report.cutBefore[0] != '\0')
        counts.add(Finding::CutNumber);
    if (report.integers < kFields)
        counts.add(Finding::ShortLine);
}

void describeCounts(const FindingCounts& counts, Text& text)
{
    static constexpr const char* kNames[kFindingKinds][2] = {
        {"short line", "short lines"},
        {"sign after a digit", "signs after a digit"},
        {"integer beyond 32 bits", "integers beyond 32 bits"},
        {"seventh integer", "seventh integers"},
        {"sixth integer glued to a character", "sixth integers glued to a character"},
        {"number cut by a piece's end", "numbers cut by a piece's end"},
        {"long line", "long lines"},
        {"heading line with data", "heading lines with data"},
        {"file without a data line", "files without a data line"}};
    const char* separator = "";
    for (int kind = 0; kind < kFindingKinds; ++kind) {
        if (counts.of[kind] == 0)
            continue;
        text.add(separator).number(counts.of[kind]).literal(" ").add(kNames[kind][counts.of[kind] == 1 ? 0 : 1]);
        separator = ", ";
    }
}

void printNoDataLine(const FindingSink& sink, const char* path)
{
    Text text = finding(path, 1, 1);
    emit(sink, text.literal("no data line: the new spare file will hold the heading alone, no record"));
}

void printLongLine(const FindingSink& sink, const char* path, const LongLine& longLine)
{
    const int data = longLine.pieces - longLine.headingPieces;
    const char* const heading[] = {"", "the heading's second and ", "both of the heading's and "};
    Text text = finding(path, longLine.line, 1);
    text.number(longLine.length)
        .add(longLine.carriageReturn ? " characters (the carriage return of its CRLF end counts)" : " characters")
        .literal(" are too many for one line piece: the line is read as ")
        .number(static_cast<std::uint64_t>(longLine.pieces)).literal(" pieces, ").add(heading[longLine.headingPieces])
        .number(static_cast<std::uint64_t>(data)).add(data == 1 ? " data line" : " data lines")
        .add(longLine.headingPieces == 2 && !longLine.last ? ", so line 2 is read as a data line" : "");
    emit(sink, text);
}

Text& Text::add(const char* text, std::size_t count)
{
    const std::size_t room = sizeof bytes_ - 1 - used_;
    count = count < room ? count : room;
    std::memcpy(bytes_ + used_, text, count);
    used_ += count;
    bytes_[used_] = '\0';
    return *this;
}

Text& Text::add(const char* text)
{
    return add(text, std::strlen(text));
}

Text& Text::number(std::uint64_t value)
{
    char digits[24];
    std::size_t count = 0;
    do
        digits[sizeof digits - ++count] = static_cast<char>('0' + value % 10);
    while ((value /= 10) != 0);
    return add(digits + sizeof digits - count, count);
}

Text& Text::signedNumber(std::int64_t value)
{
    if (value < 0)
        add("-");
    return number(value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
}

Text& Text::character(char c)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0)
        return add("a NUL byte");
    if (byte > ' ' && byte < 0x7F) {
        const char quoted[] = {'\'', c, '\''};
        return add(quoted, sizeof quoted);
    }
    const char code[] = {kHex[byte >> 4], kHex[byte & 15]};
    return add("the byte 0x").add(code, sizeof code);
}
