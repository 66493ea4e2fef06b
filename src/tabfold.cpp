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
// spare file itself; an existing new spare file is then replaced whole, by
// a file written beside it, and stands as it was until that file is
// complete.  Every buffer is taken before any file is opened.  Every
// message goes to standard output; failures end the run with a fixed exit
// status.

#include "file_io.hpp"
#include "pass.hpp"
#include "platform.hpp"
#include "shell.hpp"
#include "spare_file.hpp"

#include <cstdio>
#include <cstring>
#include <utility>

int runConversion(int argc, char* argv[]);

namespace {

constexpr int kStatusSuccess = 0;
constexpr int kStatusUsage = 1;
constexpr int kStatusCannotConvert = 5;
constexpr int kStatusCannotWrite = 255;

// Prints the message of the failure about path; returns its exit status.
int report(Failure failure, const char* path)
{
    printMessage(messageOf(failure), path);
    return failure == Failure::CannotWrite ? kStatusCannotWrite : kStatusCannotConvert;
}

// The two paths of one run, as given on the command line.
struct SparePaths {
    const char* oldPath;
    const char* newPath;
};

// Opens the old spare file for one pass into file and describes it in facts;
// first is what its first opening found, or nullptr at that opening.
// Returns 0, or the status of the failure, reported.
int openOldFile(const char* path, const FileFacts* first, FileFacts& facts, FileHandle& file)
{
    Failure failure;
    int error;  // (the messages of the conversion give no reasons)
    return openOldSpareFile(path, first, facts, file, failure, error) ? kStatusSuccess : report(failure, path);
}

// True when the file at path, described in facts, holds what the old spare
// file open in old does, as far as its size, its modification time and its
// first bytes tell.  Some file systems give one file several identities
// (FAT under FUSE one for each case of a name, overlayfs one for each
// layer): what a file holds cannot lie.  A file that cannot be compared
// counts as the old one: refusing it loses nothing.
bool holdsTheOldFile(const char* path, const FileFacts& facts, const FileFacts& oldFacts,
                     const FileHandle& old, char* scratch)
{
    if (!facts.regular || facts.size != oldFacts.size || !(facts.modified == oldFacts.modified))
        return false;
    constexpr std::size_t kCompared = 64 * 1024;
    static_assert(2 * kCompared <= InputFile::kBlockSize);
    const FileHandle candidate = openForReading(path);
    if (!candidate.isOpen())
        return true;
    const std::ptrdiff_t oldLength = readFromStart(old, scratch, kCompared);
    const std::ptrdiff_t length = readFromStart(candidate, scratch + kCompared, kCompared);
    return oldLength < 0 || length < 0 ||
           (length == oldLength && std::memcmp(scratch, scratch + kCompared, static_cast<std::size_t>(length)) == 0);
}

// Every buffer of a run, taken before any file is opened, so that a run
// without the memory for them touches no file.
struct Workspace {
    InputFile oldFile;   // reads both passes, and a stream into its spool
    OutputFile newFile;  // writes the new spare file, and the spool
    LineBuffer line;

