// The plain-line converter's kernel on processors with AVX2, BMI1, BMI2 and
// POPCNT: vectors of thirty-two characters.  Built where the compiler can
// target them (x86), and chosen at run time where the processor has them.
#ifndef TABFOLD_PLAIN_LINES_AVX2_HPP
#define TABFOLD_PLAIN_LINES_AVX2_HPP

#include "plain_lines_chunks.hpp"

#ifdef TABFOLD_SCAN_WITH_AVX2
#include <immintrin.h>

namespace plain {

#define TABFOLD_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

// The same steps on processors with AVX2, BMI and BMI2: thirty-two
// characters at a time, with the same signed-range trick.
struct Avx2 {
    using Known = __m256i;
    static constexpr Known kAllKnown = {-1, -1, -1, -1};

    TABFOLD_AVX2 static Word maskOf(__m256i mask)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(mask));
    }

    // Marks the bytes from low to high, as bytesBetween does.
    template <unsigned char low, unsigned char high>
    TABFOLD_AVX2 static __m256i between(__m256i bytes)
    {
        constexpr unsigned char shift = 0x7F - high;
        return _mm256_cmpgt_epi8(_mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(shift))),
                                 _mm256_set1_epi8(static_cast<char>(low + shift - 1)));
    }

    // The classes of characters, as vectors.hpp defines them.
    TABFOLD_AVX2 static __m256i equal(__m256i bytes, char c) { return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c)); }
    TABFOLD_AVX2 static __m256i digits(__m256i bytes) { return between<kFirstDigit, kLastDigit>(bytes); }
    TABFOLD_AVX2 static __m256i spaces(__m256i bytes)
    {
        return _mm256_or_si256(between<kFirstControlSpace, kLastControlSpace>(bytes), equal(bytes, kBlank));
    }
    TABFOLD_AVX2 static __m256i signs(__m256i bytes)
    {
        return _mm256_or_si256(equal(bytes, kPlus), equal(bytes, kMinus));
    }

    TABFOLD_AVX2 static ChunkMaps mapChunk(const char* p, Known& known)
    {
        ChunkMaps maps;
        for (std::size_t at = 0; at < kChunk; at += 32) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
            const __m256i digit = digits(bytes);
            const __m256i space = spaces(bytes);
            maps.digits |= maskOf(digit) << at;
            maps.zeros |= maskOf(equal(bytes, kFirstDigit)) << at;
            maps.newlines |= maskOf(equal(bytes, '\n')) << at;
            known = _mm256_and_si256(known, _mm256_or_si256(digit, space));
        }
        return maps;
    }

    TABFOLD_AVX2 static bool allKnown(const Known& known) { return _mm256_testc_si256(known, kAllKnown); }

    TABFOLD_AVX2 static ChunkSigns signChunk(const char* p)
    {
        ChunkSigns chunk;
        for (std::size_t at = 0; at < kChunk; at += 32) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
            const __m256i sign = signs(bytes);
            const __m256i known = _mm256_or_si256(_mm256_or_si256(sign, digits(bytes)), spaces(bytes));
            chunk.signs |= maskOf(sign) << at;
            chunk.minuses |= maskOf(equal(bytes, kMinus)) << at;
            chunk.others |= (~maskOf(known) & 0xFFFFFFFF) << at;
        }
        return chunk;
    }

    TABFOLD_AVX2 static unsigned countNewlines(Word bits)
    {
        return static_cast<unsigned>(std::popcount(bits));
    }

    TABFOLD_AVX2 static void putField(char* out, const char* field, unsigned count, unsigned char fill)
    {
        const __m128i fills = _mm_set1_epi8(static_cast<char>(fill));
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
        const __m128i mask = reinterpret_cast<__m128i>(firstBytes(count));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_blendv_epi8(fills, bytes, mask));
    }
};

}  // namespace plain
#endif

#endif
