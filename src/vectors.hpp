// Characters handled many at a time, for the scanner, the plain-line
// converter and the record lines: words of eight characters in a fixed byte
// order, whatever the machine's, and the tests of their bytes; vectors of
// sixteen, the masks that comparing them gives, and the bitmap that a mask
// folds into.  Every byte-order and byte-range helper of the program is here.
#ifndef TABFOLD_VECTORS_HPP
#define TABFOLD_VECTORS_HPP

#include "instructions.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef TABFOLD_SCAN_WITH_SSE2
#include <emmintrin.h>
#endif

// The classes of characters that a "%d" field knows, as isspace() and
// isdigit() know them in the "C" locale, and the signs; every test of a
// character, a word or a vector, on every kernel, is made of these.
namespace characters {

constexpr char kBlank = ' ';
constexpr char kFirstControlSpace = '\t';  // tab, newline, vertical tab, form feed
constexpr char kLastControlSpace = '\r';   // and carriage return
constexpr char kFirstDigit = '0';
constexpr char kLastDigit = '9';
constexpr char kPlus = '+';
constexpr char kMinus = '-';

constexpr bool isDigit(char c)
{
    return c >= kFirstDigit && c <= kLastDigit;
}
constexpr bool isSign(char c)
{
    return c == kPlus || c == kMinus;
}

}  // namespace characters

namespace vectors {

using namespace characters;

// Eight characters in one word, the first in its lowest byte; also a bitmap
// of 64 characters, bit i for character i.
using Word = std::uint64_t;
constexpr Word kOnes = 0x0101010101010101;
constexpr Word kHighBits = 0x8080808080808080;

// Sixteen characters in one vector, compared all at once; a comparison gives
// a mask with every bit of a byte set where it holds.
using Bytes = unsigned char __attribute__((vector_size(16)));
using ByteMask = signed char __attribute__((vector_size(16)));

// The lane numbers 0 to 15, to mask the first lanes of a vector.
constexpr Bytes kLanes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The eight characters at p as a word.
inline Word wordAt(const void* p)
{
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

// Stores the word at p, its lowest byte first, as wordAt reads it.
inline void storeWord(void* p, Word word)
{
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    std::memcpy(p, &word, sizeof word);
}

// The eight characters from p; any from limit on read as NUL.
inline Word loadWord(const char* p, const char* limit)
{
    if (limit - p >= 8)
        return wordAt(p);
    Word word = 0;
    for (int i = 0; p + i < limit; ++i)
        word |= Word{static_cast<unsigned char>(p[i])} << (8 * i);
    return word;
}

// Marks, with its high bit, each byte of the word from low to high, where
// 1 <= low <= high < 0x80.  Adding to the low seven bits of a byte never
// carries into the next byte, so each byte is compared on its own.
constexpr Word bytesBetween(Word word, unsigned low, unsigned high)
{
    const Word sevenBits = word & ~kHighBits;
    const Word atLeastLow = sevenBits + kOnes * (0x80 - low);
    const Word aboveHigh = sevenBits + kOnes * (0x7F - high);
    return atLeastLow & ~aboveHigh & ~word & kHighBits;
}

// Marks, with its high bit, each byte of the word that is whitespace.
constexpr Word spaceBytes(Word word)
{
    return bytesBetween(word, kFirstControlSpace, kLastControlSpace) | bytesBetween(word, kBlank, kBlank);
}

// Marks, with its high bit, each byte of the word that is a digit.
constexpr Word digitBytes(Word word)
{
    return bytesBetween(word, kFirstDigit, kLastDigit);
}

// How many bits of the word are set, in a few operations on every
// processor (std::popcount is a call to a library where the compiler may
// not use the instruction).
constexpr int countBits(Word word)
{
    word -= (word >> 1) & 0x5555555555555555;
    word = (word & 0x3333333333333333) + ((word >> 2) & 0x3333333333333333);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((word * kOnes) >> 56);
}

// The value of the first count (1 to 8) bytes of the word, all digits.
inline Word digitsValue(Word word, int count)
{
    // Each digit to its value, the bytes after them shifted out, so that the
    // number fills the top of the word behind leading zeros.
    Word v = (word - kOnes * kFirstDigit) << (64 - 8 * count);
    // Neighbouring digits combine into 2-, then 4-, then 8-digit values.
    v = (v * 10) + (v >> 8);
    v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
         (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >> 32;
    return v;
}

#ifdef TABFOLD_SCAN_WITH_SSE2
// One bit for each byte of a mask, the first byte's lowest.
inline Word maskBits(ByteMask mask)
{
    return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(mask)));
}
#else
// Gathers the high bits of the bytes of a word into eight bits, the first
// byte's lowest.
constexpr Word highBits(Word word)
{
    return (((word & kHighBits) >> 7) * 0x0102040810204080) >> 56;
}

// One bit for each byte of a mask, the first byte's lowest.
inline Word maskBits(ByteMask mask)
{
    const char* bytes = reinterpret_cast<const char*>(&mask);
    return highBits(wordAt(bytes)) | highBits(wordAt(bytes + 8)) << 8;
}
#endif

// The sixteen characters at p.
inline Bytes bytesAt(const char* p)
{
    Bytes bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    return bytes;
}

// Stores the sixteen characters at p.
inline void storeBytes(char* p, Bytes bytes)
{
    std::memcpy(p, &bytes, sizeof bytes);
}

// Marks the bytes from low to high, low >= 1.  Adding moves that range to
// the top of the signed bytes, 0x7F down, so one signed comparison tells.
template <unsigned char low, unsigned char high>
inline ByteMask bytesBetween(Bytes bytes)
{
    constexpr unsigned char shift = 0x7F - high;
    const ByteMask moved = __builtin_convertvector(bytes + shift, ByteMask);  // wraps around
    return moved > static_cast<signed char>(low + shift - 1);
}

inline ByteMask digitBytes(Bytes bytes)
{
    return bytesBetween<kFirstDigit, kLastDigit>(bytes);
}

inline ByteMask spaceBytes(Bytes bytes)
{
    return (bytes == kBlank) | bytesBetween<kFirstControlSpace, kLastControlSpace>(bytes);
}

inline ByteMask signBytes(Bytes bytes)
{
    return (bytes == kPlus) | (bytes == kMinus);
}

}  // namespace vectors

#endif
