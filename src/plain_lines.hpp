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

// Writes a record line, straight from the block that in holds, for each
// plain line piece from in's position on, up to the first other piece or the
// end of the block, and leaves record as parsing the last would have left it
// (line is used for that).  False if a write failed.
//
// A plain piece is a whole line of fewer than 56 characters before its
// newline, all digits and whitespace, with no integer that has a leading
// zero, whose integers that the pass copies (the first three, or the fourth
// to sixth) have one to eight digits.  It gets the line that parsing it and
// writeSpareRecord would write.  widest picks the widest instructions that
// the processor has, as plainLinesUseWidest tells.
bool convertPlainPieces(InputFile& in, OutputFile& out, Side side, LineBuffer& line, SpareRecord& record,
                        bool widest);

// Whether the plain pieces may be converted with wider instructions than
// every processor of its kind has (AVX2 on x86): not when baseline asks for
// those, nor where the processor lacks them.
bool plainLinesUseWidest(bool baseline);

#endif
