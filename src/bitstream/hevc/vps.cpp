#include "bitstream/hevc/vps.h"

#include "bitstream/hevc/parameter_sets.h"
#include "bitstream/hevc/sps.h"

namespace HEVC {

std::shared_ptr<SPS> ParameterSets::activeSps() const {
    if (activeSpsId >= 0) {
        auto it = sps.find(static_cast<uint32_t>(activeSpsId));
        if (it != sps.end())
            return it->second;
    }
    return sps.empty() ? nullptr : sps.begin()->second;
}

void VPS::parse(BitstreamReader& r, ParameterSets& maps) {
    static const char* const P = "VPS: ";
    vps_video_parameter_set_id = static_cast<uint8_t>(r.getBits(4));
    vps_base_layer_internal_flag = r.getFlag();
    vps_base_layer_available_flag = r.getFlag();
    vps_max_layers_minus1 = static_cast<uint8_t>(r.getBits(6));
    vps_max_sub_layers_minus1 = static_cast<uint8_t>(r.getBits(3));
    requireRange(*this, P, "vps_max_sub_layers_minus1", vps_max_sub_layers_minus1, 0, kMaxSubLayers - 1);
    vps_temporal_id_nesting_flag = r.getFlag();
    const uint32_t reserved = r.getBits(16);  // vps_reserved_0xffff_16bits
    checkRange(*this, P, "vps_reserved_0xffff_16bits", reserved, 0xFFFF, 0xFFFF);
    parseProfileTierLevel(r, profile_tier_level, true, vps_max_sub_layers_minus1);
    vps_sub_layer_ordering_info_present_flag = r.getFlag();
    for (uint32_t i = vps_sub_layer_ordering_info_present_flag ? 0 : vps_max_sub_layers_minus1;
         i <= vps_max_sub_layers_minus1; ++i) {
        vps_max_dec_pic_buffering_minus1[i] = r.getUe();
        vps_max_num_reorder_pics[i] = r.getUe();
        vps_max_latency_increase_plus1[i] = r.getUe();
    }
    vps_max_layer_id = static_cast<uint8_t>(r.getBits(6));
    vps_num_layer_sets_minus1 = r.getUe();
    requireRange(*this, P, "vps_num_layer_sets_minus1", vps_num_layer_sets_minus1, 0, kMaxLayerSets - 1);
    for (uint32_t i = 1; i <= vps_num_layer_sets_minus1; ++i)
        r.skipBits(uint64_t(vps_max_layer_id) + 1);  // layer_id_included_flag[i][j]
    vps_timing_info_present_flag = r.getFlag();
    if (vps_timing_info_present_flag) {
        vps_num_units_in_tick = r.getBits(32);
        vps_time_scale = r.getBits(32);
        vps_poc_proportional_to_timing_flag = r.getFlag();
        if (vps_poc_proportional_to_timing_flag)
            vps_num_ticks_poc_diff_one_minus1 = r.getUe();
        vps_num_hrd_parameters = r.getUe();
        requireRange(*this, P, "vps_num_hrd_parameters", vps_num_hrd_parameters, 0,
                     int64_t(vps_num_layer_sets_minus1) + 1);
        for (uint32_t i = 0; i < vps_num_hrd_parameters; ++i) {
            hrd_layer_set_idx.push_back(r.getUe());
            const bool cprms_present_flag = i > 0 ? r.getFlag() : true;
            hrd_parameters.emplace_back();
            parseHrdParameters(r, *this, hrd_parameters.back(), cprms_present_flag, vps_max_sub_layers_minus1);
        }
    }
    vps_extension_flag = r.getFlag();
    // The extension (layers beyond the base) is not read.
    (void)maps;
}

}  // namespace HEVC
