// The two spare file formats and the record they both carry.
//
// An old spare file holds two heading lines, then data lines that each carry
// two records: the left record in their first three integers, the right
// record in their fourth to sixth.  A new spare file holds a two-line heading,
// then one record per line.  The operations below read old spare files one
// line piece at a time and write new spare files; the conversion command owns
// the files and drives them.
#ifndef TABFOLD_SPARE_FILE_HPP
#define TABFOLD_SPARE_FILE_HPP

#include "file_io.hpp"

#include <cstddef>
#include <cstdint>

// Which record of each data line a pass copies.
enum class Side { Left, Right };

// One spare record: the three integers of the columns N1, N2 and LINK#.
struct SpareRecord {
    std::int32_t N1 = 0;
    std::int32_t N2 = 0;
    std::int32_t LINK = 0;  // the LINK# column
};

// The text of one bounded line read, NUL-terminated: at most kMaxPieceLength
// characters, ending after the first newline when one comes before that.
struct LineBuffer {
    static constexpr std::size_t kSize = 256;
    static constexpr std::size_t kReadLimit = 255;  // terminator included
    static constexpr std::size_t kMaxPieceLength = kReadLimit - 1;

    char text[kSize] = {};
    std::size_t length = 0;
};

// What a line read found.
enum class ReadResult { Piece, End, Error };

// Reads the next line piece of the old spare file into line.
ReadResult readLinePiece(InputFile& in, LineBuffer& line);

// Reads and discards the two heading pieces; false if a read failed.
bool skipHeaderLines(InputFile& in, LineBuffer& line);

// Fills the record from the first three integers of the piece; fields the
// piece does not supply keep their values.
void parseLeftRecord(const LineBuffer& line, SpareRecord& record);

// Fills the record from the fourth to sixth integers of the piece; fields the
// piece does not supply keep their values.
void parseRightRecord(const LineBuffer& line, SpareRecord& record);

// Writes the two heading lines of a new spare file; false if the write failed.
bool writeNewFileHeader(OutputFile& out);

// Writes one record line; false if the write failed.
bool writeSpareRecord(OutputFile& out, const SpareRecord& record);

// The longest record line: three 11-character integers, two blanks, newline.
constexpr std::size_t kMaxRecordLineLength = 36;

// How far past the end of a record line formatting it may store.
constexpr std::size_t kRecordLineSlack = 8;

// Formats a record line as "%-3d %-3d %d\n" into out, which must hold
// kMaxRecordLineLength + kRecordLineSlack characters; returns the number
// written.
std::size_t formatSpareRecord(const SpareRecord& record, char* out);

#endif
