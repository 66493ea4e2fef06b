// Whole conversions held against the C library, on the inputs at the edges of
// each rule and on many generated ones: the plain reference conversion of
// conversions.hpp, which scans with strtoll and writes with snprintf.
#include "conversions.hpp"
#include "plain_lines.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <tuple>
#include <string>
#include <vector>

namespace {

using namespace conversions;

// A short string of digits, signs, whitespace of every kind, letters, commas
// and NUL bytes; now and then a run of digits long enough to overflow.
std::string randomPiece(std::mt19937& random)
{
    static const char alphabet[] = "0123456789012345678901234567890123456789+-+- \t\n\v\f\r   aZx,.\0";
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 40)(random);
    for (int i = 0; i < length; ++i) {
        if (random() % 50 == 0)
            text += std::string(10 + random() % 15, char('1' + random() % 9));
        else
            text += alphabet[random() % (sizeof alphabet - 1)];
    }
    return text;
}

// An integer as data lines hold them: mostly short, now and then with a
// sign, leading zeros (after a minus too), or more digits than 32 bits hold.
std::string randomInteger(std::mt19937& random)
{
    const unsigned kind = random() % 16;
    const std::string sign = kind == 0 ? "-" : kind == 1 ? "+" : "";
    const std::string zero(kind == 2 || (kind == 0 && random() % 2) ? 1 + random() % 3 : 0, '0');
    const int digits = kind == 3 ? 9 + random() % 12 : 1 + random() % 8;
    std::string number = std::to_string(1 + random() % 9);
    while (static_cast<int>(number.size()) < digits)
        number += char('0' + random() % 10);
    return sign + zero + number;
}

// An old spare file of plain data lines and noisy ones (which the scanner
// takes apart as sscanf does), now and then a line too long for one piece
// (a number or a sign at the end of its first piece, or of the heading's),
// a line of fewer integers, a CRLF line, a long first heading line or a
// missing last newline.
std::string randomOldFile(std::mt19937& random)
{
    // Now and then the heading's second line ends its piece in a number.
    const std::string second =
        random() % 8 ? "N1  N2  LINK#" : std::string(249 + random() % 5, 'x') + randomInteger(random) + " 6 7 8 9 10";
    std::string file = std::string(random() % 4 ? 8 : random() % 600, ' ') + "DS3\n" + second + "\n";
    const int lines = random() % 80;
    for (int i = 0; i < lines; ++i) {
        const unsigned kind = random() % 8;
        // Blanks before the first integer: now and then so many that the
        // piece ends in its sign or among its digits.
        std::string line = kind == 0 ? std::string(random() % 2 ? 249 + random() % 5 : random() % 600, ' ') : "";
        const int integers = kind == 1 ? random() % 6 : 6;
        for (int field = 0; field < integers; ++field)
            line += randomInteger(random) + std::string(1 + random() % 3, ' ');
        if (kind >= 5)
            line = randomPiece(random);
        file += line + (kind == 2 ? "\r\n" : "\n");
    }
    if (random() % 4 == 0)
        file.pop_back();
    return file;
}

// Every seed of the fuzzer (the edges of each scanning rule and of the
// record line's widths among them), then many generated files, each at one
// of the read sizes: one byte, around the scan window, a piece and the 4 KiB
// segments of plain lines, and whole blocks.  The conversion must write what
// the C library's does, and tabfold-check's view of every piece must be the
// C library's, and tell the records that the conversion writes.
TEST(Differential, ConversionAndCheckAgreeWithTheCLibrary)
{
    int seeds = 0;
    for (const auto& seed : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR)) {
        std::ifstream file(seed.path(), std::ios::binary);
        const std::string input{std::istreambuf_iterator<char>(file), {}};
        ASSERT_EQ(differencesOfInput(input, differences), "") << seed.path();
        ASSERT_EQ(differencesOfInput(input, checkDifferences), "") << seed.path();
        ++seeds;
    }
    ASSERT_GE(seeds, 10) << FUZZ_CORPUS_DIR;
    const std::size_t readSizes[] = {1, 15, 16, 63, 64, 65, 255, 256, 4096, InputFile::kBlockSize};
    std::mt19937 random(2026);
    for (int i = 0; i < 2000; ++i) {
        const std::string file = randomOldFile(random);
        const std::size_t readSize = readSizes[random() % std::size(readSizes)];
        ASSERT_EQ(differences(file, readSize), "") << "old spare file:\n" << file;
        ASSERT_EQ(checkDifferences(file, readSize), "") << "old spare file:\n" << file;
    }
}

