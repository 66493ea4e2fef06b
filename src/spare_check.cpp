// The check's account of each line piece (checkPiece): the conversion's
// reading of it, and the findings it comes to, in the order of their
// columns; and the quiet lines passed over a block at a time.
#include "spare_check.hpp"

#include "platform.hpp"
#include "vectors.hpp"

#include <algorithm>
#include <utility>
#include <bit>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

// Counts the count characters at text into where: a UTF-8 character takes
// one column, and so does a byte that begins none or cuts one short (the
// standard's ranges: no overlong form, no surrogate, nothing past
// U+10FFFF); on the screen a tab moves to the next multiple of 8.
void countColumns(Columns columns, ColumnCount& where, const char* text, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (where.pending > 0 && byte >= where.low && byte <= where.high) {
            --where.pending;
            where.low = 0x80;
            where.high = 0xBF;
            continue;
        }
        if (byte == '\t' && columns == Columns::Display)
            where.columns = (where.columns / 8 + 1) * 8;
        else
            ++where.columns;
        where.pending = byte >= 0xF5 ? 0 : byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC2 ? 1 : 0;
        where.low = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
        where.high = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
    }
}

// The column (from 1) of the character after the count characters at text,
// which follow where.
std::size_t columnAfter(Columns columns, ColumnCount where, const char* text, std::size_t count)
{
    countColumns(columns, where, text, count);
    return where.columns + 1;
}

// Notes a finding of the kind at the place (from 0) in the piece.
void note(PieceReport& report, Finding kind, std::size_t at, int subject = 0)
{
    report.list[report.findings++] = {kind, report.column + at, 0, subject};
}

// Fills in where and how the scan of the piece stopped, as the scanner
// tells: at a character, or at the end of the piece, which is the end of its
// line when it holds the newline or the file ends right after it.
void tellStop(const LineBuffer& piece, const ScanStopPoint& stop, bool endsFile, PieceReport& report)
{
    report.stopAt = stop.at;
    const bool newline = piece.text[piece.length - 1] == '\n';
    if (stop.at < piece.length)
        report.stop = !stop.loneSign                                     ? ScanStop::Character
                      : stop.at + 1 == piece.length && !newline && !endsFile ? ScanStop::SignAtPieceEnd
                                                                             : ScanStop::LoneSign;
    else
        report.stop = newline ? ScanStop::LineEnd : endsFile ? ScanStop::FileEnd : ScanStop::PieceEnd;
}

