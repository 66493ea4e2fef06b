// What the program asks of the system it runs on, where systems differ.
// Each system has its own source; the rest of the program is the same
// everywhere.  Files are plain descriptors, read and written in binary.
#ifndef TABFOLD_PLATFORM_HPP
#define TABFOLD_PLATFORM_HPP

#include <cstddef>
#include <cstdint>

// A time stamp of a file, in whole seconds and the nanoseconds past them,
// compared field by field so that no date overflows.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;

    bool operator==(const FileTime&) const = default;
};

// What the program knows of a file: which file it is, whatever path led to
// it, whether it is a regular file, and enough of its state to see that it
// changed.  The file system may lie about any of it: the identity and the
// times are checks that can be fooled, never a proof.
struct FileFacts {
    std::uint64_t volume = 0;  // the device, or the volume's serial number
    std::uint64_t index = 0;   // the inode, or the file id on the volume
    std::uint64_t indexHigh = 0;  // the upper half of a 128-bit file id, or 0
    std::int64_t size = 0;     // in bytes
    FileTime modified;         // when its data last changed
    FileTime changed;          // when its data or its metadata last changed
    bool regular = false;      // an ordinary file of data, no folder or device
    bool stream = false;       // a pipe, FIFO or socket: bytes read once, as they come
};

// Closes the descriptor; false when the system reports an error.
bool closeFile(int fd);

// An open file descriptor, closed when its owner ends; it can be moved,
// never copied.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Closes the descriptor now; false when that failed.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd == -1 || closeFile(fd);
    }

private:
    int fd_ = -1;
};

// Makes the process ready for the conversion: standard output and standard
// error take bytes as they are, and a write to a pipe that nobody reads, or past a limit on
// the size of files, fails instead of ending the program.
void prepareProcess();

// The arguments of the command line in UTF-8: argv itself where the system
// gives them so, converted from the system's own form elsewhere.
char** argumentsInUtf8(int argc, char* argv[]);

// Prints the message, a printf format with one %s for text, on standard
// output: its bytes as they are, but on a console the characters that they
// spell in UTF-8, whatever the console's code page.
void printMessage(const char* format, const char* text);

// Prints the message on standard error, as printMessage does on standard
// output.
void printError(const char* format, const char* text);

// True where paths take Windows' forms: a backslash parts folders too, and
// C:\ or \\server\share\ begins an absolute path.
bool pathsOfWindows();

// What kind of file a path names, following links.  A disk is a block
// device: a whole disk, a partition or a volume.
enum class FileKind { Missing, Regular, Stream, Disk, Other };

// The kind of file that path names, as far as the system tells without
// opening it for reading or writing (a folder or a character device, for
// one, is Other).
FileKind kindOfPath(const char* path);

// Describes the file that path names, following links; false when no file
// can be found there.
bool describePath(const char* path, FileFacts& facts);

// Describes the open file; false when the system cannot tell.
bool describeOpenFile(const FileHandle& file, FileFacts& facts);

// Describes the size and the times of the open file only, where its
// identity costs more to learn (on Windows, a question to the volume
// manager); false when the system cannot tell.
bool describeOpenState(const FileHandle& file, FileFacts& facts);

// Opens path for reading bytes as they are, in a handle that child
// processes do not inherit; not open when it cannot.  The opening never
// waits on a FIFO, but it does wait for a lease that another program holds
// on a regular file (as a file server may), as any reader would.
FileHandle openForReading(const char* path);

// Standard output, in a handle of its own that child processes do not
// inherit, written as bytes as they are; not open when there is none.
FileHandle standardOutput();

// True when standard output is a console that must be given text through
// printMessage to show every name as it is (Windows'); false elsewhere.
bool standardOutputIsConsole();

// Shows the bytes of UTF-8 text on that console, a line of text at a time,
// never parting a character; false when standard output failed.  (Called
// only where standardOutputIsConsole() is true.)
bool printOnConsole(const char* bytes, std::size_t size);

// Standard input, in a handle of its own that child processes do not
// inherit, read as bytes as they are; not open when there is none.
FileHandle standardInput();

// Opens the stream that path names for reading, in a handle that child
// processes do not inherit, waiting as any reader does for a FIFO's first
// writer; not open when it cannot.
FileHandle openStream(const char* path);

