// Runs the built program on real files in a temporary folder and checks its
// standard output, its exit status and the bytes of both files.
#include <gtest/gtest.h>

#include "child_process.hpp"
#include "file_io.hpp"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kHeading = "        DS3\nN1  N2  LINK#\n";
const std::string kUsage = "command syntax: tabfold spare2in1lineFile spare1in1lineFile \n";

// Standard output for run(): a pipe whose reader has gone.
const char kUnreadPipe[] = "unread pipe";

// The path that the UTF-8 text names, on every system.
fs::path utf8Path(const std::string& text)
{
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

struct Outcome {
    int status;
    std::string out;
};

// The record lines of a new spare file, formatted as the C library would.
std::string records(const std::vector<std::vector<int>>& fields)
{
    std::string text;
    for (const auto& f : fields) {
        char line[64];
        text.append(line, std::snprintf(line, sizeof line, "%-3d %-3d %d\n", f[0], f[1], f[2]));
    }
    return text;
}

std::string padded(const std::string& text, std::size_t width)
{
    return text + std::string(width - text.size(), ' ');
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
    }
    void TearDown() override { fs::remove_all(base_); }

    fs::path at(const std::string& name) const { return base_ / "work" / utf8Path(name); }

    void write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(at(name), std::ios::binary) << bytes;
    }

    std::string read(const fs::path& path) const
    {
        std::ostringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }

    std::set<std::string> listing() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(base_ / "work"))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Runs tabfold in the work folder, after the words of wrapper, and calls
    // meanwhile while it runs; standard error must stay empty.
    Outcome run(const std::vector<std::string>& args, const char* stdoutPath = nullptr,
                const std::vector<std::string>& wrapper = {},
                const std::function<void()>& meanwhile = {}) const
    {
        std::vector<std::string> command = wrapper;
        command.push_back(TABFOLD_PATH);
        command.insert(command.end(), args.begin(), args.end());
        const fs::path out = stdoutPath == nullptr ? base_ / "stdout" : fs::path(stdoutPath);
        const int status = runChild(command, base_ / "work", stdoutPath == kUnreadPipe ? nullptr : &out,
                                    base_ / "stderr", meanwhile);
        EXPECT_EQ(read(base_ / "stderr"), "");
        return {status, stdoutPath ? "" : read(out)};
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
};

