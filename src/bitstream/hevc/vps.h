#pragma once
// HEVC video parameter set (video_parameter_set_rbsp, base part).

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/ps_common.h"

#include <vector>

namespace HEVC {

struct ParameterSets;

constexpr uint32_t kMaxVpsId = 15;
constexpr uint32_t kMaxLayerSets = 1024;

class VPS : public NALUnit {
public:
    VPS() : NALUnit(32) {}

    uint8_t vps_video_parameter_set_id = 0;
    bool vps_base_layer_internal_flag = false, vps_base_layer_available_flag = false;
    uint8_t vps_max_layers_minus1 = 0;
    uint8_t vps_max_sub_layers_minus1 = 0;
    bool vps_temporal_id_nesting_flag = false;
    ProfileTierLevel profile_tier_level;
    bool vps_sub_layer_ordering_info_present_flag = false;
    std::array<uint32_t, kMaxSubLayers> vps_max_dec_pic_buffering_minus1{}, vps_max_num_reorder_pics{},
        vps_max_latency_increase_plus1{};
    uint8_t vps_max_layer_id = 0;
    uint32_t vps_num_layer_sets_minus1 = 0;
    bool vps_timing_info_present_flag = false;
    uint32_t vps_num_units_in_tick = 0, vps_time_scale = 0;
    bool vps_poc_proportional_to_timing_flag = false;
    uint32_t vps_num_ticks_poc_diff_one_minus1 = 0;
    uint32_t vps_num_hrd_parameters = 0;
    std::vector<uint32_t> hrd_layer_set_idx;
    std::vector<HrdParameters> hrd_parameters;
    bool vps_extension_flag = false;

    // Fills this VPS from r and enters it into maps.
    void parse(BitstreamReader& r, ParameterSets& maps);
};

}  // namespace HEVC