// The folder where spools are made, in UTF-8, whole, however long:
// TMPDIR, or the system's own.  The text lasts as long as the program.
struct SpoolFolder {
    const char* path = "";
};
SpoolFolder spoolFolder();

// Makes a spool in the folder: an empty file open for reading and writing,
// which no other program can open by a name and which is gone once its
// handle is closed or the process ends, however it ends; not open when it
// cannot, or when the file system cannot be trusted to do so (a file that
// lost its name but reads back other bytes than were written to it).
FileHandle openSpool(const char* folder);

// Moves the open file's position back to its start; false when it cannot.
bool rewindFile(const FileHandle& file);

// Opens path for writing bytes as they are, creating the file when create
// is true but never emptying it, in a handle that child processes do not
// inherit; not open when it cannot.
FileHandle openForWriting(const char* path, bool create = true);

// True when the folder that would hold a file at path is a folder and, as
// far as the system tells without making one, a file may be made in it.
bool folderTakesFiles(const char* path);

// True when path, links followed, still names the file open in file, as
// far as the system tells (the identity of a file may lie, never to the
// harm of data: what it refuses, another program may have replaced).
// Where an open file can not be replaced (Windows), always true.
bool namesOpenFile(const char* path, const FileHandle& file);

// How putting a file written beside another in its place ended: done; a
// step failed, the other file still standing (or, past the rename, the
// folder could not be flushed); or the path named another file by then,
// which was left as it is.
enum class Commit { Done, Failed, Replaced };

// A file written beside an existing regular file, in its folder, to take
// its place whole: until commit, the file stands as it was.  What is not
// committed is gone when the object ends, or when a signal that may be
// caught ends the process; where the system can, the file has no name
// until it is whole, so that nothing of it outlives even a process killed
// on the way.  Paths are taken relative to the open folder, so that no
// name made here is longer than the file's own.
class Replacement {
public:
    Replacement() = default;
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement();

    // Makes the file beside the regular file that path names, links
    // followed, which existing holds open; not open when none can be made,
    // error then saying why (the system's number, or 0).
    FileHandle open(const char* path, const FileHandle& existing, int& error);
    // Flushes file to the disk; gives it the owner (where the process may)
    // and the extended attributes (access control lists among them) of the
    // file open in existing, and its mode, less the set-id bits of an owner
    // or a group not kept and never granting more than that file did; puts
    // it in that file's place unless the path names another file by then,
    // signals that may be caught held back meanwhile; flushes the folder;
    // and closes both.
    Commit commit(FileHandle file, FileHandle existing);

private:
    FileHandle folder_;       // the folder of the file replaced, open (POSIX)
    char* target_ = nullptr;  // the file replaced: its name in the folder, or its path
    char* name_ = nullptr;    // the replacement's own name, while it has one
};

// How taking a lock on a file ended.
enum class Lock { Taken, HeldElsewhere, Unsupported };

// Locks the whole open file for this process alone, without waiting; the lock
// lasts until the handle is closed.  Unsupported where the file system has
// no locks.
Lock lockExclusively(const FileHandle& file);

// Empties the regular file open for writing; false when it cannot.
bool emptyFile(const FileHandle& file);

// Reads up to count bytes at the file's position, waiting for them on a
// stream that another program made non-blocking; returns how many (0 at
// the end of the file), or -1 on an error.
std::ptrdiff_t readSome(const FileHandle& file, char* bytes, std::size_t count);

// What moveFromStream returns where the system cannot move bytes between
// the two files by itself.
constexpr std::ptrdiff_t kCannotMove = -2;

// Moves up to count bytes from the stream open in from to the file open in
// to, at its position, inside the system, where it can (from a pipe, on
// Linux), waiting for them as readSome does; returns how many (0 at the
// end of the stream), -1 on an error, which a pipe cannot have but the file
// can, or kCannotMove, having moved nothing, where the bytes must be read
// and written instead.
std::ptrdiff_t moveFromStream(const FileHandle& from, const FileHandle& to, std::size_t count);

// Reads the first count bytes of the file, fewer only where it is shorter,
// leaving its position as it was; returns how many, or -1 on an error.
std::ptrdiff_t readFromStart(const FileHandle& file, char* bytes, std::size_t count);

// Writes up to count bytes; returns how many, or -1 on an error.
std::ptrdiff_t writeSome(const FileHandle& file, const char* bytes, std::size_t count);

#endif
