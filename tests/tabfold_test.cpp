// Runs the built program on real files in a temporary folder and checks its
// standard output, its exit status and the bytes of both files.
#include <gtest/gtest.h>

#include "child_process.hpp"  // with <filesystem>, <functional>, <string> and <vector>
#include "file_io.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

namespace {

namespace fs = std::filesystem;

const std::string kHeading = "        DS3\nN1  N2  LINK#\n";

// An old spare file of many blocks, and what the left pass and the right
// pass make of it.
std::string repeated(const std::string& line, int times)
{
    std::string lines;
    for (int i = 0; i < times; ++i)
        lines += line;
    return lines;
}
const std::string kBigOld = "h\nh\n" + repeated("123 456 78901 234 567 89012\n", 40000);
const std::string kBigLeft = kHeading + repeated("123 456 78901\n", 40000);
const std::string kBigRight = repeated("234 567 89012\n", 40000);

// Whether a file holds the bytes expected; where not, how long each is and
// where they part (a diff of large files would take more memory than there is).
::testing::AssertionResult holds(const std::string& bytes, const std::string& expected)
{
    if (bytes == expected)
        return ::testing::AssertionSuccess();
    const auto parted = std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end());
    const std::size_t at = static_cast<std::size_t>(parted.first - bytes.begin());
    return ::testing::AssertionFailure() << bytes.size() << " bytes where " << expected.size()
                                         << " were expected, parting at byte " << at << ": \""
                                         << bytes.substr(at, 40) << "\" for \"" << expected.substr(at, 40) << "\"";
}

std::string announced(const std::string& oldPath, const std::string& newPath)
{
    return "old spare file is " + oldPath + "\nnew spare file is " + newPath + "\n";
}

