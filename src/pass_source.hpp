// What both passes of a conversion read, chosen once, at the first opening:
// the old spare file, opened again for the right pass and found unchanged
// at its end; or, for a stream (a pipe, FIFO or socket), which can be read
// only once, a spool: a file of the program's own without a name, which
// takes the whole stream before the new spare file is touched and is read
// by both passes.  Each pass's reading leaves a fingerprint, and the two
// must agree.
#ifndef TABFOLD_PASS_SOURCE_HPP
#define TABFOLD_PASS_SOURCE_HPP

#include "file_io.hpp"
#include "platform.hpp"
#include "shell.hpp"
#include "spare_file.hpp"

class PassSource {
public:
    // Opens the old spare file at path, a regular file or a stream; false
    // when it cannot, refusal() saying why.
    bool open(const char* path);
    // Reads the stream to its end into a spool, through the buffers of in
    // and out where the system cannot move the bytes itself; false when it
    // cannot, refusal() saying why.  Nothing for a regular file.
    bool spool(InputFile& in, OutputFile& out);
    // Gives in the file for the side's pass, from its start, and the pass's
    // fingerprint: the old spare file, opened again for the right pass, or
    // the spool, rewound; false when it cannot, refusal() saying why.
    bool begin(Side side, InputFile& in);
    // Takes the file back from in at the end of the side's pass; after the
    // right pass, false when the two passes did not read the same bytes or
    // the old spare file is not as its first opening found it, refusal()
    // saying why.  A pass whose read failed is reported by readFailure().
    bool end(Side side, InputFile& in);
    // The failure of a pass whose read failed.
    Refusal readFailure() const;

    bool stream() const { return spoolFolder_ != nullptr; }
    // What the first opening found, and the file open now.
    const FileFacts& facts() const { return first_; }
    const FileHandle& file() const { return file_; }
    Refusal refusal() const { return refusal_; }

private:
    bool refuse(Failure failure, const char* path);

    const char* path_ = nullptr;
    const char* spoolFolder_ = nullptr;  // a stream's, where its spool is made
    FileFacts first_;
    FileHandle file_;      // open for the next pass
    Fingerprint read_[2];  // of every byte each pass read, left first
    Refusal refusal_ = {Failure::CannotOpen, nullptr};
};

#endif