// A line of each length at the edges of the scanner's window, of a piece
// and of two pieces, ending one character before, at and after the end of
// a whole block: the conversion and the check must read it as the C
// library does.
TEST(Differential, LinesAtTheEdgesOfWindowsPiecesAndBlocks)
{
    const std::string filler = "1 2 3 4 5 6" + std::string(242, ' ') + "\n";  // one whole piece
    for (const std::size_t length : {63, 64, 65, 253, 254, 255, 507, 508}) {
        for (const std::size_t end : {InputFile::kBlockSize - 1, InputFile::kBlockSize, InputFile::kBlockSize + 1}) {
            std::string file = "h\nh\n";
            while (file.size() + filler.size() + length + 2 < end)
                file += filler;
            file += std::string(end - file.size() - length - 2, ' ') + "\n";  // a blank line to align
            std::string line = "7 8 9 10 11 12";
            file += line + std::string(length - line.size(), ' ') + "\n" + filler;
            ASSERT_EQ(file.find(line) + length + 1, end);
            ASSERT_EQ(differences(file, InputFile::kBlockSize), "") << length << " ending at " << end;
            ASSERT_EQ(checkDifferences(file, InputFile::kBlockSize), "") << length << " ending at " << end;
        }
    }
}

// The check's numbers (lines, columns, values, counts) are written as
// printf writes them: every power of ten and its neighbours, and many more.
// A line that does not fit the check's text (a long path on Windows) keeps
// its first characters, the first digits of a number among them, and still
// ends with its newline, so that no finding runs into the next.
TEST(Differential, NumbersAreWrittenAsPrintfWritesThemAndCutWhereTheTextEnds)
{
    std::vector<std::uint64_t> values = {0, ~std::uint64_t{0}};
    for (std::uint64_t ten = 10, power = 1; power < 20; ++power, ten *= 10)
        values.insert(values.end(), {ten - 1, ten, ten + 1});
    std::mt19937_64 random(2026);
    for (int i = 0; i < 100000; ++i)
        values.push_back(random() >> random() % 64);
    for (const std::uint64_t value : values) {
        char expected[48];
        std::snprintf(expected, sizeof expected, "%llu %lld", static_cast<unsigned long long>(value),
                      static_cast<long long>(value));
        Text text;
        text.number(value).literal(" ").signedNumber(static_cast<std::int64_t>(value));
        ASSERT_STREQ(text.data(), expected);
    }
    const std::string filler(8191 - 3, 'x');
    Text text;
    text.add(filler).number(123456).literal(":").number(7).endLine();
    EXPECT_EQ(std::string(text.data()).substr(filler.size()), "12\n");
}

// A path, as SARIF's URI reference, on a system of POSIX paths and on Windows.
TEST(Differential, PathsAreUriReferencesOnEitherSystem)
{
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"/a b/c", false, "file:///a%20b/c"},       {"c:/x\\y", false, "c%3A/x%5Cy"}, {"Aa%0_~9zZ-.", false, "Aa%250_~9zZ-."},
        {"\\\\s\\x", false, "%5C%5Cs%5Cx"},         {"C:\\d\\e.txt", true, "file:///C:/d/e.txt"},
        {"a:/", true, "file:///a:/"},               {"Z:\\", true, "file:///Z:/"},
        {"@:\\x", true, "%40%3A/x"},                {"[:\\x", true, "%5B%3A/x"},
        {"C:x", true, "C%3Ax"},                     {"C:", true, "C%3A"},
        {"\\\\srv\\share\\f", true, "file://srv/share/f"}, {"\\x/y", true, "file:///x/y"},
    };
    for (const auto& [path, windows, expected] : cases) {
        Grown uri;
        addUri(uri, path, windows);
        EXPECT_EQ(std::string(uri.data(), uri.size()), expected) << path;
    }
}