class Tabfold : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        do
            base_ = fs::canonical(fs::temp_directory_path()) / ("tabfold-" + std::to_string(random()));
        while (!fs::create_directory(base_));
        fs::create_directory(base_ / "work");
        fs::create_directory(base_ / "spool");
    }
    void TearDown() override
    {
        for (const std::string& folder : mounted_) {
            const std::string path = (base_ / "work" / folder).string();
            const std::string release = folder == "disk" ? "losetup -d \"$(readlink '" + path + "')\"" : "umount '" + path + "'";
            EXPECT_EQ(std::system(release.c_str()), 0);
        }
        fs::remove_all(base_);
    }

    // Mounts a file system that lies about its files at the folder of its
    // name in the work folder: FAT under FUSE, which gives every case of a
    // name its own inode number (and hangs or reads stale bytes when a file
    // is renamed over another, so replacements go to ext4 under FUSE, which
    // makes no unnamed file either); ext4 with whole-second times; and an
    // overlay, whose files the folder lower beside the work folder shows on
    // another device; and a disk: a link to a loop device on an image of
    // zeros.  False, with the reason noted, when it cannot.
    bool mount(const std::string& kind)
    {
        const std::map<std::string, std::string> commands = {
            {"fat", "truncate -s 8M fat.img && mkfs.vfat fat.img && fusefat -o rw+ fat.img work/fat"},
            {"fuse", "truncate -s 8M fuse.img && mkfs.ext4 -q fuse.img && fuse2fs fuse.img work/fuse"},
            {"seconds", "truncate -s 16M seconds.img && mkfs.ext4 -q -I 128 seconds.img && "
                        "mount -o loop seconds.img work/seconds"},
            {"overlay", "mkdir lower upper scratch && "
                        "mount -t overlay -o lowerdir=lower,upperdir=upper,workdir=scratch overlay work/overlay"},
            {"full", "mount -t tmpfs -o size=8k tmpfs work/full && (head -c 65536 /dev/zero >work/full/fill; true)"},
            {"disk", "truncate -s 1M disk.img && rmdir work/disk && ln -s \"$(losetup -f --show disk.img)\" work/disk"},
            {"small", "mount -t tmpfs -o size=1600k tmpfs work/small"},
            {"readonly", "mount -t tmpfs -o ro tmpfs work/readonly"},
            {"inodes", "mount -t tmpfs -o size=1m,nr_inodes=3 tmpfs work/inodes"},
        };
        if (std::find(mounted_.begin(), mounted_.end(), kind) != mounted_.end())
            return true;
        fs::create_directory(at(kind));
        const std::string command = "cd '" + base_.string() + "' && (" + commands.at(kind) + ") >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            unmounted_ += kind + ": cannot mount it here (" + commands.at(kind) + ")\n";
            return false;
        }
        mounted_.push_back(kind);
        return true;
    }

    fs::path at(const std::string& name) const { return base_ / "work" / utf8Path(name); }

    // Whether the row of that name runs: every row, or, when TABFOLD_ROW is
    // set, those whose names hold its text (TABFOLD_ROW=in-place runs the
    // conversions in place alone).
    static bool selected(const std::string& name)
    {
        const char* only = std::getenv("TABFOLD_ROW");
        return only == nullptr || name.find(only) != std::string::npos;
    }

    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(at(name), std::ios::binary) << bytes;
    }

    std::string read(const fs::path& path) const
    {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    // How many files the work folder holds, and how many in the folder of
    // spools hold more than the byte that tries a spool's file system.
    long files() const { return std::distance(fs::directory_iterator(base_ / "work"), {}); }
    long spools(const fs::path& folder) const
    {
        return std::count_if(fs::directory_iterator(folder), {},
                             [](const fs::directory_entry& entry) { return entry.file_size() > 1; });
    }

    // Runs the program, the words of its command, in the work folder, after
    // the words of wrapper, and calls meanwhile while it runs; returns its
    // exit status, its standard output and its standard error, which go to
    // files of its name beside the work folder.  With input, standard input
    // is a pipe that the bytes are written into.
    std::tuple<int, std::string, std::string> runProgram(const char* const* program, std::size_t words,
                                                         const std::vector<std::string>& args,
                                                         const std::vector<std::string>& wrapper = {},
                                                         const std::function<void()>& meanwhile = {},
                                                         const std::string& name = "run",
                                                         const std::string* input = nullptr) const
    {
        std::vector<std::string> command = wrapper;
        command.insert(command.end(), program, program + words);
        command.insert(command.end(), args.begin(), args.end());
        const fs::path out = base_ / (name + ".out"), errors = base_ / (name + ".err");
        const int status = runChild(command, base_ / "work", out, errors, meanwhile, input);
        return {status, read(out), read(errors)};
    }

    // Waits until the file in the work folder has more than size bytes.
    void waitPast(const std::string& name, std::uintmax_t size) const
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::error_code error;
        while ((fs::file_size(at(name), error) <= size || error) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    fs::path base_;
    std::vector<std::string> mounted_;
    std::string unmounted_;  // why rows were skipped
};

// What the conversion makes of every line is held against the C library in
// differential_test.cpp; here the built program converts whole files and
// streams, under paths taken as they are given, into new spare files that
// held more, and refuses what it cannot convert, touching no file, and
// leaving no spool behind.
TEST_F(Tabfold, ConvertsOrRefusesRealFilesUnderVerbatimPaths)
{
    const std::string kept = "h\nh\n1 2 3 4 5 6\n";
    const std::string example = read(EXAMPLES_DIR "/old-spare.txt");
    const std::string converted = read(EXAMPLES_DIR "/new-spare.txt");
    write("old.txt", kept);
    fs::create_directory(at("dir"));
    const std::string longName(230, 'd');  // whose paths pass 260 characters
    // (Apart from old.txt, which a conversion in place replaces, leaving
    // its other links as they were.)
    write("linked.txt", kept);
    fs::create_hard_link(at("linked.txt"), at("hard.txt"));
    if (!kOnWindows) {
        const std::string made = "cd '" + at("").string() + "' && mkfifo fifo && "
                                 "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => \"socket\", Listen => 1)'";
        ASSERT_EQ(std::system(made.c_str()), 0);
        fs::create_symlink("old.txt", at("soft.txt"));
    }
    // The old spare file old.txt as a stream: piped, at once or through a
    // socket, with the spool made beside the work folder unless the feed sets TMPDIR.
    const auto streamed = [](const std::string& feed) {
        return std::vector<std::string>{"sh", "-c", "export TMPDIR=../spool; " + feed};
    };
    const auto piped = streamed("cat old.txt | \"$0\" \"$@\"");
    // The same socket, which the program's parent may make non-blocking and
    // fill only after a while.
    const auto socket = [](bool nonBlocking) {
        return std::vector<std::string>{"perl", "-MSocket", "-MIO::Handle", "-e", "socketpair(my $a, my $b, AF_UNIX, "
            "SOCK_STREAM, 0) or die; $ENV{TMPDIR} = '../spool';" + std::string(nonBlocking ? " $a->blocking(0);" : "") +
            " if (fork) { open(STDIN, '<&', $a) or die; exec @ARGV } close $a;" + (nonBlocking ? " select(undef, undef, "
            "undef, 0.3);" : "") + " open(F, '<', 'old.txt'); print $b <F>"};
    };
    // A folder whose name is longer than the system takes, and whose first
    // 4,095 characters name the folder of spools too.
    std::string longFolder = "../spool";
    while (longFolder.size() < 4200)
        longFolder += "/.";
    const std::string bigConverted = kBigLeft + kBigRight;
    // A stream that sends nothing and stays open past the run's time limit,
    // after the shell's words first: what refuses the new spare file must do
    // so before the stream is read.
    const auto held = [](const std::string& first) {
        return std::vector<std::string>{"sh", "-c", first + "exec perl -MSocket -e 'socketpair(my $a, my $b, "
            "AF_UNIX, SOCK_STREAM, 0) or die; if (fork) { open(STDIN, \"<&\", $a) or die; exec @ARGV } close $a; "
            "sleep 30' \"$0\" \"$@\""};
    };
    // A FIFO whose writer wrote and went away before the run: only the open
    // descriptor can still read it.
    const auto written = streamed("exec 3<>fifo <fifo 9<fifo; cat old.txt >&3; exec 3>&-; exec \"$0\" \"$@\"");
    // A stream read from the new spare file itself, when the new spare file
    // cannot be written whole: past `ulimit -f`, or on a full file system.
    const std::string lines = "h\nh\n" + repeated("1 2 3 4 5 6\n", 100000);  // 1.2 MB, converted 2 MB
    // (sh counts blocks of 512 bytes.)
    const auto limited = streamed("ulimit -f 3500 && cat old.txt | \"$0\" \"$@\"");
    enum class On { Any, Posix, Windows };
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string out;  // after the announcements
        int status;
        std::string old = {}, expected = {};  // a conversion's old and new spare file
        On on = On::Any;
        std::vector<std::string> wrapper = {};
        std::string mount = {};  // the file system the files are on
        // Where a refusal's files are, or a stream's source; none for the new
        // one when it is the old one.
        std::string oldFile = "", newFile = "new.txt";
        std::vector<std::string> seen = {};  // the arguments as the C runtime splits them, if not args
        std::string spoolFolder = "../spool";  // that the wrapper sets, from the work folder
        bool fed = false;  // standard input a pipe that the old bytes are written into
    } cases[] = {
        {"empty-after-heading", {"old.txt", "new.txt"}, "", 0, "", kHeading},
        // A Ctrl-Z byte is data, which a read in text mode would end at.
        {"ctrl-z-is-data", {"old.txt", "new.txt"}, "", 0, "h\nh\n1 2 3 4 5 6\x1a\n7 8 9 10 11 12\n",
         kHeading + "1   2   3\n7   8   9\n4   5   6\n10  11  12\n"},
        {"dash-new-path", {"old.txt", "-new.txt"}, "", 0, example, converted},
        {"absolute-new-path", {"old.txt", at("new.txt").string()}, "", 0, example, converted},
        {"names-outside-code-pages", {"日本 old.spare", "новый 📄.spare"}, "", 0, example, converted},  // outside every ANSI code page at once
        {"paths-past-260", {longName + "-old.txt", longName + "-new.txt"}, "", 0, example, converted},
        // A small stack, once too small for the blocks; a date that overflowed nanoseconds.
        {"small-stack", {"old.txt", "new.txt"}, "", 0, example, converted, On::Posix, {"sh", "-c", "ulimit -s 256 && exec \"$0\" \"$@\""}},
        {"date-past-2038", {"old.txt", "new.txt"}, "", 0, example, converted, On::Posix,
         {"sh", "-c", "touch -d 2300-01-01 old.txt && exec \"$0\" \"$@\""}},
        {"standard-input-closed", {"old.txt", "new.txt"}, "", 0, example, converted, On::Posix, {"sh", "-c", "exec \"$0\" \"$@\" <&-"}},
        {"one-argument", {"old.txt"}, "command syntax: tabfold spare2in1lineFile spare1in1lineFile \n", 1},
        {"missing-old", {"missing.txt", "created.txt"}, "can not open missing.txt\n", 5},
        {"folder-as-old", {"dir", "created.txt"}, "can not open dir: not a regular file\n", 5},
        {"pipe", {"/dev/stdin", "new.txt"}, "", 0, example, converted, On::Posix, piped, {}, "old.txt"},
        {"empty-pipe", {"/dev/stdin", "new.txt"}, "", 0, "", kHeading, On::Posix, streamed(": | TMPDIR= \"$0\" \"$@\""), {}, "old.txt"},  // (spooled in /tmp)
        {"socket", {"/dev/stdin", "new.txt"}, "", 0, example, converted, On::Posix, socket(false), {}, "old.txt"},
        {"non-blocking-socket", {"/dev/stdin", "new.txt"}, "", 0, example, converted, On::Posix, socket(true), {}, "old.txt"},
        // A stream read from the new spare file itself is read whole first.
        {"pipe-in-place", {"/dev/stdin", "old.txt"}, "", 0, kBigOld, bigConverted, On::Posix, piped, {}, "old.txt", "old.txt"},
        {"process-substitution-in-place", {"/dev/fd/3", "old.txt"}, "", 0, kBigOld, bigConverted, On::Posix,
         {"bash", "-c", "TMPDIR=../spool exec \"$0\" \"$@\" 3< <(cat old.txt)"}, {}, "old.txt", "old.txt"},
        {"fifo-writer-gone-proc-fd", {"/proc/self/fd/9", "new.txt"}, "", 0, example, converted, On::Posix, written, {}, "old.txt"},
        // A socket by its own path would have to be connected to.
        {"socket-by-own-path", {"socket", "new.txt"}, "can not open socket: not a regular file\n", 5, {}, {}, On::Posix, {}, {}, "old.txt"},
        // Replaced whole, or not at all: through a link, its mode and owner kept.
        {"in-place-through-link", {"/dev/stdin", "soft.txt"}, "", 0, kBigOld, bigConverted, On::Posix, piped, {}, "old.txt", "soft.txt"},
        {"in-place-past-ulimit-f", {"/dev/stdin", "old.txt"}, "can not write old.txt\n", 255, lines, lines, On::Posix, limited, {}, "old.txt",
         "old.txt"},
        {"in-place-on-full-file-system", {"/dev/stdin", "small/old.txt"}, "can not write small/old.txt\n", 255, lines, lines, On::Posix,
         streamed("cat small/old.txt | \"$0\" \"$@\""), "small", "small/old.txt", "small/old.txt"},
        // Refused before a byte of the stream is read.
        {"early-folder", {"/dev/stdin", "dir"}, "can not open dir\n", 5, {}, {}, On::Posix, held(""), {}, "", ""},
        {"early-missing-folder", {"/dev/stdin", "missing/new.txt"}, "can not open missing/new.txt\n", 5, {}, {}, On::Posix, held(""), {}, "", ""},
        {"early-read-only-folder", {"/dev/stdin", "readonly/new.txt"}, "can not open readonly/new.txt\n", 5, {}, {}, On::Posix, held(""), "readonly",
         "", ""},
        {"early-locked", {"/dev/stdin", "locked.txt"}, "can not open locked.txt: it is locked by another program\n", 5, {}, {},
         On::Posix, held("exec 9>>locked.txt && flock 9 && "), {}, "", "locked.txt"},
        // A FIFO's opening waits for its writer.
        {"fifo-waits-for-writer", {"fifo", "new.txt"}, "", 0, example, converted, On::Posix,
         streamed("(sleep 0.2; cat old.txt >fifo) & \"$0\" \"$@\""), {}, "old.txt"},
        // A spool that cannot be made or filled leaves the new spare file as it was.
        {"spool-folder-missing", {"/dev/stdin", "new.txt"}, "can not spool the old spare file in missing\n", 5, {}, {}, On::Posix,
         streamed("cat old.txt | TMPDIR=missing \"$0\" \"$@\"")},
        {"spool-folder-full", {"/dev/stdin", "new.txt"}, "can not spool the old spare file in full\n", 5, {}, {}, On::Posix,
         streamed("cat old.txt | TMPDIR=full \"$0\" \"$@\""), "full"},
        {"spool-folder-too-long", {"/dev/stdin", "new.txt"}, "can not spool the old spare file in " + longFolder + "\n", 5, {}, {}, On::Posix,
         streamed("cat old.txt | TMPDIR=" + longFolder + " \"$0\" \"$@\"")},
        // FAT under FUSE keeps a file that lost its name under another, which
        // reads back wrong and outlives the program.
        {"spool-on-fuse-fat", {"/dev/stdin", "new.txt"}, "can not spool the old spare file in fat\n", 5, kBigOld, {}, On::Posix,
         streamed("cat old.txt | TMPDIR=fat \"$0\" \"$@\""), "fat", "old.txt", "new.txt", {}, "fat"},
        // A limit on the size of files is a failed write.
        {"ulimit-f", {"old.txt", "new.txt"}, "can not write new.txt\n", 255, kBigOld, bigConverted.substr(0, 102400), On::Posix,
         {"bash", "-c", "ulimit -f 100 && exec \"$0\" \"$@\""}},
        // A disk is no new spare file; a character device is.
        {"disk-as-new", {"old.txt", "disk"}, "can not open disk: not a regular file\n", 5, {}, {}, On::Posix, {}, "disk", "", ""},
        {"dev-null-as-new", {"old.txt", "/dev/null"}, "", 0, example, "", On::Posix},
        {"windows-volume-as-new", {"old.txt", "\\\\.\\C:"}, "can not open \\\\.\\C:: not a regular file\n", 5, {}, {}, On::Windows, {}, {},
         "old.txt", ""},
        {"same-stream-twice", {"/dev/stdin", "/dev/stdin"}, "can not open /dev/stdin: it is the old spare file\n", 5, {}, {}, On::Posix,
         piped, {}, "old.txt", ""},
        {"dev-null-as-old", {"/dev/null", "new.txt"}, "can not open /dev/null: not a regular file\n", 5, {}, {}, On::Posix},
        {"named-pipe", {"\\\\.\\pipe\\tabfold-old", "new.txt"}, "", 0, example, converted, On::Windows, {}, {}, "old.txt"},
        {"named-pipe-in-place", {"\\\\.\\pipe\\tabfold-old", "old.txt"}, "", 0, example, converted, On::Windows, {}, {}, "old.txt",
         "old.txt"},
        // A pipe or a redirection of cmd, or another program's pipe, by the
        // descriptor's name: a redirected file is read twice, NUL refused.
        // (Wine's cmd makes a pipe of a file; the rows fed by the test's own
        // pipe read a real one.)
        {"cmd-pipe", {"/dev/stdin", "new.txt"}, "", 0, example, converted, On::Windows, {"cmd", "type old.txt | $@"}, {}, "old.txt"},
        {"cmd-pipe-in-place", {"/dev/stdin", "old.txt"}, "", 0, kBigOld, bigConverted, On::Windows, {"cmd", "type old.txt | $@"}, {},
         "old.txt", "old.txt"},
        {"cmd-redirection", {"/dev/fd/0", "new.txt"}, "", 0, example, converted, On::Windows, {"cmd", "$@ < old.txt"}, {}, "old.txt"},
        {"cmd-redirection-in-place", {"/dev/stdin", "old.txt"}, "can not open old.txt: it is the old spare file\n", 5, {}, {},
         On::Windows, {"cmd", "$@ < old.txt"}, {}, "old.txt", ""},
        {"cmd-nul", {"/dev/stdin", "new.txt"}, "can not open /dev/stdin: not a regular file\n", 5, {}, {}, On::Windows,
         {"cmd", "$@ < NUL"}, {}, "old.txt", ""},
        {"fed-pipe", {"/dev/stdin", "new.txt"}, "", 0, example, converted, On::Any, {}, {}, "old.txt", "new.txt", {}, "../spool", true},
        {"fed-pipe-in-place", {"/dev/fd/0", "old.txt"}, "", 0, kBigOld, bigConverted, On::Any, {}, {}, "old.txt", "old.txt", {},
         "../spool", true},
        // A writer that failed midway, within a number: what came is converted.
        {"fed-pipe-cut-short", {"/dev/stdin", "new.txt"}, "", 0, "h\nh\n1 2 3 4 5 6\n7 8 9 10 1", kHeading + "1   2   3\n7   8   9\n4   5   6\n10  1   6\n",
         On::Any, {}, {}, "old.txt", "new.txt", {}, "../spool", true},
        // A file that a descriptor names is held open by the program that gave it.
        {"fed-pipe-into-descriptor", {"/dev/stdin", "/dev/fd/3"}, "can not write beside /dev/fd/3: device or resource busy\n",
         5, example, {}, On::Windows, {"fd3=new.txt"}, {}, "old.txt", "new.txt", {}, "../spool", true},
        {"no-standard-input", {"/dev/stdin", "new.txt"}, "can not open /dev/stdin\n", 5, {}, {}, On::Windows, {}, {}, "old.txt", ""},
        {"nul-as-old", {"NUL", "new.txt"}, "can not open NUL: not a regular file\n", 5, {}, {}, On::Windows},
        // Known by its name: CON cannot be opened where no console is attached.
        {"con-as-old", {"CON", "new.txt"}, "can not open CON: not a regular file\n", 5, {}, {}, On::Windows},
        // The command line "x y"" z" "w", split as every msvcrt program splits it.
        {"msvcrt-quotes", {"x y\"\" z", "w"}, "can not open x y\" z\n", 5, {}, {}, On::Windows, {}, {}, "old.txt", "new.txt",
         {"x y\" z", "w"}},
        // A longer file of the same time whose first bytes are the old one's is another.
        {"longer-copy-of-the-same-time", {"old.txt", "n.txt"}, "", 0, kBigOld, bigConverted, On::Posix, {"sh", "-c", "cp old.txt "
         "n.txt && echo 1 >>n.txt && touch -r old.txt n.txt && exec \"$0\" \"$@\""}},
        {"copy-of-the-same-time-emptied-as-it-is-read", {"old.txt", "n.txt"}, "", 0, example, converted, On::Posix, {"sh", "-c",
         "cp -p old.txt n.txt && exec strace -o /dev/null -E ASAN_OPTIONS=detect_leaks=0 -P \"$(pwd -P)/n.txt\" -e "
         "trace=pread64 -e inject=pread64:retval=0:when=1 \"$0\" \"$@\""}},
        {"folder-as-new", {"old.txt", "dir"}, "can not open dir\n", 5},
        {"same-path", {"old.txt", "old.txt"}, "can not open old.txt: it is the old spare file\n", 5},
        {"other-case", {"old.txt", "OLD.TXT"}, "can not open OLD.TXT: it is the old spare file\n", 5, {}, {}, On::Windows},
        {"hard-link", {"linked.txt", "hard.txt"}, "can not open hard.txt: it is the old spare file\n", 5, {}, {}, On::Any, {}, {},
         "linked.txt", ""},
        // One file under two identities: its bytes tell.
        {"fat-two-identities", {"fat/oldspare.txt", "fat/OLDSPARE.TXT"}, "can not open fat/OLDSPARE.TXT: it is the old spare file\n", 5, {},
         {}, On::Posix, {}, "fat", "fat/oldspare.txt", ""},
        // (Though the first read of the old file is broken off by a signal.)
        {"fat-same-size-and-time", {"fat/o.txt", "fat/n.txt"}, "", 0, kept, kHeading + "1   2   3\n4   5   6\n",
         On::Posix, {"sh", "-c", "rm fat/n.txt && tr 1 7 <fat/o.txt >fat/n.txt && touch -r fat/o.txt fat/n.txt && exec strace -o "
         "/dev/null -E ASAN_OPTIONS=detect_leaks=0 -P \"$(pwd -P)/fat/o.txt\" -e trace=pread64 -e inject=pread64:error=EINTR:"
         "when=1 \"$0\" \"$@\""}, "fat"},
        // FAT under FUSE takes the truncation of a longer file and keeps its bytes.
        {"fat-truncation-ignored", {"fat/o.txt", "fat/n.txt"}, "can not write fat/n.txt\n", 255, kept,
         kHeading + "1   2   3\n4   5   6\n" + std::string(54, '0'), On::Posix,
         {"sh", "-c", "printf %0100d 0 >fat/n.txt && exec \"$0\" \"$@\""}, "fat", "fat/o.txt", "fat/n.txt"},
        {"overlay-two-layers", {"overlay/f.txt", "../lower/f.txt"}, "can not open ../lower/f.txt: it is the old spare file\n", 5, {}, {},
         On::Posix, {}, "overlay", "../lower/f.txt", ""},
    };
    for (const auto& c : cases) {
        if (!selected(c.name) || (c.on != On::Any && (c.on == On::Windows) != kOnWindows))
            continue;
        SCOPED_TRACE(c.name);
        if (!c.mount.empty() && !mount(c.mount))
            continue;
        const bool converts = c.status == 0;
        const std::string oldPath = !c.oldFile.empty() ? c.oldFile : converts ? c.args[0] : "old.txt";
        const std::string newPath = converts ? c.args[1] : c.newFile;
        const std::string oldBytes = converts || !c.old.empty() ? c.old : kept;
        // (A conversion through a link writes the file it leads to.)
        const bool inPlace = newPath == oldPath || (!newPath.empty() && fs::is_symlink(at(newPath)));
        write(oldPath, oldBytes);
        // What a conversion in place keeps of the file it replaces: its mode
        // and its owner (as root), given first, then read (as the commands say).
        const auto state = [&](const std::string& given) {
            const std::string command = "cd '" + at("").string() + "' && " + given + "stat -L -c '%a %u %g' " + newPath;
            return std::system((command + " >../stat").c_str()) == 0 ? read(base_ / "stat") : "";
        };
        const bool keeps = inPlace && c.status == 0 && !kOnWindows;
        const std::string given =
            keeps ? state("chmod 604 " + newPath + " && (chown 1234:1234 " + newPath + " 2>/dev/null; true) && ") : "";
        if (!newPath.empty() && !inPlace)
            write(newPath, converts ? "a longer file that must be emptied first\n\n\n\n\n\n\n\n\n\n\n\n" : "kept\n");
        const long before = files();
        const std::vector<std::string>& seen = c.seen.empty() ? c.args : c.seen;
        const std::string expected = c.status == 1 ? c.out : announced(seen[0], seen[1]) + c.out;
        const bool namedPipe = !c.args.empty() && c.args[0].starts_with("\\\\.\\pipe\\");
        const auto writer = namedPipe ? pipeWriter(c.args[0], c.old) : nullptr;
        const char* const program[] = {TABFOLD_COMMAND};
        EXPECT_EQ(runProgram(program, std::size(program), c.args, c.wrapper, writer, "run", c.fed ? &oldBytes : nullptr),
                  std::make_tuple(c.status, expected, std::string()));
        EXPECT_TRUE(holds(inPlace ? oldBytes : read(at(oldPath)), oldBytes)) << expected;
        EXPECT_EQ(keeps ? state("") : given, given) << expected;
        const std::string newBytes = converts || !c.expected.empty() ? c.expected : "kept\n";
        EXPECT_TRUE(holds(newPath.empty() ? newBytes : read(at(newPath)), newBytes)) << expected;
        EXPECT_TRUE(c.mount != "disk" || read(at("disk")).find_first_not_of('\0') == std::string::npos) << expected;
        EXPECT_EQ(files(), before) << expected;
        EXPECT_EQ(spools(at(c.spoolFolder)), 0) << expected;
    }
    EXPECT_TRUE(kOnWindows || fs::is_symlink(at("soft.txt")));
    if (!unmounted_.empty())
        GTEST_SKIP() << unmounted_;
}

