#pragma once
// The CRM video sample header: a fixed four-byte marker and a big-endian
// length; the sample occupies the length plus a fixed 872 bytes.

#include <cstdint>
#include <cstring>

namespace crm {

constexpr uint8_t kSampleMarker[4] = {0xFF, 0x11, 0x00, 0x10};
constexpr uint32_t kSampleHeaderBytes = 8;
constexpr uint32_t kSampleOverhead = 872;
// The camera never writes a sample of 200 MB or more; a larger length field
// is damage, and accepting it would swallow the rest of a recording.
constexpr uint64_t kMaxSampleBytes = 200000000;
constexpr uint32_t kMaxLengthField = uint32_t(kMaxSampleBytes - kSampleOverhead);

inline bool isMarker(const uint8_t* p) { return std::memcmp(p, kSampleMarker, 4) == 0; }

inline uint32_t lengthField(const uint8_t* header) {
    return uint32_t(header[4]) << 24 | uint32_t(header[5]) << 16 | uint32_t(header[6]) << 8 | header[7];
}

// Bytes of the sample whose header this is, or 0 when the header is not a
// valid sample that ends at or before `end` (start is its offset).
inline uint64_t validSampleBytes(const uint8_t* header, uint64_t start, uint64_t end) {
    if (!isMarker(header))
        return 0;
    const uint32_t length = lengthField(header);
    if (length == 0 || length > kMaxLengthField)
        return 0;
    const uint64_t bytes = uint64_t(length) + kSampleOverhead;
    return start <= end && bytes <= end - start ? bytes : 0;
}

}  // namespace crm
