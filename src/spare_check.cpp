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

// Prints one finding as compilers print a warning: the path, the line and
// the column (from 1), the word warning, and the text.
void printFinding(const char* path, std::uint64_t line, std::size_t column, const char* text)
{
    char place[80];
    std::snprintf(place, sizeof place, ":%" PRIu64 ":%zu: warning: ", line, column);
    printMessage("%s", path);
    printMessage("%s", place);
    printMessage("%s\n", text);
}

// Appends text to the buffer of size characters, holding used of them.
void append(char* buffer, std::size_t size, std::size_t& used, const char* text)
{
    const int wrote = std::snprintf(buffer + used, size - used, "%s", text);
    used += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    used = used < size ? used : size - 1;
}

// Appends the character c as a person reads it: itself, quoted, when it is
// printable, else its code.
void appendCharacter(char* buffer, std::size_t size, std::size_t& used, char c)
{
    char text[32];
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0)
        std::snprintf(text, sizeof text, "a NUL byte");
    else if (byte > ' ' && byte < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "the byte 0x%02X", byte);
    append(buffer, size, used, text);
}

// Appends what the fields of one record (first the left's, 3 the right's)
// that the piece does not supply become: grouped by the line they repeat.
void appendCarried(char* buffer, std::size_t size, std::size_t& used, const PieceReport& report, int first)
{
    bool done[3] = {};
    for (int i = 0; i < 3; ++i) {
        const int field = first + i;
        if (field < report.integers || done[i])
            continue;
        const std::uint64_t from = report.carriedFrom[field];
        append(buffer, size, used, used > 0 && buffer[used - 1] != ' ' ? "; " : "");
        append(buffer, size, used, first == 0 ? "the left record's " : "the right record's ");
        int same[3];
        int named = 0;
        for (int j = i; j < 3; ++j)
            if (first + j >= report.integers && report.carriedFrom[first + j] == from)
                same[named++] = j;
        for (int k = 0; k < named; ++k) {
            done[same[k]] = true;
            append(buffer, size, used, k == 0 ? "" : k + 1 < named ? ", " : " and ");
            append(buffer, size, used, kFieldNames[first + same[k]]);
        }
        char source[64];
        if (from == 0)
            std::snprintf(source, sizeof source, " %s 0, no line having given %s yet", named > 1 ? "are" : "is",
                          named > 1 ? "them" : "it");
        else
            std::snprintf(source, sizeof source, " %s line %" PRIu64 "'s ", named > 1 ? "repeat" : "repeats", from);
        append(buffer, size, used, source);
        for (int k = 0; from != 0 && k < named; ++k) {
            std::snprintf(source, sizeof source, "%s%" PRId32, k == 0 ? "" : k + 1 < named ? ", " : " and ",
                          report.carried[first + same[k]]);
            append(buffer, size, used, source);
        }
    }
}