// A stream converted into the file it is read from replaces it whole, or
// leaves it as it was, saying why: nothing is left beside it, no one gets
// rights that the file did not grant, and success means that the conversion
// is at the path.  Each row's script makes its files from old.txt, runs the
// program ("$0" "$@" and its arguments), and prints what it checks after
// the program's output.  (Not run on Windows, where an open file cannot be
// replaced, nor its folder's rights be taken from root by setpriv.)
TEST_F(Tabfold, ReplacesInPlaceWholeOrRefusesWithTheReason)
{
    const std::string whole = "h\nh\n1 2 3 4 5 6\n";  // old.txt, kept
    write("old.txt", whole);
    write("other.txt", "h\nh\n7 8 9 1 2 3\n");
    const std::string converted = kHeading + "1   2   3\n4   5   6\n", other = kHeading + "7   8   9\n1   2   3\n";
    // A folder of 4,085 characters, in which no name beside f fits a path.
    std::string folder = "e";
    while (folder.size() < 4085)
        folder.insert(0, std::string(std::min<std::size_t>(200, 4085 - folder.size() - 1), 'd') + "/");
    const auto stream = [](const std::string& f, const std::string& wrapper = "") {
        return "cat " + f + " | " + wrapper + " \"$0\" \"$@\" /dev/stdin " + f;
    };
    // The signals that end a run, those of a fault among them, and the status
    // of a run killed by each.  (An emulator, qemu-user, keeps SIGSEGV and
    // SIGBUS for itself.)
    const char* const emulated[] = {TABFOLD_COMMAND};
    std::vector<std::pair<std::string, int>> faultSignals = {{"TERM", 143}, {"ABRT", 134}, {"FPE", 136}, {"ILL", 132},
                                                             {"TRAP", 133}, {"SYS", 159}};
    if (std::size(emulated) == 1)
        faultSignals.insert(faultSignals.end(), {{"SEGV", 139}, {"BUS", 135}, {"RT_32", 192}});  // (SIGRTMAX)
// (A sanitized program needs /proc, which the row without it then keeps.)
#if defined(__SANITIZE_ADDRESS__)
    const std::string hideProc;
#else
    const std::string hideProc = "mount -t tmpfs none /proc && ";
#endif
    // A processor without AVX2 but with the other features of the fast kernel, emulated where the program runs
    // natively on x86-64 (qemu-user runs no sanitized program).
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
    const std::string withoutAvx2 = std::size(emulated) == 1 ? "qemu-x86_64 -cpu max,-avx2" : "";
#else
    const std::string withoutAvx2;
#endif
    std::string faults, faultNames;
    for (const auto& [name, status] : faultSignals) {
        faults += announced("/dev/stdin", "fuse/t") + std::to_string(status) + "\n";
        faultNames += " " + name;
    }
    // The stream into f under strace, the fault injected into the call before its first colon.
    const auto injected = [&](const std::string& f, const std::string& fault) {
        return stream(f, "strace -o /dev/null -e trace=" + fault.substr(0, fault.find(':')) + " -e inject=" + fault);
    };
    const auto refused = [](const std::string& f, const std::string& reason) {
        return announced("/dev/stdin", f) + "can not write " + reason + "\n";
    };
    const std::string locked = "until grep -q \":$(stat -c %i f) \" /proc/locks; do sleep 0.01; done; ";
    const std::string late = "strace -o /dev/null -e inject=flock:delay_enter=2000000:when=1 \"$0\" \"$@\" other.txt f & "
                             "sleep 1; " + stream("f") + " >/dev/null; wait $!";
    // Each run's conversion, the stream's of the other's, of the file the
    // other emptied to write it, or of its first lines: cat's stream ends
    // where the other run emptied the file that cat reads.
    const std::string race = "{ \"$0\" \"$@\" f f.1 && \"$0\" \"$@\" other.txt f.2 && \"$0\" \"$@\" f.2 f.3 && : >f.0 && "
        "\"$0\" \"$@\" f.0 f.4; } >/dev/null; for i in $(seq 25); do cp f.old f; (" + stream("f") + " & \"$0\" \"$@\" other.txt "
        "f & wait) >/dev/null; cmp -s f f.1 || cmp -s f f.2 || cmp -s f f.3 || cmp -s f f.4 || { k=$((($(wc -c <f) - 26) / 20)); "
        "head -n 2 f.1; yes '1   2   3' | head -n $k; yes '4   5   6' | head -n $k; } | cmp -s - f || wc -c f; done";
    const struct {
        const char* name;
        std::string prepare, run, check;  // shell, in the work folder
        std::string out;
        int status;
        std::string shown;  // what the check prints
        std::string mount = {};
        std::string needs = "strace";  // the tools that the row runs
    } cases[] = {
        {"folder-read-only-to-its-owner", "mkdir d && cp old.txt d/f && chmod 555 d",
         stream("d/f", "setpriv --bounding-set=-dac_override,-fowner"), "cat d/f; ls -A d",
         refused("d/f", "beside d/f: permission denied"), 5, "h\nh\n1 2 3 4 5 6\nf\n", {}, "setpriv"},
        {"immutable-folder", "cp old.txt seconds/f && chattr +i seconds", stream("seconds/f"),
         "chattr -i seconds; cat seconds/f; ls -A seconds", refused("seconds/f", "beside seconds/f: permission denied"), 5,
         "h\nh\n1 2 3 4 5 6\nf\nlost+found\n", "seconds", "chattr"},
        {"no-free-inode", "cp old.txt inodes/f && touch inodes/x", stream("inodes/f"), "cat inodes/f; ls -A inodes",
         refused("inodes/f", "beside inodes/f: no space left on device"), 5, "h\nh\n1 2 3 4 5 6\nf\nx\n", "inodes"},
        {"folder-path-past-the-limit", "mkdir -p " + folder + " && cp old.txt " + folder + "/f",
         stream(folder + "/f"), "cat " + folder + "/f; ls -A " + folder, announced("/dev/stdin", folder + "/f"), 0,
         converted + "f\n"},
        {"replaced-while-the-stream-is-read", "cp old.txt f",
         "{ cat f; until [ -e replaced ]; do sleep 0.01; done; } | \"$0\" \"$@\" /dev/stdin f & " + locked +
             "echo theirs >f.new && mv f.new f && touch replaced; wait $!", "cat f",
         refused("f", "f: another program replaced it during the conversion"), 5, "theirs\n"},
        {"replaced-while-written-in-place", "cp old.txt f",
         "strace -o /dev/null -e trace=write -e inject=write:delay_enter=1000000:when=2 \"$0\" \"$@\" other.txt f & " +
             locked + "echo theirs >f.new && mv f.new f; wait $!", "cat f",
         announced("other.txt", "f") + "can not write f: another program replaced it during the conversion\n", 5,
         "theirs\n"},
        {"lock-taken-late-after-a-replacement", "cp old.txt f", late, "cat f", announced("other.txt", "f"), 0, other},
        {"races-with-a-run-into-the-same-file", "{ printf 'h\\nh\\n'; yes '1 2 3 4 5 6' | head -n 30000; } >f.old && cp f.old f", race, ":", "", 0, ""},
        {"acl-and-attribute-kept", "cp old.txt seconds/a && setfacl -m u:nobody:rw,g::---,m::rw- seconds/a && "
         "setfattr -n user.note -v kept seconds/a && setfattr -n user.empty seconds/a", stream("seconds/a"),
         "getfacl -cp seconds/a; getfattr -d seconds/a; stat -c ' %a' seconds/a",
         announced("/dev/stdin", "seconds/a"), 0, "user::rw-\nuser:nobody:rw-\ngroup::---\nmask::rw-\nother::r--\n\n"
         "# file: seconds/a\nuser.empty=\"\"\nuser.note=\"kept\"\n\n 664\n", "seconds", "setfacl getfacl setfattr getfattr"},
        {"attribute-added-while-listed", "cp old.txt seconds/l", injected("seconds/l", "flistxattr:delay_exit=1000000:"
         "when=1") + " & sleep 0.5; setfattr -n user.late -v x seconds/l; wait $!", "getfattr -d seconds/l", announced("/dev/stdin", "seconds/l"), 0, "", "seconds", "strace setfattr getfattr"},
        {"acl-that-cannot-be-set-widens-nothing", "cp old.txt seconds/n && setfacl -m u:nobody:rw,g::---,m::rw- seconds/n",
         injected("seconds/n", "fsetxattr:error=EOPNOTSUPP"),
         "getfacl -cp seconds/n; stat -c %a seconds/n", announced("/dev/stdin", "seconds/n"), 0,
         "user::rw-\ngroup::---\nother::r--\n\n604\n", "seconds", "strace setfacl getfacl"},
        {"mode-that-cannot-be-set-widens-nothing", "cp old.txt r && chmod 444 r", injected("r", "fchmod:error=EPERM"),
         "cat r; stat -c %a r", refused("r", "r"), 255, whole + "444\n"},
        {"set-group-id-dropped-with-its-group", "cp old.txt g && chown 0:5678 g && chmod 2664 g",
         stream("g", "setpriv --bounding-set=-chown"), "stat -c '%a %g' g", announced("/dev/stdin", "g"), 0, "604 0\n",
         {}, "setpriv"},
        {"group-kept-where-the-owner-is-not", "cp old.txt g && chown 1234:5678 g && chmod 6664 g",
         stream("g", "setpriv --groups=5678 --bounding-set=-chown"), "stat -c '%a %u %g' g", announced("/dev/stdin", "g"), 0,
         "2664 0 5678\n", {}, "setpriv"},
        // In a user namespace, two groups that it does not map show the same number.
        {"group-of-the-same-number-not-kept", "mkdir -m 2777 ns && chown 1234:50 ns && chmod 2777 ns && cp old.txt ns/f && "
         "chown 1234:60 ns/f && chmod 666 ns/f", "unshare -r sh -c 'cat ns/f | \"$0\" \"$@\" /dev/stdin ns/f' \"$0\" \"$@\"",
         "stat -c '%a %g' ns/f", announced("/dev/stdin", "ns/f"), 0, "606 50\n", {}, "unshare"},
        // A /dev/fd/3 that is a file of its own, not descriptor 3, is read as the file.
        // (Descriptor 3 is on another tmpfs, where it has the inode number of /dev/fd/3 on its own.)
        {"descriptor-name-of-another-file", "mkdir b", "unshare -m sh -c 'mount -t tmpfs t /dev && mkdir /dev/fd && mkfifo "
         "/dev/fd/3 && mknod -m 666 /dev/null c 1 3 && mount -t tmpfs t b && mkdir b/d && mkfifo b/d/o && (timeout 9 cat old.txt "
         ">/dev/fd/3 2>&- &) && (cat other.txt >b/d/o &) && exec 3<b/d/o \"$0\" \"$@\" /dev/fd/3 n' \"$0\" \"$@\"", "cat n",
         announced("/dev/fd/3", "n"), 0, converted, {}, "unshare"},
        {"signal-between-link-and-rename-waits", "cp old.txt s", injected("s", "linkat:signal=SIGTERM"), "cat s",
         announced("/dev/stdin", "s"), 143, converted},
        // A name beside that another file has (a run killed before, of the same number) is passed over.
        {"name-beside-taken", "cp old.txt f && cp old.txt fuse/f", stream("f", "sh -c 'touch .tabfold-$$-0 && exec \"$0\" "
         "\"$@\"'") + "; " + stream("fuse/f", "sh -c 'touch fuse/.tabfold-$$-0 && exec \"$0\" \"$@\"'"), "cat f fuse/f; rm "
         ".tabfold-*-0 fuse/.tabfold-*-0", announced("/dev/stdin", "f") + announced("/dev/stdin", "fuse/f"), 0, converted +
         converted, "fuse"},
        {"every-name-beside-taken", "cp old.txt f && cp old.txt fuse/f", stream("f", "sh -c 'for i in $(seq 0 99); do touch "
         ".tabfold-$$-$i; done && exec \"$0\" \"$@\"'") + "; " + stream("fuse/f", "sh -c 'for i in $(seq 0 "
         "99); do touch fuse/.tabfold-$$-$i; done && exec \"$0\" \"$@\"'"), "cat f fuse/f; rm .tabfold-* fuse/.tabfold-*",
         refused("f", "f") + refused("fuse/f", "beside fuse/f: file exists"), 5, whole + whole, "fuse"},
        // What the system would refuse to rename over is refused first.
        {"sticky-folder-file-of-another", "mkdir -m 1777 t && cp old.txt t/f && chown 1234 t t/f",
         stream("t/f", "setpriv --bounding-set=-fowner"), "cat t/f", refused("t/f", "beside t/f: permission denied"), 5,
         whole, {}, "setpriv"},
        {"mount-point", "cp old.txt m && cp old.txt m.0 && mount --bind m.0 m", stream("m"), "umount m; cat m",
         refused("m", "beside m: device or resource busy"), 5, whole, {}, "mount"},
        // Another file put in its place as it is renamed is put back.
        {"replaced-at-the-rename", "cp old.txt f", injected("f", "renameat2:delay_enter=1000000") + " & until ls .tabfold-* >/dev/null 2>&1; do sleep 0.01; done; echo "
         "theirs >f.new && mv f.new f; wait $!", "cat f", refused("f", "f: another program replaced it during the "
         "conversion"), 5, "theirs\n"},
        // A folder without room for a file without a name has none for one with a name.
        {"no-room-for-a-file-without-a-name", "cp old.txt f", stream("f", "strace -o /dev/null -P \"$(pwd -P)\" -e "
         "trace=openat -e inject=openat:error=ENOSPC:when=1"), "cat f", refused("f", "beside f: no space left on device"), 5,
         whole},
        // A file beside that cannot take the file's place is dropped.
        {"rename-fails", "cp old.txt f", injected("f", "renameat,renameat2:error=EIO"), "cat f", refused("f", "f"), 255, whole},
        {"folder-flush-fails", "cp old.txt f", injected("f", "fsync:error=EIO:when=2"), "cat f", refused("f", "f"), 255, converted},
        // The rights that the folder would give a new file are not the file's.
        {"folder-default-acl-not-taken", "mkdir -p d && setfacl -d -m u:nobody:rwx d && cp old.txt d/f && setfacl -b d/f && "
         "setfattr -n user.a -v 1 d/f", stream("d/f"), "getfacl -cp d/f", announced("/dev/stdin", "d/f"), 0,
         "user::rw-\ngroup::r--\nother::r--\n\n", {}, "setfacl getfacl setfattr"},
        // (In a namespace of its own, the program is process 1, and the name beside is known.)
        {"close-or-write-of-the-file-beside-fails", "cp old.txt fuse/t", stream("fuse/t", "strace -f -o /dev/null -P "
         "\"$PWD/fuse/.tabfold-1-0\" -e trace=close -e inject=close:error=EIO unshare -pf") + "; " + stream("fuse/t", "strace "
         "-f -o /dev/null -P \"$PWD/fuse/.tabfold-1-0\" -e trace=write -e inject=write:error=EIO unshare -pf"), "cat fuse/t",
         refused("fuse/t", "fuse/t") + refused("fuse/t", "fuse/t"), 255, whole, "fuse", "strace unshare"},
        {"sticky-folder-file-of-another-as-any-owner", "mkdir -m 1777 t2 && cp old.txt t2/f && chown 1234 t2 t2/f",
         stream("t2/f"), "cat t2/f", announced("/dev/stdin", "t2/f"), 0, converted},
        {"attributes-unlisted", "cp old.txt u", injected("u", "flistxattr:error=EIO") + "; " + injected("u", "flistxattr:"
         "error=EOPNOTSUPP") + "; cp old.txt u; " + injected("u", "fremovexattr:error=EOPNOTSUPP"), "cat u", refused("u", "u") +
         announced("/dev/stdin", "u") + announced("/dev/stdin", "u"), 0, converted},
        {"attributes-unlisted-at-the-second-call-or-unread", "cp old.txt seconds/v && setfattr -n user.a -v 1 seconds/v",
         injected("seconds/v", "flistxattr:error=EIO:when=2") + "; " + injected("seconds/v", "fgetxattr:error=EIO"),
         "cat seconds/v", refused("seconds/v", "seconds/v") + refused("seconds/v", "seconds/v"), 255, whole, "seconds",
         "strace setfattr"},
        // Without /proc, the file beside is named through its descriptor alone.
        {"no-proc", "cp old.txt w && mkfifo wp", "(cat w >wp &); unshare -m sh -c '" + hideProc + "exec \"$0\" \"$@\" wp w' "
         "\"$0\" \"$@\"", "cat w; rm wp", announced("wp", "w"), 0, converted, {}, "unshare"},
        {"processor-without-avx2", "cp old.txt x", stream("x", withoutAvx2), "cat x", announced("/dev/stdin", "x"), 0,
         converted, {}, "qemu-x86_64"},
        // A link made a loop as it is followed: the path names the file no more.
        {"link-made-a-loop", "cp old.txt lt && ln -s lt lm && ln -s lm ll", "timeout 9 " + injected("ll", "readlinkat:"
         "delay_enter=1000000:when=2") + " & sleep 0.5; ln -s ll lm.new && mv -T lm.new lm; wait $!", "cat lt; rm ll lm",
         refused("ll", "ll: another program replaced it during the conversion"), 5, whole},
        {"link-unreadable", "cp old.txt k", injected("k", "readlinkat:error=EIO"), "cat k",
         refused("k", "beside k: input/output error"), 5, whole},
        // A file that becomes a FIFO while a lease holds its opening back is not opened again, to wait.
        {"lease-then-fifo", "cp old.txt o2", "timeout 9 strace -o /dev/null -P o2 -e trace=openat -e inject=openat:"
         "error=EAGAIN:delay_enter=1000000:when=1 \"$0\" \"$@\" o2 n2 & sleep 0.5; rm o2; mkfifo o2; wait $!", "rm o2",
         announced("o2", "n2") + "can not open o2\n", 5, ""},
        // The signals of a fault too, which another program may send, end it with the same status.
        // One that the run was started to ignore is ignored.
        {"signals-take-a-named-file-beside-away", "ulimit -c 0 && cp old.txt fuse/t", "for s in" + faultNames + "; do " +
         injected("fuse/t", "fsync:signal=SIG$s") + "; echo $?; done; trap '' HUP; " + injected("fuse/t", "fsync:signal=SIGHUP"),
         "cat fuse/t", faults + announced("/dev/stdin", "fuse/t"), 0, converted, "fuse"},
        {"descriptor-of-a-deleted-file", "cp old.txt gone && exec 3<>gone && rm gone", stream("/dev/fd/3"), "true",
         announced("/dev/stdin", "/dev/fd/3") + "can not write beside /dev/fd/3: no such file\n", 5, ""},
    };
    for (const auto& c : cases) {
        if (!selected(c.name) || (!c.mount.empty() && !mount(c.mount)))
            continue;
        if (std::system(("command -v " + c.needs + " >/dev/null").c_str()) != 0) {
            unmounted_ += std::string(c.name) + ": needs " + c.needs + "\n";
            continue;
        }
        SCOPED_TRACE(c.name);
        // What is left beside the file, anywhere, is a fault of every row.
        // (A sanitized build's leak checker cannot work under a tracer.)
        const std::string script = "export TMPDIR=../spool ASAN_OPTIONS=detect_leaks=0; " + c.prepare + " && { " + c.run + "; }; s=$?; " + c.check +
                                   "; find . -name '.tabfold-*'; exit $s";
        const char* const program[] = {TABFOLD_COMMAND};
        const auto [status, out, errors] = runProgram(program, std::size(program), {}, {"sh", "-c", script});
        EXPECT_EQ(std::make_pair(status, out), std::make_pair(c.status, c.out + c.shown)) << errors;
        EXPECT_EQ(spools(base_ / "spool"), 0);
    }
    if (!unmounted_.empty())
        GTEST_SKIP() << unmounted_;
}

