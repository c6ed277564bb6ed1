#pragma once
// Big-endian integers read from bytes in memory: the lengths and sizes that
// prefix NAL units, atoms and configuration records. The caller has checked
// that the bytes are there.

#include <cstdint>

namespace bitstream {

inline uint16_t readBE16(const uint8_t* p) { return static_cast<uint16_t>((unsigned(p[0]) << 8) | p[1]); }

inline uint32_t readBE24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }

inline uint32_t readBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline uint64_t readBE64(const uint8_t* p) { return (uint64_t(readBE32(p)) << 32) | readBE32(p + 4); }

// A field of `bytes` bytes (at most 8), such as a NAL length of
// lengthSizeMinusOne + 1 bytes.
inline uint64_t readBE(const uint8_t* p, unsigned bytes) {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

// The length in front of a NAL unit of a movie's sample: recorders write it
// in four bytes, a few in two. Any size other than 2 reads four.
inline uint32_t readUnitLength(const uint8_t* p, unsigned lengthSize) {
    return lengthSize == 2 ? readBE16(p) : readBE32(p);
}

}  // namespace bitstream
