#include "bitstream/mpeg4_audio/aac_config_alike.h"

#include <algorithm>

namespace bitstream {

namespace {

// The band table each samplingFrequencyIndex 0-12 decodes with (long
// windows; the short ones group alike or coarser).
constexpr int kBandTable[13] = {0, 0, 1, 2, 2, 3, 4, 4, 5, 5, 5, 6, 6};
constexpr int k48kTable = 2;
constexpr int k32kTable = 3;
// The bands the 48 and 32 kHz long-window tables share, from the bottom.
constexpr int kBandsSharedWith32k = 48;

bool bandsAlike(int tableA, int tableB, int codedBands) {
    if (tableA == tableB)
        return true;
    const bool pair = std::min(tableA, tableB) == k48kTable && std::max(tableA, tableB) == k32kTable;
    return pair && codedBands >= 0 && codedBands <= kBandsSharedWith32k;
}

// samplingFrequencyIndex: the four bits behind a five-bit audioObjectType
// (31 escapes to a longer type; not read here).
int frequencyIndex(const uint8_t* config) { return ((config[0] & 0x07) << 1) | (config[1] >> 7); }

}  // namespace

bool aacConfigsDecodeAlike(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize, int codedBands) {
    if (!a || !b || aSize != bSize || aSize < 2)
        return false;
    if (std::equal(a, a + aSize, b))
        return true;
    if ((a[0] >> 3) == 31 || (b[0] >> 3) == 31)
        return false;
    const int ia = frequencyIndex(a);
    const int ib = frequencyIndex(b);
    if (ia > 12 || ib > 12 || !bandsAlike(kBandTable[ia], kBandTable[ib], codedBands))
        return false;
    // Everything but the frequency index must match.
    if ((a[0] & 0xF8) != (b[0] & 0xF8) || (a[1] & 0x7F) != (b[1] & 0x7F))
        return false;
    return std::equal(a + 2, a + aSize, b + 2);
}

}  // namespace bitstream
