// What the conversion's rules make of each line piece of an old spare file,
// for tabfold-check: its account, computed once from the scanner's reading
// and what the piece before left, with its findings in the order of their
// columns: the fields a data line piece does not supply, and so repeats
// from an earlier line, what ends its scan, which of its integers a sign
// splits, lies beyond 32 bits or is ignored, the numbers a piece's end
// cuts, the lines too long for one piece, the carriage returns that end no
// line, and the file's first NUL byte.  It reads pieces as the conversion
// reads them (readLinePiece) and scans them with the conversion's scanner,
// so that it tells what tabfold does, never something else.
#ifndef TABFOLD_SPARE_CHECK_HPP
#define TABFOLD_SPARE_CHECK_HPP

#include "scanner.hpp"
#include "spare_file.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The six fields a data line piece may supply: the left record's N1, N2 and
// LINK#, then the right record's.
constexpr int kFields = 6;

// What ended the scan of a data line piece before its sixth integer.
enum class ScanStop {
    None,       // all six were read
    LineEnd,    // the line ended, with its newline
    FileEnd,    // the file ended, the line without a newline
    PieceEnd,   // the piece ended, full, in the middle of the line
    Character,  // a character that no integer starts with, a NUL byte among them
    LoneSign,   // a sign with no digit after it
    SignAtPieceEnd,  // a sign that ends the piece, in the middle of the line
};

// The kinds of finding, in the order that a file's summary counts them.
enum class Finding {
    ShortLine,       // a data line piece of fewer than six integers
    SignAfterDigit,  // a sign straight after a digit, which begins an integer
    Beyond32Bits,    // an integer beyond 32 bits
    SeventhInteger,  // a seventh integer, ignored
    GluedSixth,      // a character straight after the sixth integer, ignored
    AfterSixth,      // a character after the sixth integer and whitespace, ignored
    CutNumber,       // a number, or a sign and its digits, parted by the end of a piece
    LongLine,        // a line too long for one piece
    LoneReturn,      // a carriage return that ends no line
    HeadingWithData, // a heading piece of three integers or more
    NoDataLine,      // a file with no data line
    NotText,         // the file's first NUL byte
};
constexpr int kFindingKinds = 12;

// Which columns a finding gives besides bytes: none, screen columns (tabs
// every 8, a UTF-8 character one column), or Unicode code points (a UTF-8
// character one column, a tab too).
enum class Columns { Bytes, Display, CodePoints };

// One finding of a piece's account: its kind, where it stands in its line
// (from 1, in bytes, and in the columns that the check is asked for
// besides, or 0), and which integer of the piece it tells of, if any (of
// a carriage return, 1 when it ends the piece before).
struct Noted {
    Finding kind;
    std::size_t column;
    std::size_t display;
    int subject;
};

// How a piece took the part of a number, or the sign, that it ended with,
// in the middle of its line.
enum class CutFate {
    Read,        // as an integer, into a field
    Seventh,     // as its seventh integer, ignored
    Ignored,     // after its sixth integer, with all that follows
    NotReached,  // not at all: its scan had stopped before
    StopsScan,   // a sign alone, at which its scan stopped
    Heading,     // dropped with the heading
};

// A number, or a sign, at the end of a piece in the middle of a line: what
// the next piece goes on with, when it begins with a digit.
struct CutNumber {
    char sign = '\0';          // its sign, if any
    char digits[21] = {};       // its first twenty digits at most, NUL-terminated
    std::uint64_t count = 0;    // how many digits it has in all, so far
    std::uint64_t before = 0;   // of them, in the pieces before
    CutFate fate = CutFate::NotReached;  // how the piece before took it
    int field = 0;              // the field it was read into (Read)
    std::int32_t value = 0;     // and the value written there
    bool active = false;        // a piece ended with one
};

// A line of the file read as more than one piece, once it has ended.
struct LongLine {
    std::uint64_t line = 0;
    std::size_t length = 0;    // its bytes, its newline included when it has one
    int pieces = 0;
    int headingPieces = 0;     // how many of them are the heading's
    bool newline = false;      // it ends with a newline
    bool carriageReturn = false;  // before it, of a CRLF line end
    bool last = false;         // the file holds nothing after it
};

// The most findings that a piece may have: a carriage return at each of
// its characters and the one before it, and a dozen more.
constexpr int kMostFindings = static_cast<int>(LineBuffer::kMaxPieceLength) + 16;

// What the conversion reads in one line piece.
struct PieceReading {
    std::uint64_t line = 0;    // the line of the file that it belongs to, from 1
    std::size_t column = 0;    // where it begins in that line, from 1
    std::uint64_t dataPiece = 0;  // which data line piece it is, from 1; 0 for the heading's
    bool heading = false;      // one of the first two pieces, which are dropped
    int integers = 0;          // how many of the six the scan read
    int held = 0;              // of a heading piece: how many integers it holds
    bool seventh = false;      // a seventh integer follows the six
    ScanStop stop = ScanStop::None;
    std::size_t stopAt = 0;    // where the scan stopped, or what ends the sixth integer, in the piece
    bool endsLine = false;     // with its newline, or the end of the file
    // For each field that the piece does not supply: the line that last
    // supplied it in the same pass, whose value it repeats, or 0 when no
    // line has yet (its value is then 0).
    std::uint64_t carriedFrom[kFields] = {};
    std::int32_t carried[kFields] = {};  // and the value it repeats
};

