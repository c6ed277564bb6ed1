#pragma once
// Whether two MPEG-4 AudioSpecificConfigs decode the same raw AAC frames
// alike. The frames carry no sampling rate: a decoder uses the rate only to
// pick its scale factor band tables, and pairs of rates share one table
// (44.1 and 48 kHz, 22.05 and 24 kHz, ...). Two tracks whose configurations
// differ only by such a pair cannot be told apart by their frames.

#include <cstdint>

namespace bitstream {

bool aacConfigsDecodeAlike(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize);

}  // namespace bitstream
