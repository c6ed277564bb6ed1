#pragma once
// 24-bit big-endian signed PCM as the CRM audio tracks store it, and the two
// level measures the audio repair decides by.

#include <cstddef>
#include <cstdint>

namespace crm {

constexpr uint32_t kPcmBytes = 3;
constexpr int32_t kPcmMin = -8388608;
constexpr int32_t kPcmMax = 8388607;

inline int32_t pcmValue(const uint8_t* p) {
    const int32_t v = int32_t(p[0]) << 16 | int32_t(p[1]) << 8 | p[2];
    return p[0] >= 128 ? v - 16777216 : v;
}

inline void storePcm(uint8_t* p, int64_t v) {
    if (v < kPcmMin)
        v = kPcmMin;
    if (v > kPcmMax)
        v = kPcmMax;
    const uint32_t u = uint32_t(int32_t(v)) & 0xFFFFFF;
    p[0] = uint8_t(u >> 16);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u);
}

// Level of `count` values from `p` in dBFS; -300 for silence or nothing.
double rmsDbfs(const uint8_t* p, size_t count);
// Sign changes between values one frame (`channels` values) apart, divided by
// `count`: about 0.5 for noise, near 0 for a tone.
double signChangeShare(const uint8_t* p, size_t count, uint32_t channels);

}  // namespace crm