// Faults at exact moments, injected by strace into the running program: a
// failed reopening, read or write, lost messages, an old spare file
// replaced or resized while the reopening or a read of the right pass is
// held up, and a stream that breaks off or whose spool cannot be made
// without a name.  (Not run on Windows, whose programs strace cannot trace.)
TEST_F(Tabfold, ReportsEveryFailureAndChangeDuringTheConversion)
{
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing or cannot trace here";
    const char* const program[] = {TABFOLD_COMMAND};
    const std::string old = at("old.txt").string(), newPath = at("new.txt").string();
    const std::string announce = announced(old, "new.txt");
    const std::string changed = announce + "can not open " + old + ": it changed during the conversion\n";
    // Each pass reads whole blocks, then once more to meet the end.
    const std::size_t reads = (kBigOld.size() + InputFile::kBlockSize - 1) / InputFile::kBlockSize + 1;
    const std::string holdReopening = "openat:delay_enter=2000000:when=2", fstats = "fstat,newfstatat,statx:error=ENOENT:when=";
    const std::string seconds = at("seconds/old.txt").string();
    const std::string spool = (base_ / "spool").string(), streamed = announced(at("fifo").string(), "new.txt");
    const struct {
        const char* what;
        std::string traced, inject;
        std::function<void()> change;  // once the left records are written
        std::string out;
        int status;
        std::string kept;  // the new spare file, or what it begins with
        std::string mount = {};  // the file system of the old spare file, seconds
        bool stream = false;     // the old spare file written into a FIFO
    } cases[] = {
        {"the reopening fails", old, "openat:error=EACCES:when=2", {},
         announce + "can not open " + old + "\n", 5, kBigLeft},
        {"another file of the same size and time renamed over it", old, holdReopening,
         [&] {
             write("other.txt", "h\nh\n9" + kBigOld.substr(5));
             fs::last_write_time(at("other.txt"), fs::last_write_time(old));
             fs::rename(at("other.txt"), old);
         },
         changed, 5, kBigLeft},
        {"rewritten in place, its time put back", old, holdReopening,
         [&] {
             const auto time = fs::last_write_time(old);
             std::fstream(old, std::ios::in | std::ios::out | std::ios::binary) << "h\nh\n9";
             fs::last_write_time(old, time);
         },
         changed, 5, kBigLeft},
        // On whole-second times, only the bytes read tell a rewrite within the
        // second.  The read held up is the first after the right records
        // first reach the file (their lines are half as long), and the line
        // rewritten lies beyond it.
        {"rewritten in place ahead of the right pass, on whole seconds", seconds,
         "read:delay_enter=1000000:when=" +
             std::to_string(reads + 2 * OutputFile::kBufferSize / InputFile::kBlockSize + 2),
         [&] {
             const auto time = fs::last_write_time(seconds);
             std::fstream file(seconds, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4 + 28 * 30000);
             file << '9';
             file.close();
             fs::last_write_time(seconds, time);
         },
         announced(seconds, "new.txt") + "can not read " + seconds + ": it changed during the conversion\n", 5,
         kBigLeft, "seconds"},
        {"a lease holds the first opening back", old, "openat:error=EAGAIN:when=1", {}, announce, 0,
         kBigLeft + kBigRight},
        {"another run converts into the same new file meanwhile", old, holdReopening,
         [&] {
             write("other.txt", "h\nh\n9 9 9 9 9 9\n");
             EXPECT_EQ(runProgram(program, std::size(program), {"other.txt", "new.txt"}, {}, {}, "other"),
                       std::make_tuple(5, announced("other.txt", "new.txt") +
                                              "can not open new.txt: it is locked by another program\n", std::string()));
         },
         announce, 0, kBigLeft + kBigRight},
        {"the first read fails", old, "read:error=EIO:when=1", {}, announce + "can not read " + old + "\n", 5,
         kHeading},
        {"a read fails in the right pass", old, "read:error=EIO:when=" + std::to_string(reads + 2), {},
         announce + "can not read " + old + "\n", 5, kBigLeft},
        {"appended to in the right pass", old, "read:delay_enter=2000000:when=" + std::to_string(2 * reads),
         [&] { std::ofstream(old, std::ios::app) << "1 2 3 4 5 6\n"; },
         announce + "can not read " + old + ": it changed during the conversion\n", 5, kBigLeft + kBigRight},
        // A stream is spooled inside the system (a pipe's splice) or, where it
        // cannot be, through the program.
        {"a stream breaks off", at("fifo").string(), "splice:error=EINVAL:when=1;read:error=EIO:when=2", {},
         announced(at("fifo").string(), "new.txt") + "can not read " + at("fifo").string() + "\n", 5, "", {}, true},
        {"a stream's spool cannot be written", at("fifo").string(), "splice:error=ENOSPC:when=2", {},
         streamed + "can not spool the old spare file in " + spool + "\n", 5, "", {}, true},
        // (A stream that has no bytes yet is waited for.)
        {"a wait for a stream's bytes is broken off", at("fifo").string(), "splice:error=EAGAIN:when=2;poll,ppoll:error="
         "EINTR:when=1", {}, announced(at("fifo").string(), "new.txt"), 0, kBigLeft + kBigRight, {}, true},
        {"the spool's file system has no files without a name", spool, "openat:error=EOPNOTSUPP:when=1", {}, streamed, 0,
         kBigLeft + kBigRight, {}, true},
        {"the spool's file system has no files without a name, as a folder", spool, "openat:error=EISDIR:when=1", {},
         streamed, 0, kBigLeft + kBigRight, {}, true},
        {"the spool's kernel has no files without a name", spool, "openat:error=EINVAL:when=1", {}, streamed, 0,
         kBigLeft + kBigRight, {}, true},
        {"the spool's folder refuses a file", spool, "openat:error=EACCES:when=1", {}, streamed + "can not spool the old "
         "spare file in " + spool + "\n", 5, "", {}, true},
        // (The signal leaves errno EINTR, which a write of nothing must not be taken for.)
        {"a write writes nothing, a signal having broken off the lock", newPath, "flock:error=EINTR:when=1;write:retval=0:"
         "when=2", {}, announce + "can not write new.txt\n", 255, ""},
        // The path seems to name another file (its fstat fails) at the openings tried: three at most.
        {"the path names another file at two openings", newPath, fstats + "2..4+2", {}, announce, 0, kBigLeft + kBigRight},
        {"the path names another file at each of three openings", newPath, fstats + "2..6+2", {}, announce + "can not "
         "write new.txt: another program replaced it during the conversion\n", 5, ""},
        // Lost messages make a failure too, though the new spare file is whole.
        {"the reader of the messages is gone", (base_ / "run.out").string(),
         "write:error=EPIPE:signal=SIGPIPE:when=1+", {}, "", 255, kBigLeft + kBigRight},
    };
    for (const auto& c : cases) {
        if (!selected(c.what) || (!c.mount.empty() && !mount(c.mount)))
            continue;
        SCOPED_TRACE(c.what);
        const std::string rowOld = c.stream ? at("fifo").string() : c.mount.empty() ? old : seconds;
        fs::remove(rowOld);
        write(c.stream ? old : rowOld, kBigOld);
        fs::remove(at("new.txt"));
        const std::string writer = "cd '" + at("").string() + "' && mkfifo fifo && (timeout 30 sh -c 'cat old.txt >fifo' &)";  // (opened in time too)
        ASSERT_TRUE(!c.stream || std::system(writer.c_str()) == 0);
        // (A sanitized build's leak checker cannot work under a tracer.)
        std::vector<std::string> strace = {"strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-E",
                                           "TMPDIR=" + (base_ / "spool").string()};
        if (!c.traced.empty())
            strace.insert(strace.end(), {"-P", c.traced});
        std::string call, calls;  // the first call injected into, and all
        for (std::size_t from = 0; from < c.inject.size();) {
            const std::size_t to = std::min(c.inject.find(';', from), c.inject.size());
            const std::string inject = c.inject.substr(from, to - from);
            call = call.empty() ? inject.substr(0, inject.find(':')) : call;
            calls.append(calls.empty() ? "" : ",").append(inject, 0, inject.find(':'));
            strace.insert(strace.end(), {"-e", "inject=" + inject});
            from = to + 1;
        }
        strace.insert(strace.end(), {"-e", "trace=" + calls});
        const auto [status, out, errors] = runProgram(program, std::size(program), {rowOld, "new.txt"}, strace, [&] {
            if (c.change) {
                waitPast("new.txt", kBigLeft.size() - (call == "openat"));
                c.change();
            }
        });
        EXPECT_EQ(std::make_pair(status, out), std::make_pair(c.status, c.out)) << c.what;
        EXPECT_TRUE(errors.empty()) << c.what << ": " << errors;
        const std::string written = read(at("new.txt"));
        // A pass that ends early leaves every record it converted.
        EXPECT_TRUE(holds(call == "openat" ? written : written.substr(0, c.kept.size()), c.kept)) << c.what;
        EXPECT_TRUE(holds(c.change ? kBigOld : read(c.stream ? old : rowOld), kBigOld)) << c.what;
        // A stream that fails is read whole before the new spare file is made.
        EXPECT_TRUE(!c.stream || c.status == 0 || !fs::exists(at("new.txt"))) << c.what;
        EXPECT_EQ(spools(base_ / "spool"), 0) << c.what;
    }
    if (!unmounted_.empty())
        GTEST_SKIP() << unmounted_;
}