    bool ready() const { return oldFile.ready() && newFile.ready(); }
};

// The new spare file while the records are written: the file open on its
// path, locked, and, when a stream's conversion replaces it, the file
// beside it that takes its place once whole.
struct NewFile {
    FileHandle existing;
    Replacement replacement;
    bool replacing = false;
};

// Checks the new spare file before anything is written to it: it is
// refused when it is a disk, whose records would overwrite what the disk
// holds, or the old spare file itself (open in old; a stream's bytes
// cannot be compared, being read only once), or another run holds it.  An
// existing file is opened into file and locked, never emptied; a missing
// one is created when create is true, and otherwise only its folder must
// take files.  Returns 0, or the status of the failure, reported.
int claimNewFile(const char* path, const FileFacts& oldFacts, const FileHandle& old, Workspace& work, bool create,
                 FileHandle& file)
{
    const FileKind kind = kindOfPath(path);
    if (kind == FileKind::Disk)
        return report(Failure::NotRegularFile, path);
    FileFacts facts;
    if (describePath(path, facts) &&
        (sameFile(facts, oldFacts) ||
         (oldFacts.regular && holdsTheOldFile(path, facts, oldFacts, old, work.oldFile.scratch()))))
        return report(Failure::IsOldSpareFile, path);
    if (kind == FileKind::Missing && !create)
        return folderTakesFiles(path) ? kStatusSuccess : report(Failure::CannotOpen, path);
    file = openForWriting(path, create);
    if (!file.isOpen() || !describeOpenFile(file, facts))
        return report(Failure::CannotOpen, path);
    if (sameFile(facts, oldFacts))
        return report(Failure::IsOldSpareFile, path);
    // Where the file system has no locks, the conversion goes on without.
    if (lockExclusively(file) == Lock::HeldElsewhere)
        return report(Failure::LockedElsewhere, path);
    return kStatusSuccess;
}

// Gives work's newFile the file that the records go to, once the old spare
// file is open (and a stream spooled): the new spare file, created when
// missing and emptied when regular; but for a stream's conversion into an
// existing regular file, a file beside it, which takes its place only once
// whole (where its folder takes no file, the file itself).  Returns 0, or
// the status of the failure, reported.
int startNewFile(const SparePaths& paths, const FileFacts& first, Workspace& work, NewFile& target)
{
    const bool existed = target.existing.isOpen();
    if (!existed) {
        if (const int status = claimNewFile(paths.newPath, first, FileHandle(), work, true, target.existing))
            return status;
    }
    FileFacts facts;
    if (!describeOpenFile(target.existing, facts))
        return report(Failure::CannotOpen, paths.newPath);
    if (first.stream && existed && facts.regular) {
        FileHandle beside = target.replacement.open(paths.newPath, target.existing);
        target.replacing = beside.isOpen();
        if (target.replacing) {
            work.newFile.attach(std::move(beside));
            return kStatusSuccess;
        }
    }
    if (facts.regular && !emptyFile(target.existing))
        return report(Failure::CannotOpen, paths.newPath);
    work.newFile.attach(std::move(target.existing));
    return kStatusSuccess;
}

// Writes out the last records and closes the new spare file, or, written
// beside it, puts it in its place.  Returns 0, or the status of the
// failure, reported.
int finishNewFile(const SparePaths& paths, Workspace& work, NewFile& target)
{
    const bool finished = target.replacing
        ? work.newFile.flush() && target.replacement.commit(work.newFile.release(), std::move(target.existing))
        : work.newFile.close();
    return finished ? kStatusSuccess : report(Failure::CannotWrite, paths.newPath);
}

// What both passes read, chosen once, at the first opening: the old spare
// file, opened again for the right pass and found unchanged at its end, or
// the spool of a stream, rewound, which is the program's own, so that only
// its two readings must agree.  Each pass's reading leaves its fingerprint.
struct PassSource {
    const char* oldPath = nullptr;
    const char* spoolFolder = nullptr;  // a stream's, where its spool is made
    FileFacts first;                    // what the first opening found
    FileHandle file;                    // open for the next pass
    Fingerprint read[2];                // of every byte each pass read, left first