TEST_F(Tabfold, ConvertsEveryKindOfOldSpareFile)
{
    const std::string x253(253, 'x'), line6 = "1 2 3 4 5 6", line6b = "7 8 9 10 11 12";
    const struct {
        const char* what;
        std::string old;
        std::string left, right;
    } cases[] = {
        {"empty", "", "", ""},
        {"a heading line alone", "        DS3\n", "", ""},
        {"two heading lines", "h\nh\n", "", ""},
        {"one data line", "h\nh\n3 4 10 5 6 20\n", records({{3, 4, 10}}), records({{5, 6, 20}})},
        {"a 253-character line", "h\nh\n" + padded(line6, 253) + "\n", records({{1, 2, 3}}),
         records({{4, 5, 6}})},
        {"a 254-character line", "h\nh\n" + padded(line6, 254) + "\n",
         records({{1, 2, 3}, {1, 2, 3}}), records({{4, 5, 6}, {4, 5, 6}})},
        {"a 507-character line", "h\nh\n" + padded(line6, 254) + padded(line6b, 253) + "\n",
         records({{1, 2, 3}, {7, 8, 9}}), records({{4, 5, 6}, {10, 11, 12}})},
        {"a 508-character line", "h\nh\n" + padded(line6, 254) + padded(line6b, 254) + "\n",
         records({{1, 2, 3}, {7, 8, 9}, {7, 8, 9}}),
         records({{4, 5, 6}, {10, 11, 12}, {10, 11, 12}})},
        {"a number cut by the limit", "h\nh\n" + std::string(250, ' ') + "1234567 8 9 10 11 12\n",
         records({{1234, 0, 0}, {567, 8, 9}}), records({{0, 0, 0}, {10, 11, 12}})},
        {"a long first heading line", x253 + x253 + "\nN1 N2 LINK#\n" + line6 + "\n",
         records({{0, 0, 0}, {1, 2, 3}}), records({{0, 0, 0}, {4, 5, 6}})},
        {"no newline at the end", "h\nh\n" + line6 + "\n" + line6b, records({{1, 2, 3}, {7, 8, 9}}),
         records({{4, 5, 6}, {10, 11, 12}})},
        {"CRLF lines", "h\r\nh\r\n" + line6 + "\r\n\r\n", records({{1, 2, 3}, {1, 2, 3}}),
         records({{4, 5, 6}, {4, 5, 6}})},
        {"carried-over fields", "h\nh\n3 4 10 5 6 20\n7 8\n\n1,2,3 4 5 6\n+7 -8 9\n10-20-30 40 50 60\n",
         records({{3, 4, 10}, {7, 8, 10}, {7, 8, 10}, {1, 8, 10}, {7, -8, 9}, {10, -20, -30}}),
         records({{5, 6, 20}, {5, 6, 20}, {5, 6, 20}, {5, 6, 20}, {5, 6, 20}, {40, 50, 60}})},
        {"plain lines beside a leading zero and a long integer",
         "h\nh\n1 2 3 4 5 6\n0 07 100 8 9 10\n12345678901 1 2 3 4 5\n",
         records({{1, 2, 3}, {0, 7, 100}, {INT_MAX, 1, 2}}), records({{4, 5, 6}, {8, 9, 10}, {3, 4, 5}})},
        {"a Ctrl-Z byte, which is data", "h\nh\n1 2 3 4 5 6\x1a\n7 8 9 10 11 12\n",
         records({{1, 2, 3}, {7, 8, 9}}), records({{4, 5, 6}, {10, 11, 12}})},
        {"a NUL byte and huge numbers",
         std::string("h\nh\n1 2\0 3 4 5 6\n", 17) + "99999999999 -99999999999 5 6 7 8\n",
         records({{1, 2, 0}, {INT_MAX, INT_MIN, 5}}), records({{0, 0, 0}, {6, 7, 8}})},
    };
    for (const auto& c : cases) {
        write("old.txt", c.old);
        const Outcome outcome = run({"old.txt", "new.txt"});
        EXPECT_EQ(outcome.status, 0) << c.what;
        EXPECT_EQ(outcome.out, announced("old.txt", "new.txt")) << c.what;
        EXPECT_EQ(read(at("new.txt")), kHeading + c.left + c.right) << c.what;
        EXPECT_EQ(read(at("old.txt")), c.old) << c.what;
    }
}

TEST_F(Tabfold, ConvertsTheShippedExampleWithVerbatimPaths)
{
    const std::string example = EXAMPLES_DIR "/old-spare.txt";
    const std::string expected = read(EXAMPLES_DIR "/new-spare.txt");
    write("日本 old.spare", read(example));
    const std::pair<std::string, std::string> cases[] = {
        {example, "new.txt"},
        {example, "-new.txt"},
        {example, at("new.txt").string()},
        {"日本 old.spare", "новый 📄.spare"},  // outside every ANSI code page at once
    };
    for (const auto& [old, newPath] : cases) {
        write(newPath, "a longer file that must be emptied first\n\n\n\n\n\n\n\n\n\n\n\n\n\n");
        const Outcome outcome = run({old, newPath});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, announced(old, newPath));
        EXPECT_EQ(read(at(newPath)), expected) << newPath;
    }
}

