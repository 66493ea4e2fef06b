// The plain-line converter's kernel on the instructions that every processor
// of its kind has: vectors of sixteen characters (SSE2 on x86-64, plain
// words elsewhere or with the portable scanner).
#ifndef TABFOLD_PLAIN_LINES_BASELINE_HPP
#define TABFOLD_PLAIN_LINES_BASELINE_HPP

#include "plain_lines_chunks.hpp"

namespace plain {

// The steps that depend on the instructions at hand, with what every x86-64
// processor has (or portably elsewhere): sixteen characters at a time.
struct Baseline {
    // Lane by lane, whether every character so far was a digit or whitespace.
    using Known = ByteMask;
    static constexpr Known kAllKnown = ~ByteMask{};

    // Calls take(bytes, at) for each vector of the chunk at p, at being
    // where it begins in the chunk.
    template <class Take>
    static void eachVector(const char* p, Take take)
    {
        for (std::size_t at = 0; at < kChunk; at += sizeof(Bytes))
            take(bytesAt(p + at), at);
    }

    static ChunkMaps mapChunk(const char* p, Known& known)
    {
        ChunkMaps maps;
        eachVector(p, [&](Bytes bytes, std::size_t at) {
            const ByteMask digit = digitBytes(bytes);
            maps.digits |= maskBits(digit) << at;
            maps.zeros |= maskBits(bytes == kFirstDigit) << at;
            maps.newlines |= maskBits(bytes == '\n') << at;
            known &= digit | spaceBytes(bytes);
        });
        return maps;
    }

    static bool allKnown(const Known& known) { return maskBits(known) == 0xFFFF; }

    static ChunkSigns signChunk(const char* p)
    {
        ChunkSigns chunk;
        eachVector(p, [&](Bytes bytes, std::size_t at) {
            const ByteMask sign = signBytes(bytes);
            chunk.signs |= maskBits(sign) << at;
            chunk.minuses |= maskBits(bytes == kMinus) << at;
            chunk.others |= maskBits(~(sign | digitBytes(bytes) | spaceBytes(bytes))) << at;
        });
        return chunk;
    }

    // How many of the bits are set, counted one at a time past the first
    // two, which the flattening writes anyway.
    static unsigned countNewlines(Word bits)
    {
        unsigned count = bits != 0;
        bits &= bits - 1;
        count += bits != 0;
        bits &= bits - 1;
        for (; bits != 0; bits &= bits - 1)
            ++count;
        return count;
    }

    // Stores a vector of the count (0 to 16) characters at field, then fill.
    static void putField(char* out, const char* field, unsigned count, unsigned char fill)
    {
        // fills ^ ((bytes ^ fills) & mask) takes bytes where mask is set.
        const Bytes fills = Bytes{} + fill;
        storeBytes(out, fills ^ ((bytesAt(field) ^ fills) & firstBytes(count)));
    }
};

}  // namespace plain

#endif
