// The record line and whole conversions held against the C library, on the
// inputs at the edges of each rule and on many generated ones: snprintf with
// "%-3d %-3d %d\n", and the plain reference conversion of conversions.hpp,
// which scans with sscanf.
#include "conversions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
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

TEST(Differential, RecordLineAgreesWithSnprintf)
{
    const std::int32_t boundaries[] = {INT_MIN, -100, -99, -10, -1, 0, 9, 99, 999, 1000, INT_MAX};
    std::vector<SpareRecord> records;
    for (std::int32_t a : boundaries)
        for (std::int32_t b : boundaries)
            for (std::int32_t c : boundaries)
                records.push_back({a, b, c});
    std::mt19937 random(7);
    std::uniform_int_distribution<std::int32_t> any(INT_MIN, INT_MAX), small(-1200, 1200);
    for (int i = 0; i < 100000; ++i)
        records.push_back(i % 2 ? SpareRecord{any(random), any(random), any(random)}
                                : SpareRecord{small(random), small(random), small(random)});
    for (const SpareRecord& r : records) {
        char expected[64], actual[kMaxRecordLineLength];
        const int length = std::snprintf(expected, sizeof expected, "%-3d %-3d %d\n", r.N1, r.N2, r.LINK);
        ASSERT_EQ(std::string(actual, formatSpareRecord(r, actual)), std::string(expected, length));
    }
}

// An integer as data lines hold them: mostly short, now and then with a
// sign, a leading zero, or more digits than 32 bits hold.
std::string randomInteger(std::mt19937& random)
{
    const unsigned kind = random() % 16;
    const std::string sign = kind == 0 ? "-" : kind == 1 ? "+" : "";
    const std::string zero = kind == 2 ? "0" : "";
    const int digits = kind == 3 ? 9 + random() % 12 : 1 + random() % 8;
    std::string number = std::to_string(1 + random() % 9);
    while (static_cast<int>(number.size()) < digits)
        number += char('0' + random() % 10);
    return sign + zero + number;
}

// An old spare file of plain data lines and noisy ones (which the scanner
// takes apart as sscanf does), now and then a line too long for one piece,
// a line of fewer integers, a CRLF line, a long first heading line or a
// missing last newline.
std::string randomOldFile(std::mt19937& random)
{
    std::string file = std::string(random() % 4 ? 8 : random() % 600, ' ') + "DS3\nN1  N2  LINK#\n";
    const int lines = random() % 80;
    for (int i = 0; i < lines; ++i) {
        const unsigned kind = random() % 8;
        std::string line = kind == 0 ? std::string(random() % 600, ' ') : "";
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

TEST(Differential, ConversionAgreesWithTheCLibrary)
{
    // Reads of one byte, around the scan window and a piece, and whole
    // blocks.
    const std::size_t readSizes[] = {1, 15, 16, 63, 64, 65, 255, 256, 4096, InputFile::kBlockSize};
    std::vector<std::pair<std::string, std::size_t>> cases = {
        // The edges of the scanning rules: whitespace of every kind, a sign
        // straight after a digit, signs without digits, and the bounds of
        // 32 bits and past them.
        {"h\nh\n \t\v\f\r7 8\r\n10-20-30 40 50 60\n+7 -0 1+2\n+-5\n- 5\n0x10 2\n"
         "2147483647 2147483648 -2147483648 -2147483649\n"
         "99999999999999999999999 -99999999999999999999999 000000000000000000042\n"
         "4294967296 4294967295 -4294967296 18446744073709551616 -18446744073709551617\n",
         InputFile::kBlockSize},
        // A short last read, where the block still holds newlines of the
        // read before it.
        {std::string(16, '\n') + "1\n2345", 16}};
    std::mt19937 random(2026);
    for (int i = 0; i < 2000; ++i)
        cases.emplace_back(randomOldFile(random), readSizes[random() % std::size(readSizes)]);
    for (const auto& [bytes, readSize] : cases)
        ASSERT_EQ(differences(bytes, readSize), "") << "old spare file:\n" << bytes;
}

}  // namespace
