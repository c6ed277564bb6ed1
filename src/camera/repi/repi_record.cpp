#include "camera/repi/repi_record.h"

#include <cstring>

namespace repi {

Kind recordKind(const uint8_t* p, size_t available) {
    if (available < 12 || p[0] != 'r' || std::memcmp(p, "repi", 4) != 0)
        return Kind::None;
    if (std::memcmp(p + 8, "vide", 4) == 0)
        return Kind::Video;
    if (std::memcmp(p + 8, "lpcm", 4) == 0)
        return Kind::Audio;
    if (std::memcmp(p + 8, "tmcd", 4) == 0)
        return Kind::Timecode;
    return Kind::None;
}

uint32_t videoSampleCount(const uint8_t* header) {
    const uint32_t n = le32(header + 16);
    return n >= 1 && n <= kMaxSamples ? n : 0;
}

std::vector<uint32_t> videoSampleSizes(const uint8_t* table, uint32_t count, uint64_t start, uint64_t fileSize) {
    std::vector<uint32_t> sizes;
    uint64_t end = start + kHeaderBytes + 4ull * count;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t size = le32(table + 4 * i);
        if (size < 1 || size > kMaxSampleBytes)
            return {};
        sizes.push_back(size);
        end += size;
    }
    if (end > fileSize)
        return {};
    return sizes;
}

}  // namespace repi
