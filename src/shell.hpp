// What the two programs, tabfold and tabfold-check, do alike: the failures
// they report and the message of each, opening an old spare file (a regular
// file or a stream), and finishing standard output.
#ifndef TABFOLD_SHELL_HPP
#define TABFOLD_SHELL_HPP

#include "platform.hpp"

// Every failure that the programs report.
enum class Failure {
    CannotOpen,
    NotRegularFile,
    IsOldSpareFile,
    LockedElsewhere,
    ChangedBeforeReopening,
    CannotRead,
    ChangedWhileRead,
    CannotSpool,
    CannotWrite,
    CannotWriteBeside,
    ReplacedMeanwhile,
    OutOfMemory,
};

// A failure, the path it concerns, and the system's number of its error,
// when the message gives a reason (else 0).
struct Refusal {
    Failure failure;
    const char* path;
    int error = 0;
};

// The message of the failure: a printf format with one %s, for a path,
// without the newline that ends it.
const char* messageOf(Failure failure);

// True when both descriptions are of one file, whatever paths led to it.
bool sameFile(const FileFacts& a, const FileFacts& b);

// True when both descriptions show the same size, modification time and
// change time.
bool sameState(const FileFacts& a, const FileFacts& b);

// Opens the old spare file at path for reading into file and describes it
// in facts; first is what its first opening found, or nullptr at that
// opening.  At the first opening it must be a regular file or a stream; at
// a later one, the very file that the first found, unchanged.  Its kind is
// asked before the opening, which would wait for a device; only a stream's
// opening waits, for a FIFO's writer.  True when it is open; otherwise
// failure says why, and error is the system's number of the error, when
// the system had one (else 0).
bool openOldSpareFile(const char* path, const FileFacts* first, FileFacts& facts, FileHandle& file,
                      Failure& failure, int& error);

// The reason of the system's error number as other tools give it, in
// lower case ("no such file", "permission denied").
const char* reasonOf(int error);

// Writes out what is left of standard output; false when anything written
// to it was lost.
bool finishStandardOutput();

#endif