TEST_F(Tabfold, RefusesWhatItCannotConvertAndTouchesNothing)
{
    write("old.txt", "h\nh\n1 2 3 4 5 6\n");
    write("new.txt", "kept\n");
    fs::create_directory(at("dir"));
    fs::create_hard_link(at("old.txt"), at("hard.txt"));
    if (!kOnWindows) {
        ::close(openNewFifo(at("fifo")));
        fs::create_symlink("old.txt", at("soft.txt"));
    }
    const std::set<std::string> before = listing();
    // The old spare file through a folder and back, and by a full (drive) path.
    const std::string sameOld = (fs::path("dir") / ".." / "old.txt").string();
    const std::string fullOld = at("old.txt").string();
    enum class On { Any, Posix, Windows };
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
        On on = On::Any;
    } cases[] = {
        {{}, kUsage, 1},
        {{"old.txt"}, kUsage, 1},
        {{"old.txt", "new.txt", "more.txt"}, kUsage, 1},
        {{"missing.txt", "created.txt"}, "can not open missing.txt\n", 5},
        {{"dir", "created.txt"}, "can not open dir: not a regular file\n", 5},
        {{"fifo", "new.txt"}, "can not open fifo: not a regular file\n", 5, On::Posix},
        {{"/dev/null", "new.txt"}, "can not open /dev/null: not a regular file\n", 5, On::Posix},
        {{"NUL", "new.txt"}, "can not open NUL: not a regular file\n", 5, On::Windows},
        {{"old.txt", "dir"}, "can not open dir\n", 5},
        {{"old.txt", "old.txt"}, "can not open old.txt: it is the old spare file\n", 5},
        {{"old.txt", "./old.txt"}, "can not open ./old.txt: it is the old spare file\n", 5},
        {{"old.txt", sameOld}, "can not open " + sameOld + ": it is the old spare file\n", 5},
        {{"old.txt", fullOld}, "can not open " + fullOld + ": it is the old spare file\n", 5},
        {{"old.txt", "OLD.TXT"}, "can not open OLD.TXT: it is the old spare file\n", 5, On::Windows},
        {{"old.txt", "hard.txt"}, "can not open hard.txt: it is the old spare file\n", 5},
        {{"old.txt", "soft.txt"}, "can not open soft.txt: it is the old spare file\n", 5, On::Posix},
        {{"soft.txt", "old.txt"}, "can not open old.txt: it is the old spare file\n", 5, On::Posix},
    };
    for (const auto& c : cases) {
        if (c.on != On::Any && (c.on == On::Windows) != kOnWindows)
            continue;
        const Outcome outcome = run(c.args);
        const std::string expected = c.status == 1 ? c.out : announced(c.args[0], c.args[1]) + c.out;
        EXPECT_EQ(outcome.out, expected);
        EXPECT_EQ(outcome.status, c.status) << expected;
        EXPECT_EQ(read(at("old.txt")), "h\nh\n1 2 3 4 5 6\n") << expected;
        EXPECT_EQ(read(at("new.txt")), "kept\n") << expected;
        EXPECT_EQ(listing(), before) << expected;
    }
}

// An old spare file of many blocks, and what the left pass and the right
// pass make of it.
const std::string kBigOld = "h\nh\n" + [] {
    std::string lines;
    for (int i = 0; i < 40000; ++i)
        lines += "123 456 78901 234 567 89012\n";
    return lines;
}();
const std::string kBigLeft = kHeading + records(std::vector<std::vector<int>>(40000, {123, 456, 78901}));
const std::string kBigRight = records(std::vector<std::vector<int>>(40000, {234, 567, 89012}));

TEST_F(Tabfold, ReportsFailedReadsAndWrites)
{
    if (kOnWindows)
        GTEST_SKIP() << "Windows has no /dev/full, /proc/self/mem, FIFO or signal for a lost reader";
    for (const std::string& old : {std::string("h\nh\n1 2 3 4 5 6\n"), kBigOld}) {
        write("old.txt", old);
        const Outcome full = run({"old.txt", "/dev/full"});
        EXPECT_EQ(full.out, announced("old.txt", "/dev/full") + "can not write /dev/full\n");
        EXPECT_EQ(full.status, 255);
        EXPECT_EQ(read(at("old.txt")), old);
    }
    const Outcome unreadable = run({"/proc/self/mem", "new.txt"});
    EXPECT_EQ(unreadable.out, announced("/proc/self/mem", "new.txt") + "can not read /proc/self/mem\n");
    EXPECT_EQ(unreadable.status, 5);

    // Lost messages make a failure too, though the new spare file is whole.
    for (const char* lost : {"/dev/full", kUnreadPipe}) {
        fs::remove(at("new.txt"));
        EXPECT_EQ(run({"old.txt", "new.txt"}, lost).status, 255) << lost;
        EXPECT_TRUE(read(at("new.txt")) == kBigLeft + kBigRight) << lost;
    }

    // A new spare file whose reader goes away is a failed write.
    const int reader = openNewFifo(at("fifo"));
    ASSERT_GE(reader, 0);
    const Outcome gone = run({"old.txt", "fifo"}, nullptr, {}, [&] {
        char byte;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::read(reader, &byte, 1) != 1 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(reader);
    });
    EXPECT_EQ(gone.out, announced("old.txt", "fifo") + "can not write fifo\n");
    EXPECT_EQ(gone.status, 255);
}