    bool stream() const { return spoolFolder != nullptr; }
};

// Opens the old spare file at path into source; returns 0, or the status of
// the failure, reported.
int openSource(const char* path, PassSource& source)
{
    source.oldPath = path;
    if (const int status = openOldFile(path, nullptr, source.first, source.file))
        return status;
    if (source.first.stream)
        source.spoolFolder = spoolFolder().path;
    return kStatusSuccess;
}

// Reports a failed read of a pass: of the old spare file, or of the spool
// of a stream.  Returns the status.
int reportReadFailure(const PassSource& source)
{
    if (source.stream())
        return report(Failure::CannotSpool, source.spoolFolder);
    return report(Failure::CannotRead, source.oldPath);
}

// How copying a stream into its spool ended.
enum class SpoolEnd { Done, ReadFailed, WriteFailed };

// Copies every byte of the stream open in from into the file open in to,
// up to its end, through the program, in work's buffers.
SpoolEnd copyStream(const FileHandle& from, FileHandle& to, Workspace& work)
{
    OutputFile& copy = work.newFile;
    copy.attach(std::move(to));
    char* const block = work.oldFile.scratch();
    SpoolEnd end = SpoolEnd::Done;
    while (end == SpoolEnd::Done) {
        const std::ptrdiff_t got = readSome(from, block, InputFile::kBlockSize);
        if (got == 0)
            break;
        if (got < 0)
            end = SpoolEnd::ReadFailed;
        else if (!copy.put(block, static_cast<std::size_t>(got)))
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
SpoolEnd moveStream(const FileHandle& from, FileHandle& to, Workspace& work)
{
    constexpr std::size_t kMoveSize = 1 << 20;  // as much as a pipe holds
    for (;;) {
        const std::ptrdiff_t moved = moveFromStream(from, to, kMoveSize);
        if (moved == 0)
            return SpoolEnd::Done;
        if (moved == kCannotMove)
            return copyStream(from, to, work);
        if (moved < 0)
            return SpoolEnd::WriteFailed;
    }
}

// Reads the stream open in source to its end into a spool, which then
// takes the stream's place, rewound: both passes read it, and the new spare
// file is touched only once it is complete.  Returns 0, or the status of the
// failure, reported.
int spoolStream(PassSource& source, Workspace& work)
{
    FileHandle spool = openSpool(source.spoolFolder);
    if (!spool.isOpen())
        return report(Failure::CannotSpool, source.spoolFolder);
    switch (moveStream(source.file, spool, work)) {
    case SpoolEnd::ReadFailed:
        return report(Failure::CannotRead, source.oldPath);
    case SpoolEnd::WriteFailed:
        return report(Failure::CannotSpool, source.spoolFolder);
    case SpoolEnd::Done:
        break;
    }
    source.file = std::move(spool);
    return rewindFile(source.file) ? kStatusSuccess : report(Failure::CannotSpool, source.spoolFolder);
}

// Readies source for the right pass: the old spare file, closed after the
// left pass, opened again and checked to be the file first found,
// unchanged; or the spool, rewound.  Returns 0, or the status of the
// failure, reported.
int reopenSource(PassSource& source)
{
    if (source.stream())
        return rewindFile(source.file) ? kStatusSuccess : report(Failure::CannotSpool, source.spoolFolder);
    source.file.close();
    FileFacts again;
    return openOldFile(source.oldPath, &source.first, again, source.file);
}

// Checks, after the right pass, that it read the bytes that the left pass
// read, and that the old spare file ends as its first opening found it: a
// file rewritten, appended to or cut short on the way would lend the
// conversion records that are not its own, or lose some.  Returns 0, or the
// status of the failure, reported.
int checkReadings(const PassSource& source)
{
    const bool same = source.read[0] == source.read[1];
    if (source.stream())
        return same ? kStatusSuccess : report(Failure::CannotSpool, source.spoolFolder);
    FileFacts facts;
    if (!describeOpenState(source.file, facts))
        return report(Failure::CannotRead, source.oldPath);
    return same && sameState(facts, source.first) ? kStatusSuccess
                                                  : report(Failure::ChangedWhileRead, source.oldPath);
}

// One pass over source: skips the two heading pieces, then writes one
// record line for every further line piece, and flushes them, so that they
// reach the file even if the next pass cannot start.  Returns 0, or the
// status of the failure, reported.
int copyPass(PassSource& source, Side side, const SparePaths& paths, Workspace& work)
{
    if (side == Side::Right) {
        if (const int status = reopenSource(source))
            return status;
    }
    InputFile& oldFile = work.oldFile;
    oldFile.restart(std::move(source.file), &source.read[side == Side::Left ? 0 : 1]);
    const bool headed = skipHeaderLines(oldFile, work.line);
    const PassEnd end = headed ? copyPieces(oldFile, work.newFile, side, work.line) : PassEnd::ReadFailed;
    source.file = oldFile.release();
    if (end == PassEnd::ReadFailed)
        return reportReadFailure(source);
    if (end == PassEnd::WriteFailed || !work.newFile.flush())
        return report(Failure::CannotWrite, paths.newPath);
    return side == Side::Right ? checkReadings(source) : kStatusSuccess;
}

// Takes every buffer, opens the old spare file, checks and locks the new
// one, spools the old one whole if it is a stream, readies the new one, and
// runs the left pass, then the right pass; returns the exit status.  On
// every failure after the new spare file is emptied, it keeps what was
// converted before it; a replacement beside it is dropped.
int convert(const SparePaths& paths)
{
    Workspace work;
    if (!work.ready())
        return report(Failure::OutOfMemory, paths.oldPath);
    PassSource source;
    if (const int status = openSource(paths.oldPath, source))
        return status;
    // Whatever refuses the new spare file does so before a stream is read.
    NewFile target;
    if (const int status = claimNewFile(paths.newPath, source.first, source.file, work, !source.stream(),
                                        target.existing))
        return status;
    if (source.stream()) {
        if (const int status = spoolStream(source, work))
            return status;
    }
    if (const int status = startNewFile(paths, source.first, work, target))
        return status;

    if (!writeNewFileHeader(work.newFile))
        return report(Failure::CannotWrite, paths.newPath);
    for (const Side side : {Side::Left, Side::Right}) {
        if (const int status = copyPass(source, side, paths, work))
            return status;
    }
    return finishNewFile(paths, work, target);
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
    const int status = convert(paths);
    // A run whose messages were lost is not a success.
    return !finishStandardOutput() && status == kStatusSuccess ? kStatusCannotWrite : status;
}

int main(int argc, char* argv[])
{
    prepareProcess();
    return runConversion(argc, argumentsInUtf8(argc, argv));
}