// Under every limit on memory, from one too small to start the program to
// one that lets it convert, a run converts whole, or fails saying so with
// the new spare file untouched.  (Not run on Windows, which has no such
// limit.)
TEST_F(Tabfold, ConvertsWholeOrTouchesNothingUnderAMemoryLimit)
{
    const std::string example = read(EXAMPLES_DIR "/old-spare.txt");
    write("old.txt", example);
    for (int limit = 1500; limit <= 4000; limit += 100) {
        write("new.txt", "kept\n");
        const char* const program[] = {TABFOLD_COMMAND};
        std::string limited = "ulimit -v ";  // (appended: GCC 12 warns falsely of a sum, for i686)
        limited.append(std::to_string(limit)).append(" && exec \"$0\" \"$@\"");
        const auto [status, out, errors] =
            runProgram(program, std::size(program), {"old.txt", "new.txt"}, {"sh", "-c", limited});
        EXPECT_TRUE(holds(read(at("new.txt")), status == 0 ? read(EXAMPLES_DIR "/new-spare.txt") : "kept\n")) << limit;
        // (Too little to load the program, it says nothing.)
        EXPECT_TRUE(status == 0 || out.empty() || out == announced("old.txt", "new.txt") + "not enough memory to convert old.txt\n")
            << limit << out.substr(0, 200);
    }
    EXPECT_TRUE(holds(read(at("old.txt")), example));
}

