// The check's account of each line piece (checkPiece): the conversion's
// reading of it, and the findings it comes to, in the order of their
// columns; the quiet lines passed over a block at a time; and the texts of
// the findings and of the summary's counts.
#include "spare_check.hpp"

#include "platform.hpp"
#include "vectors.hpp"

#include <algorithm>
#include <utility>
#include <bit>
#include <cstring>
#include <iterator>

namespace {

// The fields' names, as the new spare file's heading gives them.
constexpr const char* kFieldNames[kFields] = {"N1", "N2", "LINK#", "N1", "N2", "LINK#"};

// The field that the integer at index (from 0) fills, as a person names it.
std::string_view fieldOf(int index)
{
    static constexpr std::string_view kNames[kFields] = {
        "the left record's N1",  "the left record's N2",  "the left record's LINK#",
        "the right record's N1", "the right record's N2", "the right record's LINK#"};
    return kNames[index];
}

// Where the screen column from (from 0) stands after the count characters
// at text: a tab moves to the next multiple of 8, a UTF-8 character takes
// one column (its continuation bytes none).
std::size_t displayAfter(std::size_t from, const char* text, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t')
            from = (from / 8 + 1) * 8;
        else
            from += (byte & 0xC0) != 0x80;
    }
    return from;
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
    std::size_t start = piece.length;
    while (start > 0 && characters::isDigit(piece.text[start - 1]))
        --start;
    const std::size_t digits = piece.length - start;
    const bool continued = start == 0 && report.cut.active;  // the piece is all digits of one number
    if (continued) {
        trailing = report.cut;
    } else {
        trailing = {};
        if (start > 0 && characters::isSign(piece.text[start - 1]))
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
        report.list[report.findings++] = {Finding::LoneReturn, state.pendingReturn, state.pendingDisplay, 0};
    state.pendingReturn = 0;
    const char* const end = piece.text + piece.length;
    for (const char* r = piece.text; r < end; ++r) {
        r = static_cast<const char*>(std::memchr(r, '\r', static_cast<std::size_t>(end - r)));
        if (r == nullptr)
            break;
        const auto at = static_cast<std::size_t>(r - piece.text);
        if (at + 1 < piece.length) {
            if (r[1] != '\n')
                note(report, Finding::LoneReturn, at);
        } else if (!endsFile) {
            state.pendingReturn = report.column + at;
            state.pendingDisplay = state.screenColumns ? displayAfter(state.lineDisplay, piece.text, at) + 1 : 0;
        }
    }
}

// Counts the piece into the line it belongs to, and the line into the file
// once the piece ends it; notes a line that took more than one piece.
void countPiece(CheckState& state, const LineBuffer& piece, bool endsFile, bool returnBefore, PieceReport& report)
{
    state.lineLength += piece.length;
    if (state.screenColumns)
        state.lineDisplay = displayAfter(state.lineDisplay, piece.text, piece.length);
    ++state.linePieces;
    state.lineHeadingPieces += report.heading;
    if (!report.heading && state.linePieces - state.lineHeadingPieces == 1)
        ++state.dataLines;
    const bool newline = piece.text[piece.length - 1] == '\n';
    report.endsLine = newline || endsFile;
    if (!report.endsLine) {
        keepTrailing(state, piece, report);
        return;
    }
    state.trailing = {};
    if (state.linePieces > 1) {
        const bool crlf = newline && piece.length > 1 && piece.text[piece.length - 2] == '\r';
        report.longLine = {state.line, state.lineLength, state.linePieces, state.lineHeadingPieces, newline,
                           crlf || (newline && piece.length == 1 && returnBefore), endsFile};
        report.list[report.findings++] = {Finding::LongLine, 1, 1, 0};
    }
    ++state.line;
    state.lineLength = state.lineDisplay = 0;
    state.linePieces = state.lineHeadingPieces = 0;
}

// Puts the findings in the order of their columns, those of one column in
// the order noted, and gives each its screen column when asked (screen).
void orderFindings(bool screen, std::size_t display, const LineBuffer& piece, PieceReport& report)
{
    Noted* const list = report.list;
    for (int i = 1; i < report.findings; ++i)
        for (int j = i; j > 0 && list[j].column < list[j - 1].column; --j)
            std::swap(list[j], list[j - 1]);
    if (!screen)
        return;
    std::size_t at = 0;
    for (int i = 0; i < report.findings; ++i) {
        Noted& noted = report.list[i];
        if (noted.display != 0)
            continue;  // given before the piece: the line's own, or the piece before's
        display = displayAfter(display, piece.text + at, noted.column - report.column - at);
        at = noted.column - report.column;
        noted.display = display + 1;
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
        ++state.dataPieces;
        scanDataPiece(state, piece, endsFile && piece.text[piece.length - 1] != '\n', report);
    }
    const std::size_t display = state.lineDisplay;
    countPiece(state, piece, endsFile, returnBefore, report);
    orderFindings(state.screenColumns, display, piece, report);
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

namespace {

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

// A finding's line up to its message, as compilers print a warning: the
// path, the line and the column (from 1), and the word warning (copied
// apart from the colon before it, so that the word stands whole among the
// program's bytes, where a package check looks for misspelt words).
void begin(Text& text, std::string_view path, std::uint64_t line, std::size_t column)
{
    text.add(path).literal(":").number(line).literal(":").number(column).literal(": ").literal("warning: ");
}

}  // namespace

void describeFinding(Text& text, std::string_view path, const LineBuffer& piece, const PieceReport& report,
                     const Noted& noted, Columns columns)
{
    text.clear();
    const std::size_t at = noted.column - report.column;  // in the piece, for those in it
    begin(text, path, noted.kind == Finding::LongLine ? report.longLine.line : report.line,
          columns == Columns::Display ? noted.display : noted.column);
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
        break;
    }
    text.endLine();
}

void describeNoDataLine(Text& text, const char* path)
{
    text.clear();
    begin(text, path, 1, 1);
    text.literal("no data line: the new spare file will hold the heading alone, no record").endLine();
}

bool lacksDataLine(const CheckState& state)
{
    return state.dataPieces == 0;
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
    if (count > sizeof bytes_ - 1 - used_) {
        char digits[20];
        putDigits(digits, count, value);
        return add(digits, count);  // its first digits, as many as fit
    }
    putDigits(bytes_ + used_, count, value);
    used_ += count;
    bytes_[used_] = '\0';
    return *this;
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
