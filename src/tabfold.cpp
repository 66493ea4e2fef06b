// tabfold: converts an old spare file, which carries two records on each data
// line, into a new spare file with one record per line: all left records,
// then all right records, under a two-line heading.
//
// The old spare file is read twice, closed and opened again in between, so
// that memory use does not depend on its size; the two readings must find
// the same file holding the same bytes.  A stream (a pipe, FIFO or socket)
// can be read only once: it is read to its end into a spool, a file of the
// program's own without a name, before the new spare file is touched, and
// both passes read the spool.  So the stream may even be read from the new
// spare file itself.  Every message goes to standard output; failures end
// the run with a fixed exit status.

#include "file_io.hpp"
#include "platform.hpp"
#include "spare_file.hpp"

#include <cstdio>
#include <cstring>
#include <utility>

int runConversion(int argc, char* argv[]);

namespace {

constexpr int kStatusSuccess = 0;
constexpr int kStatusUsage = 1;
constexpr int kStatusCannotWrite = 255;

// Every way a conversion can fail.
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
};

// The message of each failure, which names a path, and its exit status.
struct FailureReport {
    const char* format;
    int status;
};
constexpr FailureReport kReports[] = {
    {"can not open %s\n", 5},
    {"can not open %s: not a regular file\n", 5},
    {"can not open %s: it is the old spare file\n", 5},
    {"can not open %s: it is locked by another program\n", 5},
    {"can not open %s: it changed during the conversion\n", 5},
    {"can not read %s\n", 5},
    {"can not read %s: it changed during the conversion\n", 5},
    {"can not spool the old spare file in %s\n", 5},
    {"can not write %s\n", kStatusCannotWrite},
};

// Prints the message of the failure about path; returns its exit status.
int report(Failure failure, const char* path)
{
    const FailureReport& entry = kReports[static_cast<int>(failure)];
    printMessage(entry.format, path);
    return entry.status;
}

// The two paths of one run, as given on the command line, and the folder of
// the spool when the old spare file is a stream.
struct SparePaths {
    const char* oldPath;
    const char* newPath;
    const char* spoolFolder = nullptr;
};

// True when both descriptions are of one file, whatever paths led to it.
bool sameFile(const FileFacts& a, const FileFacts& b)
{
    return a.volume == b.volume && a.index == b.index && a.indexHigh == b.indexHigh;
}

