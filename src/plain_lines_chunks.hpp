// The words of the plain-line converter, shared by its kernels.
//
// A chunk is 64 characters of a block.  A bitmap holds one bit for each
// character of a chunk, bit i for character i: the digits of a chunk, its
// zeros, its newlines.  A mask is what comparing a vector of characters
// gives: one byte, all ones or all zeros, for each lane (each character of
// the vector); gathering the high bits of a mask's lanes gives the bits of a
// bitmap.
#ifndef TABFOLD_PLAIN_LINES_CHUNKS_HPP
#define TABFOLD_PLAIN_LINES_CHUNKS_HPP

#include "vectors.hpp"

#include <cstddef>

namespace plain {

using namespace vectors;

constexpr std::size_t kChunk = 64;

// One chunk of characters as bitmaps, bit i for character i.
struct ChunkMaps {
    Word digits = 0;
    Word zeros = 0;  // the digit 0
    Word newlines = 0;
};

// One chunk's signs, and the characters that are neither digits,
// whitespace nor signs, as bitmaps.
struct ChunkSigns {
    Word signs = 0;
    Word minuses = 0;
    Word others = 0;
};

// The first count bytes set, the rest clear, for count from 0 to 16: the
// sixteen bytes that start count bytes before the end of a run of sixteen
// set bytes followed by sixteen clear ones.
inline Bytes firstBytes(unsigned count)
{
    static constexpr unsigned char kSlide[32] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return bytesAt(reinterpret_cast<const char*>(kSlide) + 16 - count);
}

}  // namespace plain

#endif
