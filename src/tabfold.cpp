// tabfold: converts an old spare file, which carries two records on each data
// line, into a new spare file with one record per line: all left records,
// then all right records, under a two-line heading.
//
// The old spare file is read twice, closed and opened again in between, so
// that memory use does not depend on its size.  Every message goes to
// standard output; failures end the run with a fixed exit status.

#include "file_io.hpp"
#include "plain_lines.hpp"
#include "platform.hpp"
#include "spare_file.hpp"

#include <cstdio>
#include <unistd.h>

int runConversion(int argc, char* argv[]);

namespace {

constexpr int kStatusSuccess = 0;
constexpr int kStatusUsage = 1;
constexpr int kStatusCannotOpen = 5;
constexpr int kStatusCannotRead = 5;
constexpr int kStatusCannotWrite = 255;

// The two paths of one run, as given on the command line.
struct SparePaths {
    const char* oldPath;
    const char* newPath;
};

// Reports a file that cannot be opened; returns the exit status.
int cannotOpen(const char* path)
{
    std::printf("can not open %s\n", path);
    return kStatusCannotOpen;
}

// Reports an old spare file that is not a regular file; returns the exit status.
int notRegularFile(const char* path)
{
    std::printf("can not open %s: not a regular file\n", path);
    return kStatusCannotOpen;
}

// Reports a new spare file that is the old spare file; returns the exit status.
int isOldSpareFile(const char* path)
{
    std::printf("can not open %s: it is the old spare file\n", path);
    return kStatusCannotOpen;
}

// Reports an old spare file that is no longer the file, or no longer holds
// the bytes, that its first opening found; returns the exit status.
int changedBeforeReopening(const char* path)
{
    std::printf("can not open %s: it changed during the conversion\n", path);
    return kStatusCannotOpen;
}

// Reports an old spare file that changed while the right pass read it;
// returns the exit status.
int changedWhileRead(const char* path)
{
    std::printf("can not read %s: it changed during the conversion\n", path);
    return kStatusCannotRead;
}

// Reports a read error on the old spare file; returns the exit status.
int cannotRead(const char* path)
{
    std::printf("can not read %s\n", path);
    return kStatusCannotRead;
}

// Reports a failed write to the new spare file; returns the exit status.
int cannotWrite(const char* path)
{
    std::printf("can not write %s\n", path);
    return kStatusCannotWrite;
}

// True when both descriptions are of one file, whatever paths led to it.
bool sameFile(const FileFacts& a, const FileFacts& b)
{
    return a.volume == b.volume && a.index == b.index;
}

// True when both descriptions show the same size and modification time.
bool sameContents(const FileFacts& a, const FileFacts& b)
{
    return a.size == b.size && a.modified == b.modified;
}

// True when the description fits the old spare file at this opening: a
// regular file at the first (first is nullptr), and at the reopening the
// very file that the first opening found, unchanged.  Reports it otherwise.
bool fitsOpening(const char* path, const FileFacts& facts, const FileFacts* first)
{
    if (first == nullptr) {
        if (facts.regular)
            return true;
        notRegularFile(path);
        return false;
    }
    if (sameFile(facts, *first) && sameContents(facts, *first))
        return true;
    changedBeforeReopening(path);
    return false;
}

// Opens the old spare file for one pass and describes it in facts; first is
// what its first opening found, or nullptr at that opening.  Only a regular
// file can be read twice from its start, and the check comes before the
// opening too, which would block on a FIFO.  Returns -1 when it cannot.
int openOldFile(const char* path, FileFacts& facts, const FileFacts* first)
{
    if (!describePath(path, facts)) {
        cannotOpen(path);
        return -1;
    }
    if (!fitsOpening(path, facts, first))
        return -1;
    const int fd = openForReading(path);
    if (fd < 0) {
        cannotOpen(path);
        return -1;
    }
    if (!describeOpenFile(fd, facts)) {
        ::close(fd);
        cannotOpen(path);
        return -1;
    }
    if (!fitsOpening(path, facts, first)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the new spare file, created or emptied, unless it is the old spare
// file itself: that one is left untouched.  Returns -1 when it cannot.
int openNewFile(const char* path, const FileFacts& oldFacts)
{
    FileFacts facts;
    if (describePath(path, facts) && sameFile(facts, oldFacts)) {
        isOldSpareFile(path);
        return -1;
    }
    // Emptied only once it is known not to be the old spare file.
    const int fd = openForWriting(path);
    if (fd < 0) {
        cannotOpen(path);
        return -1;
    }
    if (!describeOpenFile(fd, facts)) {
        ::close(fd);
        cannotOpen(path);
        return -1;
    }
    if (sameFile(facts, oldFacts)) {
        ::close(fd);
        isOldSpareFile(path);
        return -1;
    }
    if (facts.regular && !emptyFile(fd)) {
        ::close(fd);
        cannotOpen(path);
        return -1;
    }
    return fd;
}

// One pass: skips the two heading pieces of the old spare file, then writes
// one record line for every further line piece.  Returns the exit status so
// far.
int copyRecords(InputFile& oldFile, const SparePaths& paths, OutputFile& newFile,
                LineBuffer& line, Side side)
{
    if (!skipHeaderLines(oldFile, line))
        return cannotRead(paths.oldPath);
    switch (copyPieces(oldFile, newFile, side, line)) {
    case PassEnd::ReadFailed:
        return cannotRead(paths.oldPath);
    case PassEnd::WriteFailed:
        return cannotWrite(paths.newPath);
    case PassEnd::Done:
        break;
    }
    // What a pass wrote reaches the file even if the next pass cannot start.
    return newFile.flush() ? kStatusSuccess : cannotWrite(paths.newPath);
}

// The left pass over the old spare file open on fd, which it closes.
int copyLeftRecords(int fd, const SparePaths& paths, OutputFile& newFile, LineBuffer& line)
{
    InputFile oldFile(fd);
    return copyRecords(oldFile, paths, newFile, line, Side::Left);
}

// The right pass over the old spare file open on fd, which it closes.  The
// file must end the pass as its first opening found it: a file appended to
// or cut short while it was read would lend the conversion records that are
// not its own, or lose some.
int copyRightRecords(int fd, const SparePaths& paths, OutputFile& newFile, LineBuffer& line,
                     const FileFacts& first)
{
    InputFile oldFile(fd);
    const int status = copyRecords(oldFile, paths, newFile, line, Side::Right);
    if (status != kStatusSuccess)
        return status;
    FileFacts facts;
    if (!describeOpenFile(fd, facts))
        return cannotRead(paths.oldPath);
    return sameContents(facts, first) ? kStatusSuccess : changedWhileRead(paths.oldPath);
}

// Opens both files and runs the left pass, then the right pass; returns
// the exit status.
int convert(const SparePaths& paths)
{
    FileFacts first;
    const int leftFd = openOldFile(paths.oldPath, first, nullptr);
    if (leftFd < 0)
        return kStatusCannotOpen;
    const int newFd = openNewFile(paths.newPath, first);
    if (newFd < 0) {
        ::close(leftFd);
        return kStatusCannotOpen;
    }
    OutputFile newFile(newFd);
    LineBuffer line;

    if (!writeNewFileHeader(newFile)) {
        ::close(leftFd);
        return cannotWrite(paths.newPath);
    }
    int status = copyLeftRecords(leftFd, paths, newFile, line);
    if (status != kStatusSuccess)
        return status;

    FileFacts again;
    const int rightFd = openOldFile(paths.oldPath, again, &first);
    if (rightFd < 0)
        return kStatusCannotOpen;
    status = copyRightRecords(rightFd, paths, newFile, line, first);
    if (status != kStatusSuccess)
        return status;

    return newFile.close() ? kStatusSuccess : cannotWrite(paths.newPath);
}

// Flushes standard output: a run whose messages were lost is not a success.
int finishStandardOutput(int status)
{
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout);
    return lost && status == kStatusSuccess ? kStatusCannotWrite : status;
}

}  // namespace

// Checks the command line, announces both files and converts; returns the
// exit status of the run.
int runConversion(int argc, char* argv[])
{
    if (argc != 3) {
        std::printf("command syntax: tabfold spare2in1lineFile spare1in1lineFile \n");
        return kStatusUsage;
    }
    const SparePaths paths{argv[1], argv[2]};
    std::printf("old spare file is %s\n", paths.oldPath);
    std::printf("new spare file is %s\n", paths.newPath);
    std::fflush(stdout);  // both announcements precede any opening
    return finishStandardOutput(convert(paths));
}

int main(int argc, char* argv[])
{
    prepareProcess();
    return runConversion(argc, argumentsInUtf8(argc, argv));
}