// Prints the finding of a data line piece that supplies fewer than six
// integers: how many, what stopped the scan, and what the missing fields
// become.
void printShortScan(const char* path, const LineBuffer& piece, const PieceReport& report)
{
    char text[512];
    std::size_t used = 0;
    if (report.integers == 0)
        std::snprintf(text, sizeof text, "no integer, then ");
    else
        std::snprintf(text, sizeof text, "%d integer%s of 6, then ", report.integers, report.integers == 1 ? "" : "s");
    used = std::strlen(text);
    switch (report.stop) {
    case ScanStop::LineEnd:
        append(text, sizeof text, used, "the end of the line");
        break;
    case ScanStop::FileEnd:
        append(text, sizeof text, used, "the end of the file");
        break;
    case ScanStop::PieceEnd:
        append(text, sizeof text, used, "the end of the line piece");
        break;
    case ScanStop::Character:
        appendCharacter(text, sizeof text, used, piece.text[report.stopAt]);
        append(text, sizeof text, used, ", which stops the scan");
        break;
    case ScanStop::LoneSign:
        appendCharacter(text, sizeof text, used, piece.text[report.stopAt]);
        append(text, sizeof text, used, " with no digit after it, which stops the scan");
        break;
    case ScanStop::None:
        break;
    }
    append(text, sizeof text, used, ": ");
    appendCarried(text, sizeof text, used, report, 0);
    appendCarried(text, sizeof text, used, report, 3);
    const bool atCharacter = report.stop == ScanStop::Character || report.stop == ScanStop::LoneSign;
    printFinding(path, report.line, report.column + (atCharacter ? report.stopAt : 0), text);
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
        Word tenDigits = digits;
        for (int shift = 1; shift < 10; ++shift)
            tenDigits &= digits << shift | lastDigits >> (64 - shift);
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
        // The values that the next piece short of fields repeats.
        ScannedInteger found[kFields];
        scanIntegers(text + lastStart, text + available + 64, found, kFields);
        for (int field = 0; field < kFields; ++field)
            state.lastValues[field] = found[field].value;
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

void printFindings(const char* path, const LineBuffer& piece, const PieceReport& report)
{
    char text[512];
    if (report.heading) {
        if (report.integers >= 3) {
            std::snprintf(text, sizeof text,
                          "read as a heading line and dropped, but holds %d integers as a data line does "
                          "(is the heading missing?)",
                          report.held);
            printFinding(path, report.line, report.column, text);
        }
        return;
    }
    if (report.quiet)
        return;
    if (report.cutBefore[0] != '\0') {
        std::size_t digits = 0;
        while (digits < 15 && characters::isDigit(piece.text[digits]))
            ++digits;
        std::snprintf(text, sizeof text,
                      "the number %s%.*s is cut in two by the end of the line piece before: it is read as %s and %.*s",
                      report.cutBefore, static_cast<int>(digits), piece.text, report.cutBefore,
                      static_cast<int>(digits), piece.text);
        printFinding(path, report.line, report.column, text);
    }
    for (int i = 0; i < report.integers; ++i) {
        const ScannedInteger& integer = report.found[i];
        const int digits = static_cast<int>(integer.end - integer.begin);
        if (i > 0 && integer.begin == report.found[i - 1].end) {
            std::snprintf(text, sizeof text, "a sign straight after a digit begins a new integer, %.*s, read as %s",
                          digits, piece.text + integer.begin, fieldOf(i));
            printFinding(path, report.line, report.column + integer.begin, text);
        }
        if (integer.beyond) {
            std::snprintf(text, sizeof text, "%.*s lies beyond 32 bits: %s is read as %" PRId32, digits,
                          piece.text + integer.begin, fieldOf(i), integer.value);
            printFinding(path, report.line, report.column + integer.begin, text);
        }
    }
    if (report.seventh)
        printFinding(path, report.line, report.column + report.found[kFields].begin,
                     "a seventh integer, which is ignored with all that follows it");
    if (report.glued) {
        std::size_t used = 0;
        text[0] = '\0';
        appendCharacter(text, sizeof text, used, piece.text[report.stopAt]);
        char rest[160];
        std::snprintf(rest, sizeof rest, " ends the sixth integer, and is ignored with all that follows it: %s is "
                      "written as %" PRId32, fieldOf(kFields - 1), report.found[kFields - 1].value);
        append(text, sizeof text, used, rest);
        printFinding(path, report.line, report.column + report.stopAt, text);
    }
    if (report.integers < kFields)
        printShortScan(path, piece, report);
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

void describeCounts(const FindingCounts& counts, char* text, std::size_t size, std::size_t& used)
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
        char count[96];
        std::snprintf(count, sizeof count, "%s%" PRIu64 " %s", separator, counts.of[kind],
                      kNames[kind][counts.of[kind] == 1 ? 0 : 1]);
        append(text, size, used, count);
        separator = ", ";
    }
}

void printNoDataLine(const char* path)
{
    printFinding(path, 1, 1, "no data line: the new spare file will hold the heading alone, no record");
}

void printLongLine(const char* path, const LongLine& longLine)
{
    const int data = longLine.pieces - longLine.headingPieces;
    const char* const heading[] = {"", "the heading's second and ", "both of the heading's and "};
    char text[512];
    std::snprintf(text, sizeof text,
                  "%zu characters%s are too many for one line piece: the line is read as %d pieces, %s%d data line%s%s",
                  longLine.length, longLine.carriageReturn ? " (the carriage return of its CRLF end counts)" : "",
                  longLine.pieces, heading[longLine.headingPieces], data, data == 1 ? "" : "s",
                  longLine.headingPieces == 2 && !longLine.last ? ", so line 2 is read as a data line" : "");
    printFinding(path, longLine.line, 1, text);
}
