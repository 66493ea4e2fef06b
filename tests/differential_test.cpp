// The scanner and the record line held against the C library on many
// generated inputs: sscanf with "%ld" fields, clamped to 32 bits, and
// snprintf with "%-3d %-3d %d\n".
#include "spare_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
#include <string>

namespace {

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

// What sscanf fills of count fields preset to 77, clamped to 32 bits.
std::pair<int, std::vector<std::int32_t>> libraryScan(const std::string& text, int count)
{
    long wide[6] = {77, 77, 77, 77, 77, 77};
    const int filled = count == 3
        ? std::sscanf(text.c_str(), "%ld %ld %ld", &wide[0], &wide[1], &wide[2])
        : std::sscanf(text.c_str(), "%ld %ld %ld %ld %ld %ld", &wide[0], &wide[1],
                      &wide[2], &wide[3], &wide[4], &wide[5]);
    std::vector<std::int32_t> fields(6);
    for (int i = 0; i < 6; ++i)
        fields[i] = static_cast<std::int32_t>(std::clamp<long>(wide[i], INT_MIN, INT_MAX));
    return {std::max(filled, 0), fields};  // EOF: nothing filled
}

TEST(Differential, ScannerAgreesWithSscanf)
{
    std::mt19937 random(20261206);
    for (int round = 0; round < 200000; ++round) {
        const std::string text = randomPiece(random);
        for (const int count : {3, 6}) {
            std::vector<std::int32_t> fields(6, 77);
            const int filled = scanIntegers(text.c_str(), fields.data(), count);
            ASSERT_EQ(std::make_pair(filled, fields), libraryScan(text, count))
                << '"' << text << '"' << " with " << count << " fields";
        }
    }
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

}  // namespace
