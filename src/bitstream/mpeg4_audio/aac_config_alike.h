#pragma once
// Whether two MPEG-4 AudioSpecificConfigs decode the same raw AAC frames
// alike. The frames carry no sampling rate: a decoder uses the rate only to
// pick its scale factor band tables, and pairs of rates share one table
// (44.1 and 48 kHz, 22.05 and 24 kHz, ...). Two tracks whose configurations
// differ only by such a pair cannot be told apart by their frames.
//
// 32 kHz uses the 44.1/48 kHz table with its top band (coefficients 928 to
// 1024) split in three: frames that code no more than the 48 bands below it
// read alike at all three rates. `codedBands` is the most long-window bands
// (max_sfb) the frames of one of the two tracks code, where the caller knows
// it: a decoder set up for the other track then takes that track's frames
// as its own. Unknown, such pairs do not count as alike.

#include <cstdint>

namespace bitstream {

constexpr int kCodedBandsUnknown = 64;

bool aacConfigsDecodeAlike(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize,
                           int codedBands = kCodedBandsUnknown);

}  // namespace bitstream
