// One pass over an old spare file: the record lines of its left or right
// records, the plain lines converted many at a time (plain_lines.hpp) and
// every other piece through the operations of the formats (spare_file.hpp).
#ifndef TABFOLD_PASS_HPP
#define TABFOLD_PASS_HPP

#include "file_io.hpp"
#include "instructions.hpp"
#include "spare_file.hpp"

// How a pass ended.
enum class PassEnd { Done, ReadFailed, WriteFailed };

// Writes the record lines of one pass, from in's position (after the
// heading) to the end of the old spare file: one for every line piece, the
// record carrying over the fields that a piece does not supply.  The plain
// pieces go the fast way, on the kernel given; every other piece through
// readLinePiece, the parse operation of the side and writeSpareRecord.
PassEnd copyPieces(InputFile& in, OutputFile& out, Side side, LineBuffer& line, Kernel kernel = chooseKernel());

#endif