// Faults at exact moments, injected by strace into the running program: a
// failed reopening, a failed read, and an old spare file replaced, relinked
// or resized while the reopening or a read of the right pass is held up.
TEST_F(Tabfold, RefusesAnOldSpareFileThatChangesDuringTheConversion)
{
    if (kOnWindows)
        GTEST_SKIP() << "strace cannot trace a Windows program";
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing or cannot trace here";
    const std::string old = at("old.txt").string();
    const std::uintmax_t leftSize = kBigLeft.size();
    // Each pass reads whole blocks, then once more to meet the end.
    const std::size_t reads = (kBigOld.size() + InputFile::kBlockSize - 1) / InputFile::kBlockSize + 1;
    const std::string holdReopening = "openat:delay_enter=2000000:when=2";
    const std::string holdLastRead = "read:delay_enter=2000000:when=" + std::to_string(2 * reads);
    const struct {
        const char* what;
        std::string inject;
        std::function<void()> change;  // once the left records are written
        std::string message;
        std::string kept;  // the new spare file, or what it begins with
    } cases[] = {
        {"the reopening fails", "openat:error=EACCES:when=2", {}, "can not open " + old + "\n",
         kBigLeft},
        {"another file of the same size and time renamed over it", holdReopening,
         [&] {
             write("other.txt", "h\nh\n9" + kBigOld.substr(5));
             fs::last_write_time(at("other.txt"), fs::last_write_time(old));
             fs::rename(at("other.txt"), old);
         },
         "can not open " + old + ": it changed during the conversion\n", kBigLeft},
        {"cut short, its time kept", holdReopening,
         [&] {
             const auto time = fs::last_write_time(old);
             fs::resize_file(old, 1000);
             fs::last_write_time(old, time);
         },
         "can not open " + old + ": it changed during the conversion\n", kBigLeft},
        {"rewritten in place a nanosecond later", holdReopening,
         [&] {
             const auto time = fs::last_write_time(old);
             std::fstream(old, std::ios::in | std::ios::out | std::ios::binary) << "h\nh\n9";
             fs::last_write_time(old, time + std::chrono::nanoseconds(1));
         },
         "can not open " + old + ": it changed during the conversion\n", kBigLeft},
        {"linked to the new spare file", holdReopening,
         [&] {
             fs::remove(old);
             fs::create_symlink("new.txt", old);
         },
         "can not open " + old + ": it changed during the conversion\n", kBigLeft},
        {"a read fails in the left pass", "read:error=EIO:when=2", {}, "can not read " + old + "\n", ""},
        {"a read fails in the right pass", "read:error=EIO:when=" + std::to_string(reads + 2), {},
         "can not read " + old + "\n", kBigLeft},
        {"appended to in the right pass", holdLastRead,
         [&] { std::ofstream(old, std::ios::app) << "1 2 3 4 5 6\n"; },
         "can not read " + old + ": it changed during the conversion\n", kBigLeft + kBigRight},
    };
    for (const auto& c : cases) {
        fs::remove(old);
        write("old.txt", kBigOld);
        fs::remove(at("new.txt"));
        const std::string call = c.inject.substr(0, c.inject.find(':'));
        const Outcome outcome = run({old, "new.txt"}, nullptr,
            // (A sanitized build's leak checker cannot work under a tracer.)
            {"strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P", old,
             "-e", "trace=" + call, "-e", "inject=" + c.inject},
            [&] {
                if (c.change) {
                    waitPast("new.txt", call == "read" ? leftSize : leftSize - 1);
                    c.change();
                }
            });
        EXPECT_EQ(outcome.status, 5) << c.what;
        EXPECT_EQ(outcome.out, announced(old, "new.txt") + c.message) << c.what;
        const std::string written = read(at("new.txt"));
        // A pass that ends early leaves what its blocks of output wrote.
        EXPECT_TRUE(call == "openat" ? written == c.kept : written.starts_with(c.kept))
            << c.what << ": " << written.size() << " bytes written";
        if (!c.change) {
            EXPECT_TRUE(read(at("old.txt")) == kBigOld) << c.what;
        }
    }
}

}  // namespace
