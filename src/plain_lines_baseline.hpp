// The plain-line converter's kernel on the instructions that every processor
// of its kind has: vectors of sixteen characters (SSE2 on x86-64, plain
// words elsewhere or with the portable scanner).
#ifndef TABFOLD_PLAIN_LINES_BASELINE_HPP
#define TABFOLD_PLAIN_LINES_BASELINE_HPP

#include "plain_lines_chunks.hpp"
#include "scanner.hpp"

namespace plain {

// The steps that depend on the instructions at hand, with what every x86-64
// processor has (or portably elsewhere): sixteen characters at a time.
struct Baseline {
    // Bit by bit, whether every character so far was a digit or whitespace.
    using Known = Word;
    static constexpr Known kAllKnown = ~Word{0};

    // The chunk's characters, from the scanner's one classifier.
    static ChunkMaps mapChunk(const char* p, Known& known)
    {
        const ChunkClasses chunk = classifyChunk(p);
        known &= chunk.digits | chunk.spaces;
        return {chunk.digits, chunk.zeros, chunk.newlines};
    }

    static bool allKnown(const Known& known) { return known == kAllKnown; }

    static ChunkSigns signChunk(const char* p)
    {
        const ChunkClasses chunk = classifyChunk(p);
        return {chunk.signs, chunk.minuses, ~(chunk.signs | chunk.digits | chunk.spaces)};
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
