#include "bitstream/hevc/nal_unit_type.h"

namespace HEVC {

bool readNalHeader(const uint8_t* nal, size_t size, NalHeader& h) {
    if (!nal || size < 2)
        return false;
    h.forbidden_zero_bit = nal[0] >> 7;
    h.nal_unit_type = (nal[0] >> 1) & 0x3F;
    h.nuh_layer_id = static_cast<uint8_t>(((nal[0] & 1) << 5) | (nal[1] >> 3));
    h.nuh_temporal_id_plus1 = nal[1] & 7;
    return true;
}

std::string HevcNalTypeName(unsigned type) {
    static const char* const names[41] = {
        "NAL_TRAIL_N", "NAL_TRAIL_R", "NAL_TSA_N", "NAL_TSA_R", "NAL_STSA_N", "NAL_STSA_R",
        "NAL_RADL_N", "NAL_RADL_R", "NAL_RASL_N", "NAL_RASL_R", nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, "NAL_BLA_W_LP", "NAL_BLA_W_RADL", "NAL_BLA_N_LP", "NAL_IDR_W_RADL", "NAL_IDR_N_LP",
        "NAL_CRA_NUT", nullptr, "NAL_IRAP_VCL23", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, "NAL_VPS", "NAL_SPS", "NAL_PPS", "NAL_AUD", "NAL_EOS_NUT", "NAL_EOB_NUT",
        "NAL_FD_NUT", "NAL_SEI_PREFIX", "NAL_SEI_SUFFIX"};
    if (type < 41 && names[type])
        return names[type];
    if (type >= 48)
        return "Unspecified(" + std::to_string(type) + ")";
    return "Reserved(" + std::to_string(type) + ")";
}

}  // namespace HEVC
