// What the conversion's rules make of each line piece of an old spare file,
// for tabfold-check: which fields a data line piece does not supply, and so
// repeats from an earlier line, what ends its scan, which of its integers a
// sign splits, lies beyond 32 bits or is ignored, and which lines are too
// long for one piece.  It reads pieces as the conversion reads them
// (readLinePiece) and scans them with the conversion's scanner, so that it
// tells what tabfold does, never something else.
#ifndef TABFOLD_SPARE_CHECK_HPP
#define TABFOLD_SPARE_CHECK_HPP

#include "scanner.hpp"
#include "spare_file.hpp"

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
};

// What one line piece gives the conversion.
struct PieceReport {
    std::uint64_t line = 0;    // the line of the file that it belongs to, from 1
    std::size_t column = 0;    // where it begins in that line, from 1
    bool heading = false;      // one of the first two pieces, which are dropped
    int integers = 0;          // how many of the six the scan read
    int held = 0;              // of a heading piece: how many integers it holds
    bool quiet = false;        // a quiet line (quietIntegers), which needs no look one by one
    ScannedInteger found[kFields + 1];  // else those read, then a seventh when there is one
    bool seventh = false;
    bool glued = false;        // a character other than whitespace ends the sixth integer, at stopAt
    // The digits of a number that the piece before ended with, in the middle
    // of the line, when this piece begins with more: the number is cut in two.
    char cutBefore[16] = {};
    ScanStop stop = ScanStop::None;
    std::size_t stopAt = 0;    // where it stopped, in the piece
    // For each field that the piece does not supply: the line that last
    // supplied it in the same pass, whose value it repeats, or 0 when no
    // line has yet (its value is then 0).
    std::uint64_t carriedFrom[kFields] = {};
    std::int32_t carried[kFields] = {};  // and the value it repeats
};

// A line of the file read as more than one piece, once it has ended.
struct LongLine {
    std::uint64_t line = 0;
    std::size_t length = 0;    // its characters, before its newline
    int pieces = 0;
    int headingPieces = 0;     // how many of them are the heading's
    bool carriageReturn = false;  // its last character, of a CRLF line end
    bool last = false;         // the file holds nothing after it
};

// Where a check of one old spare file stands: the line it is in, and which
// line last supplied each field.
struct CheckState {
    std::uint64_t pieces = 0;          // every piece taken, the heading's too
    std::uint64_t line = 1;
    std::size_t lineLength = 0;        // of the line so far
    char lastCharacter = '\0';         // of the line so far
    char trailingDigits[16] = {};      // the last of the line so far, when it ends in digits
    int linePieces = 0;
    int lineHeadingPieces = 0;
    std::uint64_t lastSupplied[kFields] = {};
    std::int32_t lastValues[kFields] = {};  // and the value it supplied
    // What the summary counts.
    std::uint64_t dataLines = 0;
    std::uint64_t dataPieces = 0;
};

// Takes the next line piece of the file into state and tells what it gives
// in report; fileEnds when the file ends right after it.  When the piece
// ends its line and that line took more than one piece, longLine tells so
// and the result is true.
bool checkPiece(CheckState& state, const LineBuffer& piece, bool fileEnds, PieceReport& report, LongLine& longLine);

// Takes, all at once, the whole lines at the start of the available
// characters at text that are quiet data lines, with nothing to tell: a
// single piece of six integers, quiet as quietIntegers says, which supply
// every field.  Returns how many characters
// they take; state must stand at the start of a line past the heading, and
// a chunk of 64 characters past available must be readable.
std::size_t passQuietLines(CheckState& state, const char* text, std::size_t available);

// Ends the file's last line where it had no newline; true, with longLine told,
// when that line took more than one piece.
bool finishFile(CheckState& state, LongLine& longLine);

// True when the report holds a finding: the heading looks like a data
// line, or a data line piece supplies fewer than six integers, has a sign
// straight after a digit, an integer beyond 32 bits or a seventh integer.
bool hasFinding(const PieceReport& report);

// The kinds of finding, as a file's summary counts them.
enum class Finding {
    ShortLine,       // a data line piece of fewer than six integers
    SignAfterDigit,  // a sign straight after a digit, which begins an integer
    Beyond32Bits,    // an integer beyond 32 bits
    SeventhInteger,  // a seventh integer, ignored
    GluedSixth,      // a character straight after the sixth integer, ignored
    CutNumber,       // a number cut in two by the end of a piece
    LongLine,        // a line too long for one piece
    HeadingWithData, // a heading piece of three integers or more
    NoDataLine,      // a file with no data line
};
constexpr int kFindingKinds = 9;

