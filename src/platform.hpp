// What the program asks of the system it runs on, where systems differ.
// Each system has its own source; the rest of the program is the same
// everywhere.  Files are plain descriptors, read and written in binary.
#ifndef TABFOLD_PLATFORM_HPP
#define TABFOLD_PLATFORM_HPP

#include <cstdint>

// What the program knows of a file: which file it is, whatever path led to
// it, whether it is a regular file, and enough of its state to see that it
// changed.
struct FileFacts {
    std::uint64_t volume;   // the device, or the volume's serial number
    std::uint64_t index;    // the inode, or the file index on the volume
    std::int64_t size;      // in bytes
    std::int64_t modified;  // the modification time, in the system's finest unit
    bool regular;           // an ordinary file of data, no folder or device
};

// Makes the process ready for the conversion: standard output takes bytes
// as they are, and a write to a pipe that nobody reads fails instead of
// ending the program.
void prepareProcess();

// The arguments of the command line in UTF-8: argv itself where the system
// gives them so, converted from the system's own form elsewhere.
char** argumentsInUtf8(int argc, char* argv[]);

// Describes the file that path names, following links; false when no file
// can be found there.
bool describePath(const char* path, FileFacts& facts);

// Describes the file open on fd; false when the system cannot tell.
bool describeOpenFile(int fd, FileFacts& facts);

// Opens path for reading bytes as they are; the opening never waits, even
// on a FIFO.  Returns a descriptor that child processes do not inherit, or
// -1.
int openForReading(const char* path);

// Opens path for writing bytes as they are, creating the file but not
// emptying it.  Returns a descriptor that child processes do not inherit,
// or -1.
int openForWriting(const char* path);

// Empties the regular file open for writing on fd; false when it cannot.
bool emptyFile(int fd);

// True when the processor, and the system for it, let the program use AVX2,
// BMI1, BMI2 and POPCNT (asked only on x86).
bool processorHasAvx2();

#endif
