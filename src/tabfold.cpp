// tabfold: converts an old spare file, which carries two records on each data
// line, into a new spare file with one record per line: all left records,
// then all right records, under a two-line heading.
//
// The old spare file is read twice, so that memory use does not depend on
// its size; a stream is read whole into a spool first (pass_source.hpp).
// So the stream may even be read from the new spare file itself: an
// existing new spare file is then replaced whole, by a file written beside
// it, and stands as it was until that file is complete; where no file can
// be made beside it, the run is refused before the stream is read.  Every
// buffer is taken before any file is opened.  Every message goes to
// standard output; failures end the run with a fixed exit status.

#include "file_io.hpp"
#include "pass.hpp"
#include "pass_source.hpp"
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

// Prints the message of the failure about path, with the reason of the
// system's error number when there is one; returns its exit status.
int report(Failure failure, const char* path, int error = 0)
{
    printMessage(messageOf(failure), path);
    printMessage(error == 0 ? "%s\n" : ": %s\n", error == 0 ? "" : reasonOf(error));
    return failure == Failure::CannotWrite ? kStatusCannotWrite : kStatusCannotConvert;
}

int report(const Refusal& refusal)
{
    return report(refusal.failure, refusal.path, refusal.error);
}

// The two paths of one run, as given on the command line.
struct SparePaths {
    const char* oldPath;
    const char* newPath;
};

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

// The new spare file: the file open on its path, locked, and, when a
// stream's conversion replaces it, the file beside it that takes its
// place once whole.
struct NewFile {
    FileHandle existing;
    bool regular = false;  // (existing is)
    Replacement replacement;
    FileHandle beside;
    bool replacing = false;
};

// Opens the new spare file at path into target, creating it when create is
// true but never emptying it, and locks it.  The lock must be on the file
// that the path names once it is taken: a file that another program put in
// its place meanwhile is opened in turn.  Returns 0, or the status of the
// failure, reported.
int openAndLock(const char* path, bool create, const FileFacts& oldFacts, NewFile& target)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        FileFacts facts;
        target.existing = openForWriting(path, create);
        if (!target.existing.isOpen() || !describeOpenFile(target.existing, facts))
            return report(Failure::CannotOpen, path);
        if (sameFile(facts, oldFacts))
            return report(Failure::IsOldSpareFile, path);
        // Where the file system has no locks, the conversion goes on without.
        if (lockExclusively(target.existing) == Lock::HeldElsewhere)
            return report(Failure::LockedElsewhere, path);
        target.regular = facts.regular;
        if (namesOpenFile(path, target.existing))
            return kStatusSuccess;
    }
    return report(Failure::ReplacedMeanwhile, path);
}

// Checks the new spare file before anything is written to it: it is
// refused when it is a disk, whose records would overwrite what the disk
// holds, or the old spare file itself (open in source; a stream's bytes
// cannot be compared, being read only once), or another run holds it.  An
// existing file is opened into target and locked, never emptied; a missing
// one is created, but for a stream's conversion, for which only its folder
// must take files.  A stream's conversion into an existing regular file
// makes the file beside it now, or is refused with the reason.  Returns 0,
// or the status of the failure, reported.
int claimNewFile(const char* path, const PassSource& source, Workspace& work, NewFile& target)
{
    const FileKind kind = kindOfPath(path);
    if (kind == FileKind::Disk)
        return report(Failure::NotRegularFile, path);
    FileFacts facts;
    const FileFacts& oldFacts = source.facts();
    if (describePath(path, facts) &&
        (sameFile(facts, oldFacts) ||
         (oldFacts.regular && holdsTheOldFile(path, facts, oldFacts, source.file(), work.oldFile.scratch()))))
        return report(Failure::IsOldSpareFile, path);
    if (kind == FileKind::Missing && source.stream())
        return folderTakesFiles(path) ? kStatusSuccess : report(Failure::CannotOpen, path);
    if (const int status = openAndLock(path, !source.stream(), oldFacts, target))
        return status;
    target.replacing = source.stream() && target.regular;
    if (!target.replacing)
        return kStatusSuccess;
    int error;
    target.beside = target.replacement.open(path, target.existing, error);
    if (target.beside.isOpen())
        return kStatusSuccess;
    return namesOpenFile(path, target.existing) ? report(Failure::CannotWriteBeside, path, error)
                                                : report(Failure::ReplacedMeanwhile, path);
}