// How many findings of each kind a file has.
struct FindingCounts {
    std::uint64_t of[kFindingKinds] = {};

    void add(Finding kind) { ++of[static_cast<int>(kind)]; }
};

// Counts the findings of the report into counts.
void countFindings(const PieceReport& report, FindingCounts& counts);

// A line of text, put together without the C library's printf, which took
// most of the check's time on files with many findings; what does not fit
// is cut off.
class Text {
public:
    Text() { bytes_[0] = '\0'; }

    Text& add(const char* text);
    Text& add(const char* text, std::size_t count);
    // A literal, whose length the compiler knows.
    template <std::size_t size>
    Text& literal(const char (&text)[size])
    {
        return add(text, size - 1);
    }
    // In decimal, as %d writes it.
    Text& number(std::uint64_t value);
    Text& signedNumber(std::int64_t value);
    // As a person reads it: itself, quoted, when it is printable, a NUL
    // byte, or else its code.
    Text& character(char c);

    const char* data() const { return bytes_; }  // NUL-terminated
    std::size_t size() const { return used_; }

private:
    char bytes_[8192];  // (not cleared: a text is made for every finding)
    std::size_t used_ = 0;
};

// Where findings go, a whole line at a time: the caller's function, called
// with its context.
struct FindingSink {
    void (*put)(void* context, const Text& line);
    void* context;

    void line(const Text& text) const { put(context, text); }
};

// Appends to text the counts of the kinds of finding that there are, as "1
// short line, 2 signs after a digit", or nothing.
void describeCounts(const FindingCounts& counts, Text& text);

// Gives sink the findings of the report about the file at path, a line
// each, PATH:LINE:COLUMN: warning: and what the conversion does; piece is
// the piece that the report tells of.
void printFindings(const FindingSink& sink, const char* path, const LineBuffer& piece, const PieceReport& report);

// Gives sink the finding about a line too long for one piece.
void printLongLine(const FindingSink& sink, const char* path, const LongLine& longLine);

// Gives sink the finding about a file that holds no data line, whose
// conversion holds no record.
void printNoDataLine(const FindingSink& sink, const char* path);

// How a check of an old spare file ended.
enum class CheckEnd { Done, ReadFailed, Stopped };

// Checks the old spare file that in reads, from its start, in pieces as the
// conversion reads it.  Tells visitor.piece(piece, report) of every piece
// it takes one at a time, visitor.quietLines(from, to) of the quiet data
// line pieces it passes over at once (numbered from 0, the heading's
// included: from is the first, to one past the last), and
// visitor.longLine(longLine) of every line read as more than one piece,
// once it has ended; each returns false to stop the check there.  Returns
// how the check ended: at the end of the file, on a read error, or stopped.
template <class Visitor>
CheckEnd checkOldSpareFile(InputFile& in, CheckState& state, Visitor&& visitor)
{
    LineBuffer piece;
    PieceReport report;
    LongLine longLine;
    for (;;) {
        // Most data lines are quiet: they are passed over a block at a time.
        if (state.pieces >= 2 && state.linePieces == 0) {
            const std::uint64_t from = state.pieces;
            in.consume(passQuietLines(state, in.data(), in.available()));
            if (state.pieces > from && !visitor.quietLines(from, state.pieces))
                return CheckEnd::Stopped;
        }
        const ReadResult read = readLinePiece(in, piece);
        if (read == ReadResult::Error)
            return CheckEnd::ReadFailed;
        if (read == ReadResult::End)
            return finishFile(state, longLine) && !visitor.longLine(longLine) ? CheckEnd::Stopped : CheckEnd::Done;
        // Only a piece without a newline may be the file's last.
        const bool fileEnds = piece.text[piece.length - 1] != '\n' && in.available() == 0 && !in.refill();
        const bool isLong = checkPiece(state, piece, fileEnds, report, longLine);
        if (!visitor.piece(piece, report))
            return CheckEnd::Stopped;
        if (isLong) {
            // A first line that takes the whole heading: is there a line 2?
            longLine.last = longLine.headingPieces == 2 && in.available() == 0 && !in.refill();
            if (!visitor.longLine(longLine))
                return CheckEnd::Stopped;
        }
    }
}

#endif