// The findings that tabfold-check's output tells, one a line: of the gcc
// form's lines, or of the JSON objects or SARIF results that the format
// writes, their line, their column (but in SARIF, whose columns are code
// points) and their message, JSON's escapes undone.
std::string findingsOf(const std::string& out, bool json)
{
    static const std::regex gcc(R"re(^(.*):(\d+):(\d+): warning: (.*)$)re");
    static const std::regex jsonFinding(R"re("line":(\d+),"column":(\d+),.*"message":"((?:[^"\\]|\\.)*)")re");
    static const std::regex sarifResult(R"re("message": \{"text": "((?:[^"\\]|\\.)*)"\}.*"startLine": (\d+))re");
    static const std::regex escaped(R"re(\\(["\\]))re");
    std::string found, line;
    std::istringstream lines(out);
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, gcc))
            found += json ? m[2].str() + ":" + m[3].str() + " " + m[4].str() + "\n" : m[2].str() + " " + m[4].str() + "\n";
        else if (std::regex_search(line, m, json ? jsonFinding : sarifResult))
            found += json ? m[1].str() + ":" + m[2].str() + " " + std::regex_replace(m[3].str(), escaped, "$1") + "\n"
                          : m[2].str() + " " + std::regex_replace(m[1].str(), escaped, "$1") + "\n";
    }
    return found;
}

