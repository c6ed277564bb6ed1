#pragma once
// Bit masks over 16 bytes. Searches for NAL unit boundaries and forbidden
// byte sequences care only about zero (or small) bytes, so they test 16
// bytes at once and look closer only at the hits.

// Which of 16 bytes are zero, as a bit mask (bit k for p[k]).

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bitstream {

inline uint32_t zeroByteMask16(const uint8_t* p) {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
#else
    uint32_t mask = 0;
    for (int k = 0; k < 16; ++k)
        mask |= uint32_t(p[k] == 0) << k;
    return mask;
#endif
}

// Which of 64 bytes are zero (bit k for p[k]): long stretches without zero
// pairs, the common case inside coded pictures, pass in a quarter of the steps.
inline uint64_t zeroByteMask64(const uint8_t* p) {
    return uint64_t(zeroByteMask16(p)) | uint64_t(zeroByteMask16(p + 16)) << 16 |
           uint64_t(zeroByteMask16(p + 32)) << 32 | uint64_t(zeroByteMask16(p + 48)) << 48;
}

// Which of 16 bytes are at most `limit`, as a bit mask (bit k for p[k]).
inline uint32_t smallByteMask16(const uint8_t* p, uint8_t limit) {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i capped = _mm_min_epu8(bytes, _mm_set1_epi8(char(limit)));
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(capped, bytes)));
#else
    uint32_t mask = 0;
    for (int k = 0; k < 16; ++k)
        mask |= uint32_t(p[k] <= limit) << k;
    return mask;
#endif
}

}  // namespace bitstream
