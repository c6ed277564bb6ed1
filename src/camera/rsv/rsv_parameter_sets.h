#pragma once
// Parameter sets found in a Sony recovery file, each distinct unit once, and
// the decoder configurations (avcC, hvcC) rebuilt from them.

#include "qt/qt_types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rsv {

using Unit = std::vector<uint8_t>;

struct ParameterSetLists {
    std::vector<Unit> avcSps, avcPps;
    std::vector<Unit> hevcVps, hevcSps, hevcPps;

    void clear() { *this = ParameterSetLists(); }
};

// Adds the unit unless an equal one is listed; true when added.
bool addDistinct(std::vector<Unit>& list, const uint8_t* data, size_t size);

// H.264 SPS and PPS carried as side data (a 20-byte header, then the unit)
// anywhere in the payload. Logs every unit added.
void collectSideData(const uint8_t* data, size_t size, ParameterSetLists& lists);

// Parameter sets among the length-prefixed NAL units of one access unit:
// HEVC VPS, SPS and PPS, or H.264 SPS and PPS (after any side data, so
// side data leads where a recording has both).
void collectUnits(const uint8_t* data, size_t size, bool hevc, ParameterSetLists& lists);

// avcC from the first SPS (profile, compatibility, level) and the lists;
// false (config untouched) without both an SPS and a PPS.
bool buildAvcConfig(const ParameterSetLists& lists, H264Config& config);

// hvcC arrays VPS, SPS, PPS from the lists, keeping a header the record
// already has; false (config untouched) when a kind is missing.
bool buildHevcConfig(const ParameterSetLists& lists, HEVCConfig& config);

}  // namespace rsv
