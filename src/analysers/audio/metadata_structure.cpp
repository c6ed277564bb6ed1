#include "analysers/audio/metadata_structure.h"

#include <algorithm>

namespace {

// A chunk is followed for at most this many units: far more than any
// recorder writes between two video chunks.
constexpr size_t kMaxUnits = 4096;
// KLV keys are four characters of upper case letters and digits.
bool klvKeyChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

std::vector<int64_t> mebxEnds(const std::vector<uint32_t>& keys, const uint8_t* data, int64_t n) {
    std::vector<int64_t> ends;
    int64_t pos = 0;
    while (pos + 8 <= n && ends.size() < kMaxUnits) {
        const uint32_t size = be32(data + pos);
        const uint32_t key = be32(data + pos + 4);
        if (size < 8 || pos + int64_t(size) > n || std::find(keys.begin(), keys.end(), key) == keys.end())
            break;
        pos += size;
        ends.push_back(pos);
    }
    return ends;
}

std::vector<int64_t> gpmdEnds(const uint8_t* data, int64_t n) {
    std::vector<int64_t> ends;
    int64_t pos = 0;
    while (pos + 8 <= n && ends.size() < kMaxUnits) {
        const uint8_t* k = data + pos;
        if (!klvKeyChar(k[0]) || !klvKeyChar(k[1]) || !klvKeyChar(k[2]) || !klvKeyChar(k[3]))
            break;
        const int64_t payload = int64_t(k[5]) * (int64_t(k[6]) << 8 | k[7]);
        const int64_t length = 8 + ((payload + 3) & ~int64_t(3));
        if (pos + length > n)
            break;
        pos += length;
        ends.push_back(pos);
    }
    return ends;
}

}  // namespace

std::vector<int64_t> metadataUnitEnds(Fourcc codec, const std::vector<uint32_t>& keys, const uint8_t* data,
                                      int64_t n) {
    if (codec == makeFourcc("mebx") && !keys.empty())
        return mebxEnds(keys, data, n);
    if (codec == makeFourcc("gpmd"))
        return gpmdEnds(data, n);
    return {};
}