// A block of plain data lines, as the fast ways take them: six integers of
// one to eight digits without a leading zero, blanks and tabs between, each
// line shorter than 56 characters with its newline, or, padded, of up to
// 120; their count varies, so that their ends fall on every place of the
// 64-character chunks.
std::string plainLines(std::mt19937& random, int lines, bool padded)
{
    std::string block;
    for (int i = 0; i < lines; ++i) {
        std::string line = random() % 2 ? " " : "";
        for (int field = 0; field < 6; ++field) {
            std::string number = std::to_string(1 + random() % 9);
            for (unsigned digits = random() % 8; digits > 0 && line.size() + number.size() < 40; --digits)
                number += char('0' + random() % 10);
            line += number + (padded ? std::string(1 + random() % 11, ' ') : random() % 4 ? " " : "\t");
        }
        block += line + "\n";
    }
    return block;
}

// Plain data must go the fast way, whole, on every kernel and both sides:
// the operations would write the same bytes, only slower, so no comparison
// of bytes can tell.  The checker passes over the same lines at once.
TEST(Differential, PlainLinesGoTheFastWay)
{
    std::mt19937 random(64);
    for (int i = 0; i < 300; ++i) {
        const std::string block = plainLines(random, 1 + static_cast<int>(random() % 200), i % 3 == 0);
        const std::string padded = block + std::string(InputFile::kReadAhead, '\0');
        const std::size_t beforeLast = block.size() > 1 ? block.rfind('\n', block.size() - 2) : std::string::npos;
        const char* const lastLine = padded.c_str() + (beforeLast == std::string::npos ? 0 : beforeLast + 1);
        for (const Kernel kernel : {chooseKernel(), Kernel::Baseline}) {
            for (const Side side : {Side::Left, Side::Right}) {
                std::FILE* newFile = std::tmpfile();
                ASSERT_NE(newFile, nullptr);
                OutputFile out(FileHandle(descriptorOf(newFile)));
                const PlainRun run = convertPlainPieces(padded.c_str(), block.size(), out, side, kernel);
                EXPECT_TRUE(out.flush() && out.release().close());
                std::fclose(newFile);
                ASSERT_EQ(run.converted, block.size()) << block;
                ASSERT_EQ(run.lastLine, lastLine) << block;
            }
        }
        CheckState state;
        state.pieces = 2;  // past the heading
        ASSERT_EQ(passQuietLines(state, padded.c_str(), block.size()), block.size()) << block;
        // And so are they with a minus before each integer and a carriage return before each newline, which
        // end chunks as often as digits do.
        const std::string noisy = std::regex_replace(std::regex_replace(block, std::regex("\n"), "\r\n"),
                                                     std::regex("(^|\\s)(\\d)"), "$1-$2");
        ASSERT_EQ(passQuietLines(state, (noisy + std::string(InputFile::kReadAhead, '\0')).c_str(), noisy.size()),
                  noisy.size()) << noisy;
        // The check takes only the heading one piece at a time, and a line
        // that is not quiet and the line after it, before it tries again.
        std::FILE* oldFile = std::tmpfile();
        ASSERT_NE(oldFile, nullptr);
        std::fputs(("h\nh\n7 8\n" + block).c_str(), oldFile);
        InputFile in(FileHandle(descriptorOf(oldFile)));
        CheckState whole;
        int pieces = 0;
        CheckVisitor counter{[&](const PieceReport&) { ++pieces; }, [](std::uint64_t, std::uint64_t) {}};
        ASSERT_EQ(checkOldSpareFile(in, whole, counter), CheckEnd::Done);
        std::fclose(oldFile);
        ASSERT_EQ(pieces, 4) << block;
    }
}

}  // namespace