// Gives work's newFile the file that the records go to, once the old spare
// file is open (and a stream spooled): the file beside the new spare file
// that replaces it, or the new spare file itself, created when missing and
// emptied when regular.  Returns 0, or the status of the failure, reported.
int startNewFile(const SparePaths& paths, const PassSource& source, Workspace& work, NewFile& target)
{
    if (target.replacing) {
        work.newFile.attach(std::move(target.beside));
        return kStatusSuccess;
    }
    if (!target.existing.isOpen()) {
        if (const int status = openAndLock(paths.newPath, true, source.facts(), target))
            return status;
    }
    if (target.regular && !emptyFile(target.existing))
        return report(Failure::CannotOpen, paths.newPath);
    work.newFile.attach(std::move(target.existing));
    return kStatusSuccess;
}

// Writes out the last records and closes the new spare file, or puts the
// file written beside it in its place.  A conversion is done only where
// the path names it at the end.  Returns 0, or the status of the failure,
// reported.
int finishNewFile(const SparePaths& paths, Workspace& work, NewFile& target)
{
    const bool flushed = work.newFile.flush();
    FileHandle file = work.newFile.release();
    // The file holds the conversion alone, or the run failed: a file system
    // may take the truncation of a longer file and keep its bytes (FAT
    // under FUSE).
    FileFacts facts;
    if (!flushed || (target.regular && (!describeOpenFile(file, facts) ||
                                        static_cast<std::uint64_t>(facts.size) != work.newFile.written())))
        return report(Failure::CannotWrite, paths.newPath);
    // (The path, or a link on its way, may name another file by now.)
    if (target.regular && !namesOpenFile(paths.newPath, target.replacing ? target.existing : file))
        return report(Failure::ReplacedMeanwhile, paths.newPath);
    if (target.replacing) {
        switch (target.replacement.commit(std::move(file), std::move(target.existing))) {
        case Commit::Done:
            return kStatusSuccess;
        case Commit::Replaced:
            return report(Failure::ReplacedMeanwhile, paths.newPath);
        case Commit::Failed:
            break;
        }
        return report(Failure::CannotWrite, paths.newPath);
    }
    return file.close() ? kStatusSuccess : report(Failure::CannotWrite, paths.newPath);
}

// One pass over source: skips the two heading pieces, then writes one
// record line for every further line piece, and flushes them, so that they
// reach the file even if the next pass cannot start.  Returns 0, or the
// status of the failure, reported.
int copyPass(PassSource& source, Side side, const SparePaths& paths, Workspace& work)
{
    InputFile& oldFile = work.oldFile;
    if (!source.begin(side, oldFile))
        return report(source.refusal());
    const bool headed = skipHeaderLines(oldFile, work.line);
    const PassEnd end = headed ? copyPieces(oldFile, work.newFile, side, work.line) : PassEnd::ReadFailed;
    const bool same = source.end(side, oldFile);
    if (end == PassEnd::ReadFailed)
        return report(source.readFailure());
    if (end == PassEnd::WriteFailed || !work.newFile.flush())
        return report(Failure::CannotWrite, paths.newPath);
    return same ? kStatusSuccess : report(source.refusal());
}

// Takes every buffer, opens the old spare file, checks and locks the new
// one, spools the old one whole if it is a stream, readies the new one, and
// runs the left pass, then the right pass; returns the exit status.  On
// every failure after the new spare file is emptied, it keeps what was
// converted before it; a replacement beside it is dropped.
int convert(const SparePaths& paths)
{
    // (Ended last, once the workspace has closed the file beside the new
    // spare file: Windows removes no file that is open.)
    NewFile target;
    Workspace work;
    if (!work.ready())
        return report(Failure::OutOfMemory, paths.oldPath);
    PassSource source;
    if (!source.open(paths.oldPath))
        return report(source.refusal());
    // Whatever refuses the new spare file does so before a stream is read.
    if (const int status = claimNewFile(paths.newPath, source, work, target))
        return status;
    if (!source.spool(work.oldFile, work.newFile))
        return report(source.refusal());
    if (const int status = startNewFile(paths, source, work, target))
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
