// The fast way through an old spare file: most data lines are plain, short
// lines of unsigned integers, and these are converted straight from the
// block that was read, many at a time, without going through a line buffer
// and without turning their digits into integers and back.  Every other
// piece is left to the operations of spare_file.hpp, which stay the
// definition of what a conversion writes.
#ifndef TABFOLD_PLAIN_LINES_HPP
#define TABFOLD_PLAIN_LINES_HPP

#include "file_io.hpp"
#include "spare_file.hpp"

// Which record of each data line a pass copies.
enum class Side { Left, Right };

// How a pass ended.
enum class PassEnd { Done, ReadFailed, WriteFailed };

// Writes the record lines of one pass, from in's position (after the
// heading) to the end of the old spare file: one for every line piece, the
// record carrying over the fields that a piece does not supply.
//
// A plain piece is converted straight from the block, many at a time: a whole
// line of fewer than 56 characters before its newline, all digits and
// whitespace, with no integer that has a leading zero, whose integers that
// the pass copies (the first three, or the fourth to sixth) have one to eight
// digits.  It gets the line that parsing it and writeSpareRecord would
// write.  Every other piece goes through readLinePiece, the parse operation of
// the side and writeSpareRecord.  The plain pieces are converted with the
// widest instructions that the processor has, unless baseline asks for those
// that every processor of its kind has.
PassEnd copyPieces(InputFile& in, OutputFile& out, Side side, LineBuffer& line, bool baseline = false);

#endif