// Scans a data line piece into the report, notes what it comes to, and
// which fields it supplies.  (A quiet line comes here only when it ends
// past the block that the quiet pass looked at: it is scanned as any.)
void scanDataPiece(CheckState& state, const LineBuffer& piece, bool endsFile, PieceReport& report)
{
    ScanStopPoint stop;
    const int read = scanIntegers(piece.text, std::end(piece.text), report.found, kFields + 1, &stop);
    report.seventh = read > kFields;
    report.integers = report.seventh ? kFields : read;
    for (int i = 0; i < report.integers; ++i) {
        if (i > 0 && report.found[i].begin == report.found[i - 1].end)
            note(report, Finding::SignAfterDigit, report.found[i].begin, i);
        if (report.found[i].beyond)
            note(report, Finding::Beyond32Bits, report.found[i].begin, i);
    }
    if (report.seventh) {
        note(report, Finding::SeventhInteger, report.found[kFields].begin);
    } else if (read == kFields && stop.at < piece.length) {
        // What follows the sixth integer, but whitespace, is ignored
        // with all that follows it, silently.
        report.stopAt = stop.at;
        note(report, stop.at == report.found[kFields - 1].end ? Finding::GluedSixth : Finding::AfterSixth,
             stop.at);
    } else if (read < kFields) {
        tellStop(piece, stop, endsFile, report);
        const bool atCharacter = report.stop >= ScanStop::Character;
        note(report, Finding::ShortLine, atCharacter ? report.stopAt : 0);
    }
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

// Notes the number, or the sign, that the piece before ended with, when
// this piece goes on with its digits: the part it reads is its first
// integer.
void noteCut(const CheckState& state, const LineBuffer& piece, PieceReport& report)
{
    if (!state.trailing.active || report.heading)
        return;
    std::size_t digits = 0;
    while (digits < piece.length && characters::isDigit(piece.text[digits]))
        ++digits;
    if (digits == 0)
        return;
    report.cut = state.trailing;
    std::size_t shown = std::strlen(report.cut.digits);
    for (std::size_t i = 0; i < digits && shown < sizeof report.cut.digits - 1; ++i)
        report.cut.digits[shown++] = piece.text[i];
    report.cut.before = report.cut.count;
    report.cut.count += digits;
    note(report, Finding::CutNumber, 0);
}

// Keeps in state the number, or the sign, that the piece ends with, in the
// middle of its line, and how the piece took it.
void keepTrailing(CheckState& state, const LineBuffer& piece, const PieceReport& report)
{
    CutNumber& trailing = state.trailing;
    const char* first = piece.text + piece.length;  // of the digits it ends with
    while (first != piece.text && characters::isDigit(first[-1]))
        --first;
    std::size_t start = static_cast<std::size_t>(first - piece.text);
    const std::size_t digits = piece.length - start;
    const bool continued = start == 0 && report.cut.active;  // the piece is all digits of one number
    if (continued) {
        trailing = report.cut;
    } else {
        trailing = {};
        if (first != piece.text && characters::isSign(first[-1]))
            trailing.sign = piece.text[--start];
        if (start == piece.length)
            return;
        const std::size_t shown = std::min(digits, sizeof trailing.digits - 1);
        std::memcpy(trailing.digits, piece.text + piece.length - digits, shown);
        trailing.digits[shown] = '\0';
        trailing.count = digits;
    }
    trailing.active = true;
    trailing.fate = CutFate::NotReached;
    if (report.heading) {
        trailing.fate = CutFate::Heading;
        return;
    }
    const int read = report.integers + report.seventh;
    for (int i = 0; i < read; ++i) {
        if (report.found[i].begin == start) {
            trailing.fate = i < kFields ? CutFate::Read : CutFate::Seventh;
            trailing.field = i;
            trailing.value = report.found[i].value;
            return;
        }
    }
    if (report.integers == kFields)
        trailing.fate = CutFate::Ignored;
    else if (report.stop == ScanStop::SignAtPieceEnd)
        trailing.fate = CutFate::StopsScan;
}

// Notes every carriage return of the piece that ends no line, the one that
// ended the piece before among them: editors may begin a new line there,
// where the conversion reads a blank.
void noteReturns(CheckState& state, const LineBuffer& piece, bool endsFile, PieceReport& report)
{
    if (state.pendingReturn != 0 && piece.text[0] != '\n')
        report.list[report.findings++] = {Finding::LoneReturn, state.pendingReturn, state.pendingDisplay, 1};
    state.pendingReturn = 0;
    const char* const end = piece.text + piece.length;
    for (const char* r = piece.text; r < end; ++r) {
        r = static_cast<const char*>(std::memchr(r, '\r', static_cast<std::size_t>(end - r)));
        if (r == nullptr)
            break;
        const auto at = static_cast<std::size_t>(r - piece.text);
        if (at + 1 == piece.length && !endsFile) {  // a newline may begin the next piece
            state.pendingReturn = report.column + at;
            state.pendingDisplay =
                state.columns != Columns::Bytes ? columnAfter(state.columns, state.lineColumns, piece.text, at) : 0;
        } else if (at + 1 == piece.length || r[1] != '\n') {
            note(report, Finding::LoneReturn, at);
        }
    }
}

// Counts the piece into the line it belongs to, and the line into the file
// once the piece ends it; notes a line that took more than one piece.
void countPiece(CheckState& state, const LineBuffer& piece, bool endsFile, bool returnBefore, PieceReport& report)
{
    state.lineLength += piece.length;
    ++state.linePieces;
    state.lineHeadingPieces += report.heading;
    if (!report.heading && state.linePieces - state.lineHeadingPieces == 1)
        ++state.dataLines;
    const bool newline = piece.text[piece.length - 1] == '\n';
    report.endsLine = newline || endsFile;
    if (!report.endsLine) {
        // (The next piece's columns begin where this one's end.)
        if (state.columns != Columns::Bytes)
            countColumns(state.columns, state.lineColumns, piece.text, piece.length);
        keepTrailing(state, piece, report);
        return;
    }
    state.trailing = {};
    if (state.linePieces > 1) {
        const bool crlf = newline && std::string_view(piece.text, piece.length).ends_with("\r\n");
        report.longLine = {state.line, state.lineLength, state.linePieces, state.lineHeadingPieces, newline,
                           crlf || (newline && piece.length == 1 && returnBefore), endsFile};
        report.list[report.findings++] = {Finding::LongLine, 1, 1, 0};
    }
    ++state.line;
    state.lineLength = 0;
    state.lineColumns = {};
    state.linePieces = state.lineHeadingPieces = 0;
}

// Puts the findings in the order of their columns, those of one column in
// the order noted, and gives each its column of the kind asked besides.
void orderFindings(Columns columns, ColumnCount where, const LineBuffer& piece, PieceReport& report)
{
    Noted* const list = report.list;
    for (int i = 1; i < report.findings; ++i)
        for (int j = i; j > 0 && list[j].column < list[j - 1].column; --j)
            std::swap(list[j], list[j - 1]);
    if (columns == Columns::Bytes)
        return;
    std::size_t at = 0;
    for (int i = 0; i < report.findings; ++i) {
        Noted& noted = report.list[i];
        if (noted.display != 0)
            continue;  // given before the piece: the line's own, or the piece before's
        countColumns(columns, where, piece.text + at, noted.column - report.column - at);
        at = noted.column - report.column;
        noted.display = where.columns + 1;
    }
}

}  // namespace

