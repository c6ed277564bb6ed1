#pragma once
// Syntax structures shared by the HEVC parameter sets: profile_tier_level,
// hrd_parameters, vui_parameters, st_ref_pic_set and scaling_list_data.

#include "bitstream/common/vui_parameters.h"
#include "bitstream/hevc/bitstream_reader.h"

#include <array>
#include <cstdint>
#include <vector>

namespace HEVC {

class NALUnit;

// sps/vps_max_sub_layers_minus1 is a 3-bit field whose value 7 is forbidden.
constexpr uint32_t kMaxSubLayers = 7;
// HRD cpb_cnt_minus1 is 0-31.
constexpr uint32_t kMaxCpbCount = 32;
// A short-term RPS holds at most 16 pictures on each side (MaxDpbSize).
constexpr uint32_t kMaxDpbSize = 16;
constexpr uint32_t kMaxShortTermRefPicSets = 64;
constexpr uint32_t kMaxLongTermRefPicsSps = 32;

// Records "<unit>: <name>=<value>, but must be in range (<lo>-<hi>)" in the
// unit and returns false when value is outside [lo, hi].
bool checkRange(NALUnit& unit, const char* prefix, const char* name, int64_t value, int64_t lo, int64_t hi);
// Same, and raises BitstreamError: for values the rest of the parse cannot
// go on with (loop bounds, indices, shifts).
void requireRange(NALUnit& unit, const char* prefix, const char* name, int64_t value, int64_t lo, int64_t hi);

struct ProfileTierLevel {
    uint8_t general_profile_space = 0;
    bool general_tier_flag = false;
    uint8_t general_profile_idc = 0;
    uint32_t general_profile_compatibility_flags = 0;  // flag j in bit 31 - j
    bool general_progressive_source_flag = false;
    bool general_interlaced_source_flag = false;
    bool general_non_packed_constraint_flag = false;
    bool general_frame_only_constraint_flag = false;
    uint64_t general_constraint_bits = 0;  // the 43 + 1 bits after the four flags
    uint8_t general_level_idc = 0;
    std::array<bool, kMaxSubLayers> sub_layer_profile_present_flag{};
    std::array<bool, kMaxSubLayers> sub_layer_level_present_flag{};
    std::array<uint8_t, kMaxSubLayers> sub_layer_profile_idc{};
    std::array<uint8_t, kMaxSubLayers> sub_layer_level_idc{};
};
void parseProfileTierLevel(BitstreamReader& r, ProfileTierLevel& ptl, bool profilePresentFlag,
                           uint32_t maxNumSubLayersMinus1);

struct SubLayerHrd {
    std::vector<uint32_t> bit_rate_value_minus1, cpb_size_value_minus1;
    std::vector<uint32_t> cpb_size_du_value_minus1, bit_rate_du_value_minus1;
    std::vector<bool> cbr_flag;
};

struct HrdParameters {
    bool nal_hrd_parameters_present_flag = false;
    bool vcl_hrd_parameters_present_flag = false;
    bool sub_pic_hrd_params_present_flag = false;
    uint8_t tick_divisor_minus2 = 0;
    uint8_t du_cpb_removal_delay_increment_length_minus1 = 0;
    bool sub_pic_cpb_params_in_pic_timing_sei_flag = false;
    uint8_t dpb_output_delay_du_length_minus1 = 0;
    uint8_t bit_rate_scale = 0, cpb_size_scale = 0, cpb_size_du_scale = 0;
    uint8_t initial_cpb_removal_delay_length_minus1 = 23;
    uint8_t au_cpb_removal_delay_length_minus1 = 23;
    uint8_t dpb_output_delay_length_minus1 = 23;
    std::array<bool, kMaxSubLayers> fixed_pic_rate_general_flag{};
    std::array<bool, kMaxSubLayers> fixed_pic_rate_within_cvs_flag{};
    std::array<uint32_t, kMaxSubLayers> elemental_duration_in_tc_minus1{};
    std::array<bool, kMaxSubLayers> low_delay_hrd_flag{};
    std::array<uint32_t, kMaxSubLayers> cpb_cnt_minus1{};
    std::array<SubLayerHrd, kMaxSubLayers> nal_sub_layer, vcl_sub_layer;
};
void parseHrdParameters(BitstreamReader& r, NALUnit& unit, HrdParameters& hrd, bool commonInfPresentFlag,
                        uint32_t maxNumSubLayersMinus1);

// vui_parameters(sps_max_sub_layers_minus1); its hrd_parameters() go to hrd.
void parseVuiParameters(BitstreamReader& r, NALUnit& unit, bitstream::VuiParameters& vui, HrdParameters& hrd,
                        uint32_t sps_max_sub_layers_minus1);

// One short-term reference picture set with the picture lists derived from it.
struct ShortTermRefPicSet {
    bool inter_ref_pic_set_prediction_flag = false;
    uint32_t delta_idx_minus1 = 0;
    bool delta_rps_sign = false;
    uint32_t abs_delta_rps_minus1 = 0;
    uint32_t num_negative_pics = 0, num_positive_pics = 0;
    // Derived.
    uint32_t NumNegativePics = 0, NumPositivePics = 0;
    std::array<int32_t, kMaxDpbSize> DeltaPocS0{}, DeltaPocS1{};
    std::array<bool, kMaxDpbSize> UsedByCurrPicS0{}, UsedByCurrPicS1{};
    uint32_t NumDeltaPocs() const { return NumNegativePics + NumPositivePics; }
    uint32_t usedByCurrCount() const;
};
// st_ref_pic_set(stRpsIdx): the sets before stRpsIdx are the SPS's, which
// inter-RPS prediction may refer to.
void parseShortTermRefPicSet(BitstreamReader& r, NALUnit& unit, const char* prefix, uint32_t stRpsIdx,
                             uint32_t num_short_term_ref_pic_sets, const std::vector<ShortTermRefPicSet>& spsSets,
                             ShortTermRefPicSet& out);

// Reads (and discards) scaling_list_data().
void skipScalingListData(BitstreamReader& r, NALUnit& unit, const char* prefix);

}  // namespace HEVC
