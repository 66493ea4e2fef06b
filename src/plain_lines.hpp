// The fast way through an old spare file: most data lines are plain, short
// lines of unsigned integers, and these are converted straight from the
// block that was read, many at a time, without going through a line buffer
// and without turning their digits into integers and back.  Every other
// piece is left to the operations of spare_file.hpp, which stay the
// definition of what a conversion writes; copyPieces there drives both.
#ifndef TABFOLD_PLAIN_LINES_HPP
#define TABFOLD_PLAIN_LINES_HPP

#include "file_io.hpp"
#include "spare_file.hpp"

// The copies of the plain-line converter, each built for the instructions
// of its name.
enum class PlainVariant { Baseline, Avx2 };

// The widest copy that the processor can run and the instructions allow.
PlainVariant choosePlainVariant(Instructions allowed);

// Writes a record line, straight from the block that in holds, for each
// plain line piece from in's position on, up to the first other piece or the
// end of the block, and leaves record as parsing the last would have left it
// (line is used for that), with the copy of the converter given.  False if a
// write failed.
//
// A plain piece is a whole line of fewer than 56 characters before its
// newline, all digits and whitespace, with no integer that has a leading
// zero, whose integers that the pass copies (the first three, or the fourth
// to sixth) have one to eight digits.  It gets the line that parsing it and
// writeSpareRecord would write.
bool convertPlainPieces(InputFile& in, OutputFile& out, Side side, LineBuffer& line, SpareRecord& record,
                        PlainVariant variant);

#endif