void checkPiece(CheckState& state, const LineBuffer& piece, bool endsFile, PieceReport& report)
{
    static_cast<PieceReading&>(report) = {};
    report.findings = 0;
    report.cut.active = false;
    report.line = state.line;
    report.column = state.lineLength + 1;
    report.heading = state.pieces < 2;
    ++state.pieces;
    if (!state.sawNul) {
        if (const void* nul = std::memchr(piece.text, '\0', piece.length)) {
            state.sawNul = true;
            note(report, Finding::NotText, static_cast<std::size_t>(static_cast<const char*>(nul) - piece.text));
        }
    }
    const bool returnBefore = state.pendingReturn != 0;
    noteReturns(state, piece, endsFile, report);
    noteCut(state, piece, report);
    if (report.heading) {
        report.integers = scanIntegers(piece.text, std::end(piece.text), report.found, kFields);
        report.held = countIntegers(piece.text, std::end(piece.text));
        if (report.integers >= 3)
            note(report, Finding::HeadingWithData, 0);
    } else {
        report.dataPiece = ++state.dataPieces;
        scanDataPiece(state, piece, endsFile, report);
    }
    const ColumnCount where = state.lineColumns;  // (where the piece begins)
    countPiece(state, piece, endsFile, returnBefore, report);
    orderFindings(state.columns, where, piece, report);
}

std::size_t passQuietLines(CheckState& state, const char* text, std::size_t available)
{
    const QuietLines quiet = quietLines(text, available, LineBuffer::kMaxPieceLength);
    if (quiet.count > 0) {
        state.pieces += quiet.count;
        state.dataPieces += quiet.count;
        state.dataLines += quiet.count;
        state.line += quiet.count;
        // The values that the next piece short of fields repeats: the last
        // quiet line's, as the scanner reads them.
        std::int32_t* const fields[kFields] = {state.lastValues,     state.lastValues + 1, state.lastValues + 2,
                                               state.lastValues + 3, state.lastValues + 4, state.lastValues + 5};
        scanPiece(text + quiet.lastStart, quiet.length - quiet.lastStart, text + available + kScanWindow, 0, fields,
                  kFields);
        for (std::uint64_t& line : state.lastSupplied)
            line = state.line - 1;
    }
    return quiet.length;
}


bool lacksDataLine(const CheckState& state)
{
    return state.dataPieces == 0;
}

