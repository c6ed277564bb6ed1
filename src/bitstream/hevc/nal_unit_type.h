#pragma once
// HEVC nal_unit_type values and their names in log lines.

#include <cstdint>
#include <string>

namespace HEVC {

enum NalUnitType : uint8_t {
    NAL_TRAIL_N = 0, NAL_TRAIL_R = 1, NAL_TSA_N = 2, NAL_TSA_R = 3, NAL_STSA_N = 4, NAL_STSA_R = 5,
    NAL_RADL_N = 6, NAL_RADL_R = 7, NAL_RASL_N = 8, NAL_RASL_R = 9,
    NAL_BLA_W_LP = 16, NAL_BLA_W_RADL = 17, NAL_BLA_N_LP = 18, NAL_IDR_W_RADL = 19, NAL_IDR_N_LP = 20,
    NAL_CRA_NUT = 21, NAL_IRAP_VCL22 = 22, NAL_IRAP_VCL23 = 23,
    NAL_VPS = 32, NAL_SPS = 33, NAL_PPS = 34, NAL_AUD = 35, NAL_EOS_NUT = 36, NAL_EOB_NUT = 37,
    NAL_FD_NUT = 38, NAL_SEI_PREFIX = 39, NAL_SEI_SUFFIX = 40,
};

// The two-byte NAL unit header.
struct NalHeader {
    uint8_t forbidden_zero_bit = 0;
    uint8_t nal_unit_type = 0;
    uint8_t nuh_layer_id = 0;
    uint8_t nuh_temporal_id_plus1 = 0;
};
// False when fewer than two bytes are given.
bool readNalHeader(const uint8_t* nal, size_t size, NalHeader& h);

inline bool isSliceType(uint8_t t) { return t <= NAL_RASL_R || (t >= NAL_BLA_W_LP && t <= NAL_CRA_NUT); }
inline bool isIrap(uint8_t t) { return t >= NAL_BLA_W_LP && t <= NAL_IRAP_VCL23; }
inline bool isIdr(uint8_t t) { return t == NAL_IDR_W_RADL || t == NAL_IDR_N_LP; }

// "NAL_IDR_W_RADL", "Reserved(22)", "Unspecified(48)".
std::string HevcNalTypeName(unsigned type);

}  // namespace HEVC
