// The scanner, the record line and line pieces across blocks.  Whole
// conversions, the carry-over of fields, the 254-character limit and failed
// reads and writes are checked on real files in tabfold_test.cpp.
#include "spare_file.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Fields = std::vector<std::int32_t>;

// Scans up to six fields preset to 77 and returns those filled, then the rest.
std::pair<int, Fields> scan(const std::string& text)
{
    Fields fields(6, 77);
    const int count = scanIntegers(text.c_str(), fields.data(), 6);
    return {count, fields};
}

TEST(Scanner, FollowsTheScanningRules)
{
    const struct {
        std::string text;
        int count;
        Fields fields;
    } cases[] = {
        // whitespace of every kind before a field; a sign straight after a digit
        {" \t\n\v\f\r7 8\r\n", 2, {7, 8, 77, 77, 77, 77}},
        {"3 4 10 5 6 20 99", 6, {3, 4, 10, 5, 6, 20}},
        {"10-20-30 40 50 60", 6, {10, -20, -30, 40, 50, 60}},
        {"+7 -0 1+2", 4, {7, 0, 1, 2, 77, 77}},
        // anything else ends the scan, a NUL byte included
        {"1,2,3 4 5 6", 1, {1, 77, 77, 77, 77, 77}},
        {std::string("1 2\0 3", 6), 2, {1, 2, 77, 77, 77, 77}},
        {"0x10 2", 1, {0, 77, 77, 77, 77, 77}},
        {"+-5", 0, Fields(6, 77)},
        {"- 5", 0, Fields(6, 77)},
        {"N1  N2  LINK#", 0, Fields(6, 77)},
        {"", 0, Fields(6, 77)},
        // saturation at the bounds of 32 bits, however many digits
        {"2147483647 2147483648 -2147483648 -2147483649", 4,
         {INT_MAX, INT_MAX, INT_MIN, INT_MIN, 77, 77}},
        {"99999999999999999999999 -99999999999999999999999 000000000000000000042", 3,
         {INT_MAX, INT_MIN, 42, 77, 77, 77}},
        {"18446744073709551616 -18446744073709551617", 2, {INT_MAX, INT_MIN, 77, 77, 77, 77}},
    };
    for (const auto& c : cases) {
        const auto [count, fields] = scan(c.text);
        EXPECT_EQ(count, c.count) << c.text;
        EXPECT_EQ(fields, c.fields) << c.text;
    }
}

TEST(RecordLine, PadsTheFirstTwoFieldsToThreeCharacters)
{
    const struct {
        SpareRecord record;
        const char* line;
    } cases[] = {
        {{1, 2, 7}, "1   2   7\n"},
        {{12, 105, 3}, "12  105 3\n"},
        {{-5, 40, 12}, "-5  40  12\n"},
        {{1234, 7, 88}, "1234 7   88\n"},
        {{INT_MIN, INT_MAX, INT_MIN}, "-2147483648 2147483647 -2147483648\n"},
    };
    for (const auto& c : cases) {
        char text[kMaxRecordLineLength];
        EXPECT_EQ(std::string(text, formatSpareRecord(c.record, text)), c.line);
    }
}

// A descriptor on an unlinked temporary file holding bytes, read from its start.
int fileWith(const std::string& bytes)
{
    std::FILE* file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    const int fd = ::dup(::fileno(file));
    std::fclose(file);
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// The pieces read from bytes, each checked to be NUL-terminated, with reads
// of readSize bytes.
std::vector<std::string> readPieces(const std::string& bytes, std::size_t readSize)
{
    InputFile in(fileWith(bytes), readSize);
    LineBuffer line;
    std::vector<std::string> pieces;
    while (readLinePiece(in, line) == ReadResult::Piece) {
        EXPECT_EQ(line.text[line.length], '\0');
        pieces.emplace_back(line.text, line.length);
    }
    return pieces;
}

TEST(LinePiece, ReadsAcrossBlocksWithoutLosingAByte)
{
    std::string bytes;
    for (unsigned i = 0; bytes.size() < 3 * InputFile::kBlockSize; ++i)
        bytes += std::string(i * 7919 % 600, char('0' + i % 10)) + "\n";
    // Blocks of every size around the 64-character window and a piece.
    for (const std::size_t readSize : {InputFile::kBlockSize, std::size_t{1}, std::size_t{15},
                                       std::size_t{64}, std::size_t{65}, std::size_t{255}}) {
        std::string joined;
        for (const std::string& piece : readPieces(bytes, readSize)) {
            ASSERT_TRUE(piece.size() == 254 || piece.back() == '\n') << readSize;
            joined += piece;
        }
        EXPECT_EQ(joined, bytes) << readSize;
    }
    // A short last read, where the block still holds newlines of the one before.
    std::vector<std::string> pieces(16, "\n");
    pieces.insert(pieces.end(), {"1\n", "2345"});
    EXPECT_EQ(readPieces(std::string(16, '\n') + "1\n2345", 16), pieces);
}

}  // namespace
