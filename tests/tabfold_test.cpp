// Runs the built program on real files in a temporary folder and checks its
// standard output, its exit status and the bytes of both files.
#include <gtest/gtest.h>

#include "child_process.hpp"
#include "file_io.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kHeading = "        DS3\nN1  N2  LINK#\n";
const std::string kUsage = "command syntax: tabfold spare2in1lineFile spare1in1lineFile \n";

// The exit status and standard output of a run.
using Outcome = std::pair<int, std::string>;

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
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    // How many files the work folder holds.
    long files() const { return std::distance(fs::directory_iterator(base_ / "work"), {}); }

    // Runs tabfold in the work folder, after the words of wrapper, and calls
    // meanwhile while it runs; standard error must stay empty.
    Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {},
                const std::function<void()>& meanwhile = {}) const
    {
        std::vector<std::string> command = wrapper;
        command.push_back(TABFOLD_PATH);
        command.insert(command.end(), args.begin(), args.end());
        const int status = runChild(command, base_ / "work", base_ / "stdout", base_ / "stderr", meanwhile);
        EXPECT_EQ(read(base_ / "stderr"), "");
        return {status, read(base_ / "stdout")};
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

// What the conversion makes of every line is held against the C library in
// differential_test.cpp; here the built program converts whole files, under
// paths taken as they are given, into new spare files that held more, and
// refuses what it cannot convert, touching no file.
TEST_F(Tabfold, ConvertsOrRefusesRealFilesUnderVerbatimPaths)
{
    const std::string kept = "h\nh\n1 2 3 4 5 6\n";
    const std::string example = read(EXAMPLES_DIR "/old-spare.txt");
    const std::string converted = read(EXAMPLES_DIR "/new-spare.txt");
    write("old.txt", kept);
    fs::create_directory(at("dir"));
    fs::create_hard_link(at("old.txt"), at("hard.txt"));
    if (!kOnWindows) {
        ASSERT_EQ(std::system(("mkfifo '" + at("fifo").string() + "'").c_str()), 0);
        fs::create_symlink("old.txt", at("soft.txt"));
    }
    enum class On { Any, Posix, Windows };
    const struct {
        std::vector<std::string> args;
        std::string out;  // after the announcements
        int status;
        std::string old = {}, expected = {};  // a conversion's old and new spare file
        On on = On::Any;
    } cases[] = {
        {{"old.txt", "new.txt"}, "", 0, "", kHeading},
        // A Ctrl-Z byte is data, which a read in text mode would end at.
        {{"old.txt", "new.txt"}, "", 0, "h\nh\n1 2 3 4 5 6\x1a\n7 8 9 10 11 12\n",
         kHeading + "1   2   3\n7   8   9\n4   5   6\n10  11  12\n"},
        {{"old.txt", "-new.txt"}, "", 0, example, converted},
        {{"old.txt", at("new.txt").string()}, "", 0, example, converted},
        {{"日本 old.spare", "новый 📄.spare"}, "", 0, example, converted},  // outside every ANSI code page at once
        {{}, kUsage, 1},
        {{"old.txt"}, kUsage, 1},
        {{"old.txt", "new.txt", "more.txt"}, kUsage, 1},
        {{"missing.txt", "created.txt"}, "can not open missing.txt\n", 5},
        {{"dir", "created.txt"}, "can not open dir: not a regular file\n", 5},
        {{"fifo", "new.txt"}, "can not open fifo: not a regular file\n", 5, {}, {}, On::Posix},
        {{"/dev/null", "new.txt"}, "can not open /dev/null: not a regular file\n", 5, {}, {}, On::Posix},
        {{"NUL", "new.txt"}, "can not open NUL: not a regular file\n", 5, {}, {}, On::Windows},
        {{"old.txt", "dir"}, "can not open dir\n", 5},
        {{"old.txt", "old.txt"}, "can not open old.txt: it is the old spare file\n", 5},
        {{"old.txt", "./old.txt"}, "can not open ./old.txt: it is the old spare file\n", 5},
        {{"old.txt", "OLD.TXT"}, "can not open OLD.TXT: it is the old spare file\n", 5, {}, {}, On::Windows},
        {{"old.txt", "hard.txt"}, "can not open hard.txt: it is the old spare file\n", 5},
        {{"old.txt", "soft.txt"}, "can not open soft.txt: it is the old spare file\n", 5, {}, {}, On::Posix},
    };
    for (const auto& c : cases) {
        if (c.on != On::Any && (c.on == On::Windows) != kOnWindows)
            continue;
        const bool converts = c.status == 0;
        const std::string oldPath = converts ? c.args[0] : "old.txt", newPath = converts ? c.args[1] : "new.txt";
        write(oldPath, converts ? c.old : kept);
        write(newPath, converts ? "a longer file that must be emptied first\n\n\n\n\n\n\n\n\n\n\n\n" : "kept\n");
        const long before = files();
        const std::string expected = c.status == 1 ? c.out : announced(c.args[0], c.args[1]) + c.out;
        EXPECT_EQ(run(c.args), Outcome(c.status, expected));
        EXPECT_EQ(read(at(oldPath)), converts ? c.old : kept) << expected;
        EXPECT_EQ(read(at(newPath)), converts ? c.expected : "kept\n") << expected;
        EXPECT_EQ(files(), before) << expected;
    }
}

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

// Faults at exact moments, injected by strace into the running program: a
// failed reopening, read or write, lost messages, and an old spare file
// replaced or resized while the reopening or a read of the right pass is
// held up.  (Not run on Windows, whose programs strace cannot trace.)
TEST_F(Tabfold, ReportsEveryFailureAndChangeDuringTheConversion)
{
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is missing or cannot trace here";
    const std::string old = at("old.txt").string(), newPath = at("new.txt").string();
    const std::string announce = announced(old, "new.txt");
    const std::string changed = announce + "can not open " + old + ": it changed during the conversion\n";
    // Each pass reads whole blocks, then once more to meet the end.
    const std::size_t reads = (kBigOld.size() + InputFile::kBlockSize - 1) / InputFile::kBlockSize + 1;
    const std::string holdReopening = "openat:delay_enter=2000000:when=2";
    const struct {
        const char* what;
        std::string traced, inject;
        std::function<void()> change;  // once the left records are written
        std::string out;
        int status;
        std::string kept;  // the new spare file, or what it begins with
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
        {"cut short, its time kept", old, holdReopening,
         [&] {
             const auto time = fs::last_write_time(old);
             fs::resize_file(old, 1000);
             fs::last_write_time(old, time);
         },
         changed, 5, kBigLeft},
        {"rewritten in place a nanosecond later", old, holdReopening,
         [&] {
             const auto time = fs::last_write_time(old);
             std::fstream(old, std::ios::in | std::ios::out | std::ios::binary) << "h\nh\n9";
             fs::last_write_time(old, time + std::chrono::nanoseconds(1));
         },
         changed, 5, kBigLeft},
        {"a read fails in the right pass", old, "read:error=EIO:when=" + std::to_string(reads + 2), {},
         announce + "can not read " + old + "\n", 5, kBigLeft},
        {"appended to in the right pass", old, "read:delay_enter=2000000:when=" + std::to_string(2 * reads),
         [&] { std::ofstream(old, std::ios::app) << "1 2 3 4 5 6\n"; },
         announce + "can not read " + old + ": it changed during the conversion\n", 5, kBigLeft + kBigRight},
        {"a write fails in the left pass", newPath, "write:error=ENOSPC:when=2", {},
         announce + "can not write new.txt\n", 255, ""},
        // Lost messages make a failure too, though the new spare file is whole.
        {"the reader of the messages is gone", (base_ / "stdout").string(),
         "write:error=EPIPE:signal=SIGPIPE:when=1+", {}, "", 255, kBigLeft + kBigRight},
    };
    for (const auto& c : cases) {
        fs::remove(old);
        write("old.txt", kBigOld);
        fs::remove(at("new.txt"));
        const std::string call = c.inject.substr(0, c.inject.find(':'));
        const Outcome outcome = run({old, "new.txt"},
            // (A sanitized build's leak checker cannot work under a tracer.)
            {"strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P", c.traced,
             "-e", "trace=" + call, "-e", "inject=" + c.inject},
            [&] {
                if (c.change) {
                    waitPast("new.txt", kBigLeft.size() - (call == "openat"));
                    c.change();
                }
            });
        EXPECT_EQ(outcome, Outcome(c.status, c.out)) << c.what;
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
