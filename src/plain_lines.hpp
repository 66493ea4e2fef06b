// The fast way through an old spare file: most data lines are plain, short
// lines of unsigned integers, and these are converted straight from the
// block that was read, many at a time, without going through a line buffer
// and without turning their digits into integers and back.  Every other
// piece is left to the operations of spare_file.hpp, which stay the
// definition of what a conversion writes; the pass (pass.hpp) drives both.
#ifndef TABFOLD_PLAIN_LINES_HPP
#define TABFOLD_PLAIN_LINES_HPP

#include "file_io.hpp"
#include "instructions.hpp"
#include "spare_file.hpp"

#include <cstddef>

// How far convertPlainPieces got.
struct PlainRun {
    std::size_t converted = 0;        // characters, whole lines
    const char* lastLine = nullptr;   // the start of the last line converted, if any
    bool writeFailed = false;
};

// Writes a record line for each plain line piece at the start of the
// available characters at text, up to the first other piece or the last
// whole line, with the kernel given; a chunk of 64 characters and a vector
// past available must be readable.  The fields of the last line converted
// are the caller's to carry over.
//
// A plain piece is a whole line of fewer than 56 characters before its
// newline, all digits and whitespace, with no integer that has a leading
// zero, whose integers that the pass copies (the first three, or the fourth
// to sixth) have one to eight digits.  It gets the line that parsing it and
// writeSpareRecord would write.
PlainRun convertPlainPieces(const char* text, std::size_t available, OutputFile& out, Side side, Kernel kernel);

#endif