// tabfold-check on real files and streams: what it finds, its summaries,
// its statuses, and what it says on standard error, for every file named.
TEST_F(Tabfold, CheckTellsWhatTheConversionDoesToEachLine)
{
    const std::string clean = "clean.txt: 12 data lines in 12 data line pieces, 0 lines with findings\n";
    const std::string shortFound = ":4:1: warning: 2 integers of 6, then the end of the line: the left record's LINK# repeats "
                                   "line 3's 3; the right record's N1, N2 and LINK# repeat line 3's 4, 5 and 6\n";
    write("clean.txt", read(EXAMPLES_DIR "/old-spare.txt"));
    write("short.txt", "h\nh\n1 2 3 4 5 6\n7 8\n");
    write("long.txt", "h\nh\n1 2 3 4 5 6" + std::string(243, ' ') + "\n");  // 254 characters and the newline
    write("cut.txt", "h\nh\n1 2 3");
    write("one.txt", std::string(300, 'x'));
    write("crlf.txt", "h\nh\n1 2 3 4 5 6" + std::string(242, ' ') + "\r\n");
    write("empty.txt", "");
    write("glued.txt", "h\nh\n1 2 3 4 5 6.5\n1 2 3 13 105 4\x7f" "5\n1 2 3 4 5 6 - 7\n1 2 3 4 5 6 x 7 8\n");
    const std::string blanks(240, ' ');  // a number at the end of the first piece of a line: ...
    write("cuts.txt", "h\nh\n1 2 3 4 5" + blanks + "  -12345\n" + blanks + "          1234567 8 9 10 11 12\n" + blanks +
          "             12 1 2 3 4 5\n1 2 3 4 5 " + std::string(300, '9') + "\n1 2 3 4 5" + blanks + "    -5\n");
    write("heading-cut.txt", "h\n4 5 6" + std::string(246, ' ') + "12345 6 7 8 9 10\n");
    write("cut-of-eight.txt", "h\nh\n1 2 3 4 5" + blanks + "  -54321 1 2 3 4 5" + std::string(60, ' ') + "7 8\n" + blanks +
          "          12345678 9" + std::string(244, ' ') + "1112131415 7\n");  // (and a piece cut at both ends)
    write("bin.txt", std::string("h\nh\n1 2 \0 3\n7 8\n", 16));
    write("wide.txt", "h\nh\n1 2\r3 4 5 6\n\t\u03bb 7\n");
    write("cut-number.txt", "h\nh\n1 2 3 4 5 6" + std::string(240, ' ') + "1234567 8 9\n");
    write("signs.txt", "h\nh\n1 2 3 4 5 99999999999\n10-20 3 4 5 6\n");
    write("shorts.txt", "h\nh\n" + repeated("7 8\n", 1000000));  // 4 MB, 16 blocks of findings
    write("seventh.txt", "h\nh\n1 2 3 4 5 6 99999999999\n1 2 3 4 5 6-7\n");
    write("-x", read(at("clean.txt")));
    write("headings.txt", "1 2 3\n4 5 6\n");
    write("nul-heading.txt", std::string("h1\nh\0\n", 6));
    write("return-at-end.txt", "h\nh\n1 2 3 4 5 6\r");
    write("zeros.txt", "h\nh\n7 8\r\n");
    // Four letters and a sign, of two to four bytes; then the bytes of a surrogate and of a four-byte form past
    // U+10FFFF, which UTF-8 has not; then a quote and a backslash.
    const std::string oddName = "\xc2\xb5\xc4\x80\xce\xbb\xe0\xa4\x95\xf0\x9f\x93\x84\xed\xa0\x80\xf5\x80\x80\x80\"\\.txt";
    if (!kOnWindows)  // (whose names are UTF-16, which has no such bytes)
        write(oddName, "h\nh\n");
    write("quotes.txt", "h\nh\n1 2 3 4 5 6\"\n1 2 3 4 5 6 \\\n");
    write("columns.txt", "h\nh\n1 2 3 4 5 6 \xc4\x80\xc2\xbf\xe0\xa4\x95\t\xb0\xc2\xb0\xf5\x80\rx\n");  // a byte of no UTF-8 character is one
    const std::string kCheckUsage = "usage: tabfold-check [-q] [--max-findings N] [--columns=display] "
                                    "[--format=gcc|json|sarif] [--]\n                     spare2in1lineFile...\n";
    // What the check prints of one file: its findings, then its summary.
    const auto checked = [](const std::string& file, const std::vector<std::string>& findings,
                            const std::string& summary) {
        std::string out;
        for (const std::string& finding : findings)
            out += file + ":" + finding + "\n";
        return out + file + ": " + summary + "\n";
    };
    const std::string repeatAll = "the left record's N1, N2 and LINK# repeat line 3's 1, 2 and 3; the right record's "
                                  "N1, N2 and LINK# repeat line 3's 4, 5 and 6";
    // wide.txt's findings, the byte 0xCE at the column given.
    const auto wide = [&](const std::string& column) {
        return checked("wide.txt", {"3:4: warning: a carriage return that ends no line: the conversion reads it as a "
            "blank, where an editor may begin a new line", "4:" + column + ": warning: no integer, then the byte 0xCE, "
            "which stops the scan: " + repeatAll}, "2 data lines in 2 data line pieces, 2 lines with findings: 1 short "
            "line, 1 carriage return that ends no line");
    };
    // A line of 255 bytes with its end, which ends a piece after its six integers.
    const auto piecePast = [&](const std::string& file, const std::string& end) {
        return checked(file, {"3:1: warning: 255 bytes with its " + end + " are too many for one line piece of 254: the "
            "line is read as 2 pieces, 2 data lines", "3:255: warning: no integer, then the end of the line: " + repeatAll},
            "1 data line in 2 data line pieces, 1 line with findings: 1 short line, 1 long line");
    };
    const auto heading = [](int line, int integers) {
        return std::to_string(line) + ":1: warning: read as a heading line and dropped, but holds " +
               std::to_string(integers) + " integers as a data line does (is the heading missing?)";
    };
    const std::string noData = "1:1: warning: no data line: the new spare file will hold the heading alone, no record";
    const std::string none = "are 0, no line having given them yet";
    const std::string seventh = "a seventh integer, which is ignored with all that follows it";
    const std::string after = "after the sixth integer, which is ignored with all that follows it";
    const std::string glued = "ends the sixth integer, and is ignored with all that follows it: the right record's "
                              "LINK# is written as ";
    const std::vector<std::string> gluedFound = {"3:12: warning: '.' " + glued + "6", "4:15: warning: the byte 0x7F " +
        glued + "4", "5:13: warning: '-' " + after, "6:13: warning: 'x' " + after};
    const std::string gluedSummary = "4 data lines in 4 data line pieces, 4 lines with findings: 2 sixth integers glued to "
                                     "a character, 2 characters after the sixth integer";
    const auto longLine = [](int line, int bytes) {
        return std::to_string(line) + ":1: warning: " + std::to_string(bytes) + " bytes with its newline are too many "
               "for one line piece of 254: the line is read as 2 pieces, ";
    };
    const std::string cut = " by the end of the line piece before: that piece ";
    const auto zero = [](const std::string& record, const std::string& name) {
        return "{\"record\":\"" + record + "\",\"name\":\"" + name + "\",\"value\":0,\"from_line\":null}";
    };
    const auto repeats = [](int line, const std::string& right) {
        return "then the end of the line: the left record's N2 and LINK# repeat line " + std::to_string(line) + "'s 2 and "
               "3; the right record's N1, N2 and LINK# repeat line " + right;
    };
    const std::string shortSummary = "2 data lines in 2 data line pieces, 1 line with findings: 1 short line\n";
    // The fault injected into clean.txt, named by its whole path, by strace.
    const std::string cleanPath = at("clean.txt").string(), cutPath = at("cut.txt").string(), fifo = at("fifo").string();
    // The program under strace, which counts its reads of the file of its first argument, then the shell's words.
    const auto counted = [](const std::string& after) {
        return std::vector<std::string>{"bash", "-c", "strace -o ../reads -E ASAN_OPTIONS=detect_leaks=0 -P \"$1\" -e "
                                        "trace=read \"$0\" \"$@\"" + after};
    };
    const bool traceable = !kOnWindows && std::system("strace -o /dev/null true >/dev/null 2>&1") == 0;
    const auto injected = [&](const std::string& fault, const std::string& path = "") {
        // (A sanitized build's leak checker cannot work under a tracer.)
        return std::vector<std::string>{"strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P", path.empty() ? cleanPath : path,
                                        "-e", "trace=" + fault.substr(0, fault.find(':')), "-e", "inject=" + fault};
    };
    fs::create_directory(at("dir"));
    ASSERT_TRUE(kOnWindows || std::system(("mkfifo '" + fifo + "'").c_str()) == 0);
    // The program in a shell, after the words before it and before those after it.
    const auto shell = [](const std::string& before, const std::string& after) {
        return kOnWindows ? std::vector<std::string>{"cmd", before + "$@" + after}
                          : std::vector<std::string>{"sh", "-c", before + "\"$0\" \"$@\"" + after};
    };
    const char* const program[] = {TABFOLD_CHECK_COMMAND};
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string out, errors;
        int status;
        std::vector<std::string> wrapper = {};
        bool posix = false;
        std::size_t mostReads = 0;  // of the old spare file, counted by strace, if not 0
    } cases[] = {
        {"short-then-clean", {"short.txt", "clean.txt"}, "short.txt" + shortFound + "short.txt: " + shortSummary + clean,
         "", 1},
        {"long-line", {"long.txt"}, piecePast("long.txt", "newline"), "", 1},
        // (Read to its end once: a terminal would be read again.)
        {"end-of-file", {cutPath}, checked(cutPath, {"3:1: warning: 3 integers of 6, then the end of the file: the right "
             "record's N1, N2 and LINK# " + none}, "1 data line in 1 data line piece, 1 line with findings: 1 short line"),
         "", 1, counted(""), true, 2},
        {"one-long-line", {"one.txt"}, checked("one.txt", {"1:1: warning: 300 bytes are too many for one line piece of "
             "254: the line is read as 2 pieces, both of the heading's and 0 data lines", noData}, "0 data lines in 0 "
             "data line pieces, 1 line with findings: 1 long line, 1 file without a data line"), "", 1},
        {"crlf-too-long", {"crlf.txt"}, piecePast("crlf.txt", "CRLF end"), "", 1},
        {"empty", {"empty.txt"}, checked("empty.txt", {noData}, "0 data lines in 0 data line pieces, 1 line with "
             "findings: 1 file without a data line"), "", 1},
        // Standard output closed by its reader: the check stops at once.
        {"closed-pipe", {at("shorts.txt").string()}, "", "tabfold-check: can not write standard output\n", 2,
         counted(" | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}"), true, 3},
        {"sign-and-bound", {"signs.txt"}, checked("signs.txt", {"3:11: warning: 99999999999 lies beyond 32 bits: the "
             "right record's LINK# is read as 2147483647", "4:3: warning: a sign straight after a digit begins a new "
             "integer, -20, read as the left record's N2"}, "2 data lines in 2 data line pieces, 2 lines with findings: "
             "1 sign after a digit, 1 integer beyond 32 bits"), "", 1},
        {"glued-sixth", {"glued.txt"}, checked("glued.txt", gluedFound, gluedSummary), "", 1},
        {"cut-number", {"cut-number.txt"}, checked("cut-number.txt", {longLine(3, 263) + "2 data lines", "3:252: warning: "
             + seventh, "3:255: warning: the number 1234567 is cut in two" + cut + "ignores its part, a seventh integer; "
             "this one reads 4567 as the left record's N1", "3:255: warning: 3 integers of 6, then the end of the line: "
             "the right record's N1, N2 and LINK# repeat line 3's 4, 5 and 6"}, "1 data line in 2 data line pieces, 1 line with findings: 1 short line, 1 "
             "seventh integer, 1 number cut by a piece's end, 1 long line"), "", 1},
        // A number, or a sign, that the end of a piece parts is told with the values written, whatever comes next.
        {"cut-numbers", {"cuts.txt", "heading-cut.txt"}, checked("cuts.txt", {longLine(3, 258) + "2 data lines", "3:255: "
             "warning: the number -12345 is cut in two" + cut + "reads -12 as the right record's LINK#; this one reads 345 "
             "as the left record's N1", "3:255: warning: 1 integer of 6, " + repeats(3, "3's 4, 5 and -12"), longLine(4,
             271) + "2 data lines", "4:1: warning: 1 integer of 6, then the end of the line piece: the left record's N2 "
             "and LINK# repeat line 3's 2 and 3; the right record's N1, N2 and LINK# repeat line 3's 4, 5 and -12", "4:255: "
             "warning: the number 1234567 is cut in two" + cut + "reads 1234 as the left record's N1; this one reads 567 "
             "as the left record's N1", longLine(5, 266) + "2 data lines", "5:1: warning: 1 integer of 6, then the end of "
             "the line piece: the left record's N2 and LINK# repeat line 4's 8 and 9; the right record's N1, N2 and LINK# "
             "repeat line 4's 10, 11 and 12", "5:255: warning: the number 12 is cut in two" + cut + "reads 1 as the left "
             "record's N1; this one reads 2 as the left record's N1", longLine(6, 311) + "2 data lines", "6:11: warning: "
             "999999999999... (244 digits) lies beyond 32 bits: the right record's LINK# is read as 2147483647", "6:255: "
             "warning: the number 999999999999... (300 digits) is cut in two" + cut + "reads 2147483647 as the right "
             "record's LINK#; this one reads 2147483647 as the left record's N1", "6:255: warning: 999999999999... (56 "
             "digits) lies beyond 32 bits: the left record's N1 is read as 2147483647", "6:255: warning: 1 integer of 6, "
             + repeats(6, "6's 4, 5 and 2147483647"), longLine(7, 256) + "2 data lines", "7:254: warning: 5 integers of "
             "6, then '-' at the end of the line piece, which stops the scan: the right record's LINK# repeats line 6's "
             "2147483647", "7:255: warning: the sign '-' is parted from its digits 5 by the end of the line piece "
             "before: that piece's scan stops at the sign; this one reads 5 as the left record's N1", "7:255: warning: 1 "
             "integer of 6, then the end of the line: the left record's N2 and LINK# repeat line 7's 2 and 3; the right "
             "record's N1 and N2 repeat line 7's 4 and 5; the right record's LINK# repeats line 6's 2147483647"}, "5 data "
             "lines in 10 data line pieces, 5 lines with findings: 6 short lines, 2 integers "
             "beyond 32 bits, 5 numbers cut by a piece's end, 5 long lines") + checked("heading-cut.txt", {longLine(2, 268)
             + "the heading's second and 1 data line", heading(2, 4), "2:255: warning: the number 12345 is cut in two" + cut +
             "is dropped with the heading; this one reads 45 as the left record's N1"}, "1 data line in 1 data line piece, "
             "1 line with findings: 1 number cut by a piece's end, 1 long line, 1 heading line with data"), "", 1},
        // What follows a NUL byte is counted, not printed; at most N findings are printed, all counted.
        {"not-text", {"--max-findings", "2", "bin.txt", "glued.txt"}, checked("bin.txt", {"3:5: warning: a NUL byte: the "
             "file is not text; its other findings are counted, not printed"}, "2 data lines in 2 data line pieces, 2 "
             "lines with findings: 2 short lines, 1 file that is not text") + checked("glued.txt", {gluedFound[0], gluedFound[1]},
             gluedSummary), "", 1},
        // Columns on the screen: a tab to the next multiple of 8, a UTF-8 character one column.
        {"display-columns", {"wide.txt", "--columns=display", "--max-findings=0"}, wide("9"), "", 1},
        {"bytes-columns", {"--columns=display", "--columns", "bytes", "wide.txt", "--max-findings=9"}, wide("2"), "", 1},
        // A seventh integer is ignored, whatever it is.
        {"seventh-integer", {"seventh.txt"}, checked("seventh.txt", {"3:13: warning: " + seventh, "4:12: warning: " +
             seventh}, "2 data lines in 2 data line pieces, 2 lines with findings: 2 seventh integers"), "", 1},
        // The other files are still checked.
        {"missing-and-folder", {"missing.txt", "clean.txt", "dir"}, clean,
         "tabfold-check: can not open missing.txt: no such file\ntabfold-check: can not open dir: not a regular file\n", 2},
        // The system's reason, at an exact moment (strace).
        {"permission-denied", {cleanPath}, "", "tabfold-check: can not open " + cleanPath + ": permission denied\n", 2,
         injected("openat:error=EACCES"), true},
        {"stream-permission-denied", {fifo}, "", "tabfold-check: can not open " + fifo + ": permission denied\n", 2,
         injected("openat:error=EACCES", fifo), true},
        {"read-error", {cleanPath}, "", "tabfold-check: can not read " + cleanPath + ": input/output error\n", 2,
         injected("read:error=EIO"), true},
        // The file's finding at line 1 before the heading's, which it holds; a finding before the first NUL
        // byte printed; a carriage return that ends the file ends no line.
        {"json-path-not-utf-8", {"-q", "--format=json", oddName}, "{\"type\":\"summary\",\"path\":\"\xc2\xb5\xc4\x80\xce\xbb"
             "\xe0\xa4\x95\xf0\x9f\x93\x84\\u00ed\\u00a0\\u0080\\u00f5\\u0080\\u0080\\u0080\\\"\\\\.txt\",\"data_lines\":0,\"pieces\":0,\"lines_with_findings\":1,\"counts\":{\"short-line\":0,"
             "\"sign-after-digit\":0,\"beyond-32-bits\":0,\"seventh-integer\":0,\"glued-sixth\":0,\"after-sixth\":0,"
             "\"cut-number\":0,\"long-line\":0,\"lone-return\":0,\"heading-with-data\":0,\"no-data-line\":1,\"not-text\":0}}\n",
         "", 1, {}, true},
        {"quote-and-backslash", {"quotes.txt"}, checked("quotes.txt", {"3:12: warning: '\"' " + glued + "6", "4:13: warning: "
             "'\\' " + after}, "2 data lines in 2 data line pieces, 2 lines with findings: 1 sixth integer glued to a "
             "character, 1 character after the sixth integer"), "", 1},
        {"no-data-line-first", {"headings.txt"}, checked("headings.txt", {noData, heading(1, 3), heading(2, 3)}, "0 data lines "
             "in 0 data line pieces, 2 lines with findings: 2 heading lines with data, 1 file without a data line"), "", 1},
        {"no-data-line-before-nul", {"nul-heading.txt"}, checked("nul-heading.txt", {noData, "2:2: warning: a NUL byte: the "
             "file is not text; its other findings are counted, not printed"}, "0 data lines in 0 data line pieces, 2 lines "
             "with findings: 1 file without a data line, 1 file that is not text"), "", 1},
        {"return-ends-file", {"return-at-end.txt"}, checked("return-at-end.txt", {"3:12: warning: a carriage return that "
             "ends no line: the conversion reads it as a blank, where an editor may begin a new line"}, "1 data line in 1 "
             "data line piece, 1 line with findings: 1 carriage return that ends no line"), "", 1},
        // JSON Lines for scripts: each field that a short line repeats, the summary's counts, an error.
        {"json", {"--format=json", "zeros.txt", "missing.txt"}, "{\"type\":\"finding\",\"path\":\"zeros.txt\",\"line\":3,"
             "\"column\":1,\"piece\":1,\"kind\":\"short-line\",\"message\":\"2 integers of 6, then the end of the "
             "line: the left record's LINK# is 0, no line having given it yet; the right record's N1, N2 and LINK# " + none +
             "\",\"fields\":[" + zero("left", "LINK#") + "," + zero("right", "N1") + "," + zero("right", "N2") + "," +
             zero("right", "LINK#") + "]}\n{\"type\":\"summary\",\"path\":\"zeros.txt\",\"data_lines\":1,\"pieces\":1,"
             "\"lines_with_findings\":1,\"counts\":{\"short-line\":1,\"sign-after-digit\":0,\"beyond-32-bits\":0,"
             "\"seventh-integer\":0,\"glued-sixth\":0,\"after-sixth\":0,\"cut-number\":0,\"long-line\":0,"
             "\"lone-return\":0,\"heading-with-data\":0,\"no-data-line\":0,\"not-text\":0}}\n{\"type\":\"error\","
             "\"path\":\"missing.txt\",\"message\":\"can not open missing.txt: no such file\"}\n",
         "tabfold-check: can not open missing.txt: no such file\n", 2},
        {"no-arguments", {}, "", kCheckUsage, 2},
        // Options, then the files; - is standard input, -- ends the options.
        {"version", {"--version"}, "tabfold-check 1.0.0\n", "", 0},
        {"help", {"clean.txt", "-h"}, read(TESTS_DIR "/tabfold-check-help.txt"), "", 0},
        {"unknown-option", {"--max-finding=", "clean.txt"}, "", "tabfold-check: unknown option --max-finding=\n" + kCheckUsage,
         2},
        {"signed-number", {"--max-findings=-1", "clean.txt"}, "", "tabfold-check: not a number of findings: -1\n" + kCheckUsage, 2},
        {"number-and-more", {"--max-findings", "5x"}, "", "tabfold-check: not a number of findings: 5x\n" + kCheckUsage, 2},
        {"option-without-value", {"clean.txt", "--max-findings"}, "", "tabfold-check: --max-findings needs a number\n"
             + kCheckUsage, 2},
        {"unknown-format", {"--format=gcc2", "clean.txt"}, "", "tabfold-check: formats are gcc, json or sarif, not gcc2\n" +
             kCheckUsage, 2},
        {"unknown-columns", {"--columns=Display", "clean.txt"}, "", "tabfold-check: columns are bytes or display, not "
             "Display\n" + kCheckUsage, 2},
        {"format-without-value", {"clean.txt", "--format="}, "", "tabfold-check: --format= needs gcc, json or sarif\n" +
             kCheckUsage, 2},
        {"options-ended", {"--", "-x"}, "-x" + clean.substr(9), "", 0},
        {"quiet-standard-input", {"-", "-q"}, "-: " + shortSummary, "", 1, shell("", " <short.txt")},
        {"piped-by-name", {"/dev/stdin", "-q"}, "/dev/stdin: " + shortSummary, "", 1,
         shell(kOnWindows ? "type short.txt | " : "cat short.txt | ", "")},
        // Refused as tabfold refuses them: no regular file, no stream.
        {"dev-null", {"/dev/null", "-"}, "", "tabfold-check: can not open /dev/null: not a regular file\ntabfold-check: "
         "can not open -: not a regular file\n", 2, {"sh", "-c", "\"$0\" \"$@\" </dev/null"}, true},
        {"dev-full", {"clean.txt"}, "", "tabfold-check: can not write standard output\n", 2,
         {"sh", "-c", "\"$0\" \"$@\" >/dev/full"}, true},
    };
    for (const auto& c : cases) {
        if (!selected(c.name) || (c.posix && kOnWindows))
            continue;
        if (((!c.wrapper.empty() && c.wrapper[0] == "strace") || c.mostReads > 0) && !traceable) {
            unmounted_ += std::string(c.name) + ": strace is missing or cannot trace here\n";
            continue;
        }
        SCOPED_TRACE(c.name);
        const auto [status, out, errors] = runProgram(program, std::size(program), c.args, c.wrapper);
        EXPECT_EQ(std::make_tuple(status, out, errors), std::make_tuple(c.status, c.out, c.errors));
        if (c.mostReads > 0) {
            const std::string trace = "\n" + read(base_ / "reads");
            std::size_t reads = 0;
            for (std::size_t at = 0; (at = trace.find("\nread(", at)) != std::string::npos; ++at)
                ++reads;
            EXPECT_LE(reads, c.mostReads) << trace;
        }
        // The same findings in every format: JSON's, where they stand; SARIF's, in their lines.
        for (const bool json : {true, false}) {
            if (c.status == 2 || c.out.find(": warning: ") == std::string::npos)
                break;
            std::vector<std::string> args = c.args;
            args.insert(args.begin(), {"--format", json ? "json" : "sarif"});
            const auto [formatStatus, formatOut, formatErrors] = runProgram(program, std::size(program), args, c.wrapper);
            EXPECT_EQ(std::make_pair(formatStatus, findingsOf(formatOut, json)), std::make_pair(c.status, findingsOf(c.out, json)))
                << (json ? "json" : "sarif");
        }
    }
    // A line of more findings than are held (a file whose lines end in a
    // carriage return alone) gives them in the same order in every format.
    std::string returns = "DS3 DS3\rN1 N2 LINK# N1 N2 LINK#\r";
    for (int i = 1; i <= 300; ++i)
        returns += std::to_string(i) + " 2 3 4 5 6\r";
    write("returns.txt", returns);
    const auto [gccStatus, gccOut, gccErrors] = runProgram(program, std::size(program), {"returns.txt"});
    for (const bool json : {true, false}) {
        const auto [formatStatus, formatOut, formatErrors] =
            runProgram(program, std::size(program), {json ? "--format=json" : "--format=sarif", "returns.txt"});
        EXPECT_EQ(findingsOf(formatOut, json), findingsOf(gccOut, json));
    }
    // SARIF's columns count code points, a tab one; its paths are URI references.
    std::string absolute = at("zeros.txt").string();
    std::replace(absolute.begin(), absolute.end(), '\\', '/');
    const auto [sarifStatus, sarif, sarifErrors] =
        runProgram(program, std::size(program), {"--format=sarif", "columns.txt", at("zeros.txt").string()});
    for (const std::string& told : std::vector<std::string>{"\"rules\": [\n        {\"id\": \"short-line\"", "\"results\": [\n        {\"ruleId\": \"",
                                    "\"uri\": \"columns.txt\"}, \"region\": {\"startLine\": 3, \"startColumn\": 21}",
                                    (kOnWindows ? "\"uri\": \"file:///" : "\"uri\": \"file://") + absolute})
        EXPECT_NE(sarif.find(told), std::string::npos) << told << "\n" << sarif;
    // Summaries kept for SARIF's end, more than a quarter of the output's buffer, go out after what came before,
    // the first without a comma.
    std::vector<std::string> many(301, "clean.txt");
    many[0] = "--format=sarif";
    const std::string log = std::get<1>(runProgram(program, std::size(program), many));
    EXPECT_NE(log.find("\"properties\": {\"files\": [\n        {\"artifactLocation\": {\"uri\": \"clean.txt\"},\"data_"),
              std::string::npos);
    // JSON tells the piece that a cut number's field comes from, and a long number's first twenty digits, also
    // where the piece that continues it holds eight integers past the scan's window.
    const auto [jsonStatus, json, jsonErrors] =
        runProgram(program, std::size(program), {"--format=json", "heading-cut.txt", "cuts.txt", "cut-of-eight.txt"});
    EXPECT_NE(json.find("\"number\":\"99999999999999999999\",\"digits\":300}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"value\":321,\"piece\":2}],\"number\":\"-54321\",\"digits\":5}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"value\":131415,\"piece\":5}],\"number\":\"1112131415\",\"digits\":10}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"fields\":[{\"record\":\"left\",\"name\":\"N1\",\"value\":45,\"piece\":1}],\"number\":\"12345\",\"digits\":5}"), std::string::npos) << json;
    if (!unmounted_.empty())
        GTEST_SKIP() << unmounted_;
}

}  // namespace
