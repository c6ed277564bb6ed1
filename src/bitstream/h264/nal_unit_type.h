#pragma once
// H.264 nal_unit_type values the program names.

#include <cstdint>

namespace H264 {

enum NalUnitType : uint8_t {
    UNSPECIFIED = 0,
    CODED_SLICE_NON_IDR = 1,
    CODED_SLICE_DATA_PARTITION_A = 2,
    CODED_SLICE_DATA_PARTITION_B = 3,
    CODED_SLICE_DATA_PARTITION_C = 4,
    CODED_SLICE_IDR = 5,
    SEI = 6,
    SPS = 7,
    PPS = 8,
    AUD = 9,
    END_OF_SEQUENCE = 10,
    END_OF_STREAM = 11,
    FILLER = 12,
    SPS_EXT = 13,
    CODED_SLICE_AUX = 19,
};

// nal_unit_type from the one-byte NAL header.
inline uint8_t nalType(uint8_t header) { return header & 0x1F; }
inline bool isSlice(uint8_t type) { return type >= CODED_SLICE_NON_IDR && type <= CODED_SLICE_IDR; }

}  // namespace H264
