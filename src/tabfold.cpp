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
    OutOfMemory,
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
    {"not enough memory to convert %s\n", 5},
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
int copyRecords(Workspace& work, const SparePaths& paths, Side side)
{
    InputFile& oldFile = work.oldFile;
    OutputFile& newFile = work.newFile;
    if (!skipHeaderLines(oldFile, work.line))
        return reportReadFailure(paths);
    switch (copyPieces(oldFile, newFile, side, work.line)) {
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

// Reads the stream open in file to its end into a spool in the folder of
// paths, which then takes the stream's place in file, rewound: both passes
// read it, and the new spare file is touched only once it is complete.
// Returns 0, or the status of the failure, reported.
int spoolStream(const SparePaths& paths, FileHandle& file, Workspace& work)
{
    FileHandle spool = openSpool(paths.spoolFolder);
    if (!spool.isOpen())
        return report(Failure::CannotSpool, paths.spoolFolder);
    switch (moveStream(file, spool, work)) {
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
int copyLeftRecords(FileHandle& file, const SparePaths& paths, Workspace& work, Fingerprint& read)
{
    work.oldFile.restart(std::move(file));
    if (const int status = copyRecords(work, paths, Side::Left))
        return status;
    read = work.oldFile.fingerprint();
    file = work.oldFile.release();
    if (paths.spoolFolder == nullptr) {
        file.close();
        return kStatusSuccess;
    }
    return rewindFile(file) ? kStatusSuccess : report(Failure::CannotSpool, paths.spoolFolder);
}

// The right pass over the old spare file, or over its spool, which it
// closes.  It must have read the bytes that the left pass read, and the old
// spare file must end the pass as its first opening found it: a file
// rewritten, appended to or cut short on the way would lend the conversion
// records that are not its own, or lose some.  The spool is the program's
// own, and only its bytes are checked.
int copyRightRecords(FileHandle file, const SparePaths& paths, Workspace& work, const FileFacts& first,
                     const Fingerprint& leftRead)
{
    InputFile& oldFile = work.oldFile;
    oldFile.restart(std::move(file));
    if (const int status = copyRecords(work, paths, Side::Right))
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

// Takes every buffer, opens the old spare file, checks and locks the new
// one, spools the old one whole if it is a stream, readies the new one, and
// runs the left pass, then the right pass; returns the exit status.  On
// every failure after the new spare file is emptied, it keeps what was
// converted before it; a replacement beside it is dropped.
int convert(const SparePaths& given)
{
    Workspace work;
    if (!work.ready())
        return report(Failure::OutOfMemory, given.oldPath);
    FileFacts first;
    FileHandle oldFile;
    if (const int status = openOldFile(given.oldPath, nullptr, first, oldFile))
        return status;
    const SparePaths paths{given.oldPath, given.newPath, first.stream ? spoolFolder().path : nullptr};
    // Whatever refuses the new spare file does so before a stream is read.
    NewFile target;
    if (const int status = claimNewFile(paths.newPath, first, oldFile, work, !first.stream, target.existing))
        return status;
    if (first.stream) {
        if (const int status = spoolStream(paths, oldFile, work))
            return status;
    }
    if (const int status = startNewFile(paths, first, work, target))
        return status;

    if (!writeNewFileHeader(work.newFile))
        return report(Failure::CannotWrite, paths.newPath);
    Fingerprint leftRead;
    if (const int status = copyLeftRecords(oldFile, paths, work, leftRead))
        return status;

    if (const int status = openForRightPass(paths, first, oldFile))
        return status;
    if (const int status = copyRightRecords(std::move(oldFile), paths, work, first, leftRead))
        return status;

    return finishNewFile(paths, work, target);
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