// The account of one line piece: what the conversion reads in it, and what
// it comes to, its findings in the order of their columns, computed once.
// Every use of the check (printing, counting, the verdict, the limit of
// findings printed, the notice of a file that is not text) reads the list.
struct PieceReport : PieceReading {
    ScannedInteger found[kFields + 1];  // the integers read, then a seventh when there is one
    CutNumber cut;             // the number that the piece before cut, with this piece's part (CutNumber)
    LongLine longLine;         // the line that this piece ends, when it is long (LongLine)
    int findings = 0;
    Noted list[kMostFindings];
};

// Where the columns of a line stand, counted as Columns asks: how many so
// far, and of the UTF-8 character under way, how many continuation bytes
// it still takes and the range of the next.  A byte that no character of
// UTF-8 takes is a column of its own, as decoders show it.
struct ColumnCount {
    std::size_t columns = 0;
    int pending = 0;
    unsigned char low = 0x80, high = 0xBF;
};

// Where a check of one old spare file stands: the line it is in, and which
// line last supplied each field.
struct CheckState {
    std::uint64_t pieces = 0;          // every piece taken, the heading's too
    std::uint64_t line = 1;
    std::size_t lineLength = 0;        // of the line so far, in bytes
    ColumnCount lineColumns;           // and in the columns asked (Columns)
    int linePieces = 0;
    int lineHeadingPieces = 0;
    CutNumber trailing;                // what the line so far ends with
    std::size_t pendingReturn = 0;     // a carriage return that ended the piece before: its column, or 0
    std::size_t pendingDisplay = 0;
    bool sawNul = false;               // the file's first NUL byte was told
    Columns columns = Columns::Bytes;  // which columns findings get besides bytes' (in Noted::display)
    std::uint64_t lastSupplied[kFields] = {};
    std::int32_t lastValues[kFields] = {};  // and the value it supplied
    // What the summary counts.
    std::uint64_t dataLines = 0;
    std::uint64_t dataPieces = 0;
};

// Takes the next line piece of the file into state and makes its account
// in report; endsFile when the file holds nothing after it.
void checkPiece(CheckState& state, const LineBuffer& piece, bool endsFile, PieceReport& report);

// Takes, all at once, the quiet lines (scanner.hpp) at the start of the
// available characters at text, quiet data lines with nothing to tell,
// which supply every field.  Returns how many characters they take; state
// must stand at the start of a line past the heading, and a chunk of 64
// characters past available must be readable.
std::size_t passQuietLines(CheckState& state, const char* text, std::size_t available);

// True when the file, checked to its end, has no data line: its conversion
// holds no record (a finding of its own, at line 1).
bool lacksDataLine(const CheckState& state);

// How many findings of each kind a file has.
struct FindingCounts {
    std::uint64_t of[kFindingKinds] = {};

    void add(Finding kind) { ++of[static_cast<int>(kind)]; }
};

// How a check of an old spare file ended.
enum class CheckEnd { Done, ReadFailed, Stopped };

// Checks the old spare file that in reads, from its start, in pieces as the
// conversion reads it.  Tells visitor.piece(piece, report) of every piece
// it takes one at a time, with its account, and visitor.quietLines(from,
// to) of the quiet data line pieces it passes over at once (numbered from
// 0, the heading's included: from is the first, to one past the last);
// each returns false to stop the check there.  Returns how the check
// ended: at the end of the file, on a read error, or stopped.
template <class Visitor>
CheckEnd checkOldSpareFile(InputFile& in, CheckState& state, Visitor&& visitor)
{
    LineBuffer piece;
    PieceReport report;
    unsigned idle = 0, wait = 0;
    for (;;) {
        // Most data lines are quiet: they are passed over a block at a time.
        // Where they are rare, a try that passes none costs more than the
        // line: after one, twice as many lines as the last time, up to 64,
        // are taken one at a time before the next try.
        if (state.pieces >= 2 && state.linePieces == 0 && (wait == 0 || --wait == 0)) {
            const std::uint64_t from = state.pieces;
            in.consume(passQuietLines(state, in.data(), in.available()));
            idle = state.pieces > from ? 0 : std::min(2 * idle + 1, 64u);
            wait = idle + 1;
            if (state.pieces > from && !visitor.quietLines(from, state.pieces))
                return CheckEnd::Stopped;
        }
        const ReadResult read = readLinePiece(in, piece);
        if (read == ReadResult::Error)
            return CheckEnd::ReadFailed;
        if (read == ReadResult::End)
            return CheckEnd::Done;
        checkPiece(state, piece, in.available() == 0 && !in.refill(), report);
        if (!visitor.piece(piece, report))
            return CheckEnd::Stopped;
    }
}

#endif