// True when both descriptions show the same size, modification time and
// change time.
bool sameState(const FileFacts& a, const FileFacts& b)
{
    return a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

// Checks the description of the old spare file at this opening: a regular
// file or a stream at the first (first is nullptr), and at the reopening the
// very file that the first opening found, unchanged.  Returns 0, or the
// status of the failure, reported.
int checkOpening(const char* path, const FileFacts& facts, const FileFacts* first)
{
    if (first == nullptr)
        return facts.regular || facts.stream ? kStatusSuccess : report(Failure::NotRegularFile, path);
    return sameFile(facts, *first) && sameState(facts, *first)
        ? kStatusSuccess
        : report(Failure::ChangedBeforeReopening, path);
}

// Checks the kind of file that the old spare file's path names before an
// opening, which would wait for a device: a regular file or a stream at the
// first opening (first is nullptr), and a regular file again at the
// reopening.  Returns 0, or the status of the failure, reported.
int checkKind(const char* path, FileKind kind, const FileFacts* first)
{
    if (kind == FileKind::Missing)
        return report(Failure::CannotOpen, path);
    if (first != nullptr)
        return kind == FileKind::Regular ? kStatusSuccess : report(Failure::ChangedBeforeReopening, path);
    return kind == FileKind::Regular || kind == FileKind::Stream ? kStatusSuccess
                                                                 : report(Failure::NotRegularFile, path);
}

// Opens the old spare file for one pass into file and describes it in facts;
// first is what its first opening found, or nullptr at that opening.  Only a
// stream's opening waits, for a FIFO's writer.  A file that turns from one
// kind into the other at the opening has changed.  Returns 0, or the status
// of the failure, reported.
int openOldFile(const char* path, const FileFacts* first, FileFacts& facts, FileHandle& file)
{
    const FileKind kind = kindOfPath(path);
    if (const int status = checkKind(path, kind, first))
        return status;
    const bool stream = kind == FileKind::Stream;
    file = stream ? openStream(path) : openForReading(path);
    if (!file.isOpen() || !describeOpenFile(file, facts))
        return report(Failure::CannotOpen, path);
    if (facts.stream != stream)
        return report(Failure::ChangedBeforeReopening, path);
    return checkOpening(path, facts, first);
}

// True when the file at path, described in facts, holds what the old spare
// file open in old does, as far as its size, its modification time and its
// first bytes tell.  Some file systems give one file several identities
// (FAT under FUSE one for each case of a name, overlayfs one for each
// layer): what a file holds cannot lie.  A file that cannot be compared
// counts as the old one: refusing it loses nothing.
bool holdsTheOldFile(const char* path, const FileFacts& facts, const FileFacts& oldFacts,
                     const FileHandle& old)
{
    if (!facts.regular || facts.size != oldFacts.size || !(facts.modified == oldFacts.modified))
        return false;
    constexpr std::size_t kCompared = 64 * 1024;
    const Buffer bytes = allocateBuffer(2 * kCompared);
    const FileHandle candidate = openForReading(path);
    if (bytes == nullptr || !candidate.isOpen())
        return true;
    const std::ptrdiff_t oldLength = readFromStart(old, bytes.get(), kCompared);
    const std::ptrdiff_t length = readFromStart(candidate, bytes.get() + kCompared, kCompared);
    return oldLength < 0 || length < 0 ||
           (length == oldLength &&
            std::memcmp(bytes.get(), bytes.get() + kCompared, static_cast<std::size_t>(length)) == 0);
}

// Opens the new spare file into file, locked and emptied, unless it is a
// disk, whose records would overwrite what the disk holds, the old spare
// file itself, open in old, or another run holds it: those are left
// untouched.  (A stream's bytes cannot be compared: they are read only
// once.)  Returns 0, or the status of the failure, reported.
int openNewFile(const char* path, const FileFacts& oldFacts, const FileHandle& old, FileHandle& file)
{
    if (kindOfPath(path) == FileKind::Disk)
        return report(Failure::NotRegularFile, path);
    FileFacts facts;
    if (describePath(path, facts) &&
        (sameFile(facts, oldFacts) || (oldFacts.regular && holdsTheOldFile(path, facts, oldFacts, old))))
        return report(Failure::IsOldSpareFile, path);
    file = openForWriting(path);
    if (!file.isOpen() || !describeOpenFile(file, facts))
        return report(Failure::CannotOpen, path);
    if (sameFile(facts, oldFacts))
        return report(Failure::IsOldSpareFile, path);
    // Where the file system has no locks, the conversion goes on without.
    if (lockExclusively(file) == Lock::HeldElsewhere)
        return report(Failure::LockedElsewhere, path);
    if (facts.regular && !emptyFile(file))
        return report(Failure::CannotOpen, path);
    return kStatusSuccess;
}

// Reports a failed read of a pass: of the old spare file, or of the spool
// of a stream.  Returns the status.
int reportReadFailure(const SparePaths& paths)
{
    if (paths.spoolFolder != nullptr)
        return report(Failure::CannotSpool, paths.spoolFolder);
    return report(Failure::CannotRead, paths.oldPath);
}

// One pass: skips the two heading pieces of the old spare file, then writes
// one record line for every further line piece, and flushes them, so that
// they reach the file even if the next pass cannot start.  Returns 0, or the
// status of the failure, reported.
int copyRecords(InputFile& oldFile, const SparePaths& paths, OutputFile& newFile, LineBuffer& line, Side side)
{
    if (!skipHeaderLines(oldFile, line))
        return reportReadFailure(paths);
    switch (copyPieces(oldFile, newFile, side, line)) {
    case PassEnd::ReadFailed:
        return reportReadFailure(paths);
    case PassEnd::WriteFailed:
        return report(Failure::CannotWrite, paths.newPath);
    case PassEnd::Done:
        break;
    }
    return newFile.flush() ? kStatusSuccess : report(Failure::CannotWrite, paths.newPath);
}

// How copying a stream into its spool ended.
enum class SpoolEnd { Done, ReadFailed, WriteFailed };

// Copies every byte of the stream open in from into the file open in to,
// up to its end, through the program.
SpoolEnd copyStream(const FileHandle& from, FileHandle& to)
{
    OutputFile copy(std::move(to));
    const Buffer block = allocateBuffer(InputFile::kBlockSize);
    SpoolEnd end = block == nullptr ? SpoolEnd::WriteFailed : SpoolEnd::Done;
    while (end == SpoolEnd::Done) {
        const std::ptrdiff_t got = readSome(from, block.get(), InputFile::kBlockSize);
        if (got == 0)
            break;
        if (got < 0)
            end = SpoolEnd::ReadFailed;
        else if (!copy.put(block.get(), static_cast<std::size_t>(got)))
            end = SpoolEnd::WriteFailed;
    }
    if (end == SpoolEnd::Done && !copy.flush())
        end = SpoolEnd::WriteFailed;
    to = copy.release();
    return end;
}

// Moves every byte of the stream open in from into the file open in to, up
// to its end: inside the system where it can (a pipe on Linux, which cannot
// fail to be read: a failure is the file's), through the program elsewhere.
SpoolEnd moveStream(const FileHandle& from, FileHandle& to)
{
    constexpr std::size_t kMoveSize = 1 << 20;  // as much as a pipe holds
    for (;;) {
        const std::ptrdiff_t moved = moveFromStream(from, to, kMoveSize);
        if (moved == 0)
            return SpoolEnd::Done;
        if (moved == kCannotMove)
            return copyStream(from, to);
        if (moved < 0)
            return SpoolEnd::WriteFailed;
    }
}

// Reads the stream open in file to its end into a spool in the folder of
// paths, which then takes the stream's place in file, rewound: both passes
// read it, and the new spare file is touched only once it is complete.
// Returns 0, or the status of the failure, reported.
int spoolStream(const SparePaths& paths, FileHandle& file)
{
    FileHandle spool = openSpool(paths.spoolFolder);
    if (!spool.isOpen())
        return report(Failure::CannotSpool, paths.spoolFolder);
    switch (moveStream(file, spool)) {
    case SpoolEnd::ReadFailed:
        return report(Failure::CannotRead, paths.oldPath);
    case SpoolEnd::WriteFailed:
        return report(Failure::CannotSpool, paths.spoolFolder);
    case SpoolEnd::Done:
        break;
    }
    file = std::move(spool);
    return rewindFile(file) ? kStatusSuccess : report(Failure::CannotSpool, paths.spoolFolder);
}

// The left pass over the old spare file, which it closes, or over the spool
// of a stream, which comes back in file rewound for the right pass; read
// becomes the fingerprint of every byte the pass read.
int copyLeftRecords(FileHandle& file, const SparePaths& paths, OutputFile& newFile, LineBuffer& line,
                    Fingerprint& read)
{
    InputFile oldFile(std::move(file));
    if (const int status = copyRecords(oldFile, paths, newFile, line, Side::Left))
        return status;
    read = oldFile.fingerprint();
    if (paths.spoolFolder == nullptr)
        return kStatusSuccess;
    file = oldFile.release();
    return rewindFile(file) ? kStatusSuccess : report(Failure::CannotSpool, paths.spoolFolder);
}

// The right pass over the old spare file, or over its spool, which it
// closes.  It must have read the bytes that the left pass read, and the old
// spare file must end the pass as its first opening found it: a file
// rewritten, appended to or cut short on the way would lend the conversion
// records that are not its own, or lose some.  The spool is the program's
// own, and only its bytes are checked.
int copyRightRecords(FileHandle file, const SparePaths& paths, OutputFile& newFile, LineBuffer& line,
                     const FileFacts& first, const Fingerprint& leftRead)
{
    InputFile oldFile(std::move(file));
    if (const int status = copyRecords(oldFile, paths, newFile, line, Side::Right))
        return status;
    if (paths.spoolFolder != nullptr)
        return oldFile.fingerprint() == leftRead ? kStatusSuccess
                                                 : report(Failure::CannotSpool, paths.spoolFolder);
    FileFacts facts;
    if (!describeOpenState(oldFile.handle(), facts))
        return report(Failure::CannotRead, paths.oldPath);
    return sameState(facts, first) && oldFile.fingerprint() == leftRead
        ? kStatusSuccess
        : report(Failure::ChangedWhileRead, paths.oldPath);
}

// Opens into file what the right pass reads: the old spare file again, or,
// already there, the spool of a stream.  Returns 0, or the status of the
// failure, reported.
int openForRightPass(const SparePaths& paths, const FileFacts& first, FileHandle& file)
{
    if (paths.spoolFolder != nullptr)
        return kStatusSuccess;
    FileFacts again;
    return openOldFile(paths.oldPath, &first, again, file);
}

// Opens the old spare file, spools it whole if it is a stream, opens the new
// spare file, and runs the left pass, then the right pass; returns the exit
// status.  On every failure after the new spare file is opened, it keeps
// what was converted before it.
int convert(const SparePaths& given)
{
    FileFacts first;
    FileHandle oldFile;
    if (const int status = openOldFile(given.oldPath, nullptr, first, oldFile))
        return status;
    const SparePaths paths{given.oldPath, given.newPath, first.stream ? spoolFolder().path : nullptr};
    if (first.stream) {
        if (const int status = spoolStream(paths, oldFile))
            return status;
    }
    FileHandle newHandle;
    if (const int status = openNewFile(paths.newPath, first, oldFile, newHandle))
        return status;
    OutputFile newFile(std::move(newHandle));
    LineBuffer line;

    if (!writeNewFileHeader(newFile))
        return report(Failure::CannotWrite, paths.newPath);
    Fingerprint leftRead;
    if (const int status = copyLeftRecords(oldFile, paths, newFile, line, leftRead))
        return status;

    if (const int status = openForRightPass(paths, first, oldFile))
        return status;
    if (const int status = copyRightRecords(std::move(oldFile), paths, newFile, line, first, leftRead))
        return status;

    return newFile.close() ? kStatusSuccess : report(Failure::CannotWrite, paths.newPath);
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
        printMessage("%s", "command syntax: tabfold spare2in1lineFile spare1in1lineFile \n");
        return kStatusUsage;
    }
    const SparePaths paths{argv[1], argv[2]};
    printMessage("old spare file is %s\n", paths.oldPath);
    printMessage("new spare file is %s\n", paths.newPath);
    std::fflush(stdout);  // both announcements precede any opening
    return finishStandardOutput(convert(paths));
}

int main(int argc, char* argv[])
{
    prepareProcess();
    return runConversion(argc, argumentsInUtf8(argc, argv));
}
