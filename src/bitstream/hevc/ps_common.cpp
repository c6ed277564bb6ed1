#include "bitstream/hevc/ps_common.h"

#include "bitstream/hevc/nal_unit.h"

#include <cstdio>

namespace HEVC {

bool checkRange(NALUnit& unit, const char* prefix, const char* name, int64_t value, int64_t lo, int64_t hi) {
    if (value >= lo && value <= hi)
        return true;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s%s=%lld, but must be in range (%lld-%lld)", prefix, name,
                  static_cast<long long>(value), static_cast<long long>(lo), static_cast<long long>(hi));
    unit.addProblem(buf);
    return false;
}

void requireRange(NALUnit& unit, const char* prefix, const char* name, int64_t value, int64_t lo, int64_t hi) {
    if (!checkRange(unit, prefix, name, value, lo, hi)) {
        char buf[256];
        std::snprintf(buf, sizeof buf, "%s%s=%lld, but must be in range (%lld-%lld)", prefix, name,
                      static_cast<long long>(value), static_cast<long long>(lo), static_cast<long long>(hi));
        throw BitstreamError(buf);
    }
}

void parseProfileTierLevel(BitstreamReader& r, ProfileTierLevel& p, bool profilePresentFlag,
                           uint32_t maxNumSubLayersMinus1) {
    if (profilePresentFlag) {
        p.general_profile_space = static_cast<uint8_t>(r.getBits(2));
        p.general_tier_flag = r.getFlag();
        p.general_profile_idc = static_cast<uint8_t>(r.getBits(5));
        p.general_profile_compatibility_flags = r.getBits(32);
        p.general_progressive_source_flag = r.getFlag();
        p.general_interlaced_source_flag = r.getFlag();
        p.general_non_packed_constraint_flag = r.getFlag();
        p.general_frame_only_constraint_flag = r.getFlag();
        // general_max_12bit_constraint_flag ... general_reserved_zero_43bits / general_inbld_flag
        p.general_constraint_bits = (uint64_t(r.getBits(32)) << 12) | r.getBits(12);
    }
    p.general_level_idc = static_cast<uint8_t>(r.getBits(8));
    for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
        p.sub_layer_profile_present_flag[i] = r.getFlag();
        p.sub_layer_level_present_flag[i] = r.getFlag();
    }
    if (maxNumSubLayersMinus1 > 0)
        for (uint32_t i = maxNumSubLayersMinus1; i < 8; ++i)
            r.skipBits(2);  // reserved_zero_2bits
    for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
        if (p.sub_layer_profile_present_flag[i]) {
            r.skipBits(2 + 1);  // sub_layer_profile_space, sub_layer_tier_flag
            p.sub_layer_profile_idc[i] = static_cast<uint8_t>(r.getBits(5));
            r.skipBits(32 + 4 + 43 + 1);  // compatibility flags, source flags, constraint bits
        }
        if (p.sub_layer_level_present_flag[i])
            p.sub_layer_level_idc[i] = static_cast<uint8_t>(r.getBits(8));
    }
}

static void parseSubLayerHrd(BitstreamReader& r, SubLayerHrd& s, uint32_t cpbCnt, bool subPic) {
    for (uint32_t i = 0; i < cpbCnt; ++i) {
        s.bit_rate_value_minus1.push_back(r.getUe());
        s.cpb_size_value_minus1.push_back(r.getUe());
        if (subPic) {
            s.cpb_size_du_value_minus1.push_back(r.getUe());
            s.bit_rate_du_value_minus1.push_back(r.getUe());
        }
        s.cbr_flag.push_back(r.getFlag());
    }
}

void parseHrdParameters(BitstreamReader& r, NALUnit& unit, HrdParameters& h, bool commonInfPresentFlag,
                        uint32_t maxNumSubLayersMinus1) {
    if (commonInfPresentFlag) {
        h.nal_hrd_parameters_present_flag = r.getFlag();
        h.vcl_hrd_parameters_present_flag = r.getFlag();
        if (h.nal_hrd_parameters_present_flag || h.vcl_hrd_parameters_present_flag) {
            h.sub_pic_hrd_params_present_flag = r.getFlag();
            if (h.sub_pic_hrd_params_present_flag) {
                h.tick_divisor_minus2 = static_cast<uint8_t>(r.getBits(8));
                h.du_cpb_removal_delay_increment_length_minus1 = static_cast<uint8_t>(r.getBits(5));
                h.sub_pic_cpb_params_in_pic_timing_sei_flag = r.getFlag();
                h.dpb_output_delay_du_length_minus1 = static_cast<uint8_t>(r.getBits(5));
            }
            h.bit_rate_scale = static_cast<uint8_t>(r.getBits(4));
            h.cpb_size_scale = static_cast<uint8_t>(r.getBits(4));
            if (h.sub_pic_hrd_params_present_flag)
                h.cpb_size_du_scale = static_cast<uint8_t>(r.getBits(4));
            h.initial_cpb_removal_delay_length_minus1 = static_cast<uint8_t>(r.getBits(5));
            h.au_cpb_removal_delay_length_minus1 = static_cast<uint8_t>(r.getBits(5));
            h.dpb_output_delay_length_minus1 = static_cast<uint8_t>(r.getBits(5));
        }
    }
    for (uint32_t i = 0; i <= maxNumSubLayersMinus1 && i < kMaxSubLayers; ++i) {
        h.fixed_pic_rate_general_flag[i] = r.getFlag();
        h.fixed_pic_rate_within_cvs_flag[i] = true;
        if (!h.fixed_pic_rate_general_flag[i])
            h.fixed_pic_rate_within_cvs_flag[i] = r.getFlag();
        h.low_delay_hrd_flag[i] = false;
        if (h.fixed_pic_rate_within_cvs_flag[i])
            h.elemental_duration_in_tc_minus1[i] = r.getUe();
        else
            h.low_delay_hrd_flag[i] = r.getFlag();
        h.cpb_cnt_minus1[i] = 0;
        if (!h.low_delay_hrd_flag[i]) {
            h.cpb_cnt_minus1[i] = r.getUe();
            requireRange(unit, "HRD: ", "cpb_cnt_minus1", h.cpb_cnt_minus1[i], 0, kMaxCpbCount - 1);
        }
        if (h.nal_hrd_parameters_present_flag)
            parseSubLayerHrd(r, h.nal_sub_layer[i], h.cpb_cnt_minus1[i] + 1, h.sub_pic_hrd_params_present_flag);
        if (h.vcl_hrd_parameters_present_flag)
            parseSubLayerHrd(r, h.vcl_sub_layer[i], h.cpb_cnt_minus1[i] + 1, h.sub_pic_hrd_params_present_flag);
    }
}

void parseVuiParameters(BitstreamReader& r, NALUnit& unit, bitstream::VuiParameters& v, HrdParameters& hrd,
                        uint32_t sps_max_sub_layers_minus1) {
    v.aspect_ratio_info_present_flag = r.getFlag();
    if (v.aspect_ratio_info_present_flag) {
        v.aspect_ratio_idc = static_cast<uint8_t>(r.getBits(8));
        if (v.aspect_ratio_idc == 255) {  // EXTENDED_SAR
            v.sar_width = static_cast<uint16_t>(r.getBits(16));
            v.sar_height = static_cast<uint16_t>(r.getBits(16));
        }
    }
    v.overscan_info_present_flag = r.getFlag();
    if (v.overscan_info_present_flag)
        v.overscan_appropriate_flag = r.getFlag();
    v.video_signal_type_present_flag = r.getFlag();
    if (v.video_signal_type_present_flag) {
        v.video_format = static_cast<uint8_t>(r.getBits(3));
        v.video_full_range_flag = r.getFlag();
        v.colour_description_present_flag = r.getFlag();
        if (v.colour_description_present_flag) {
            v.colour_primaries = static_cast<uint8_t>(r.getBits(8));
            v.transfer_characteristics = static_cast<uint8_t>(r.getBits(8));
            v.matrix_coefficients = static_cast<uint8_t>(r.getBits(8));
        }
    }
    v.chroma_loc_info_present_flag = r.getFlag();
    if (v.chroma_loc_info_present_flag) {
        v.chroma_sample_loc_type_top_field = r.getUe();
        v.chroma_sample_loc_type_bottom_field = r.getUe();
    }
    v.neutral_chroma_indication_flag = r.getFlag();
    v.field_seq_flag = r.getFlag();
    v.frame_field_info_present_flag = r.getFlag();
    v.default_display_window_flag = r.getFlag();
    if (v.default_display_window_flag) {
        v.def_disp_win_left_offset = r.getUe();
        v.def_disp_win_right_offset = r.getUe();
        v.def_disp_win_top_offset = r.getUe();
        v.def_disp_win_bottom_offset = r.getUe();
    }
    v.timing_info_present_flag = r.getFlag();  // vui_timing_info_present_flag
    if (v.timing_info_present_flag) {
        v.num_units_in_tick = r.getBits(32);  // vui_num_units_in_tick
        v.time_scale = r.getBits(32);         // vui_time_scale
        v.vui_poc_proportional_to_timing_flag = r.getFlag();
        if (v.vui_poc_proportional_to_timing_flag)
            v.vui_num_ticks_poc_diff_one_minus1 = r.getUe();
        v.vui_hrd_parameters_present_flag = r.getFlag();
        if (v.vui_hrd_parameters_present_flag)
            parseHrdParameters(r, unit, hrd, true, sps_max_sub_layers_minus1);
    }
    v.bitstream_restriction_flag = r.getFlag();
    if (v.bitstream_restriction_flag) {
        v.tiles_fixed_structure_flag = r.getFlag();
        v.motion_vectors_over_pic_boundaries_flag = r.getFlag();
        v.restricted_ref_pic_lists_flag = r.getFlag();
        v.min_spatial_segmentation_idc = r.getUe();
        v.max_bytes_per_pic_denom = r.getUe();
        v.max_bits_per_min_cu_denom = r.getUe();
        v.log2_max_mv_length_horizontal = r.getUe();
        v.log2_max_mv_length_vertical = r.getUe();
    }
}

uint32_t ShortTermRefPicSet::usedByCurrCount() const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < NumNegativePics && i < kMaxDpbSize; ++i)
        n += UsedByCurrPicS0[i] ? 1 : 0;
    for (uint32_t i = 0; i < NumPositivePics && i < kMaxDpbSize; ++i)
        n += UsedByCurrPicS1[i] ? 1 : 0;
    return n;
}

void parseShortTermRefPicSet(BitstreamReader& r, NALUnit& unit, const char* prefix, uint32_t stRpsIdx,
                             uint32_t num_short_term_ref_pic_sets, const std::vector<ShortTermRefPicSet>& spsSets,
                             ShortTermRefPicSet& s) {
    s = ShortTermRefPicSet();
    if (stRpsIdx != 0)
        s.inter_ref_pic_set_prediction_flag = r.getFlag();
    if (s.inter_ref_pic_set_prediction_flag) {
        if (stRpsIdx == num_short_term_ref_pic_sets) {
            s.delta_idx_minus1 = r.getUe();
            requireRange(unit, prefix, "delta_idx_minus1", s.delta_idx_minus1, 0, int64_t(stRpsIdx) - 1);
        }
        s.delta_rps_sign = r.getFlag();
        s.abs_delta_rps_minus1 = r.getUe();
        requireRange(unit, prefix, "abs_delta_rps_minus1", s.abs_delta_rps_minus1, 0, 32767);
        const uint32_t refIdx = stRpsIdx - (s.delta_idx_minus1 + 1);
        if (refIdx >= spsSets.size())
            requireRange(unit, prefix, "RefRpsIdx", refIdx, 0, int64_t(spsSets.size()) - 1);
        const ShortTermRefPicSet& ref = spsSets[refIdx];
        const int32_t deltaRps = (1 - 2 * (s.delta_rps_sign ? 1 : 0)) * int32_t(s.abs_delta_rps_minus1 + 1);
        const uint32_t numDelta = ref.NumDeltaPocs();
        std::array<bool, 2 * kMaxDpbSize + 1> used{}, useDelta{};
        for (uint32_t j = 0; j <= numDelta; ++j) {
            used[j] = r.getFlag();  // used_by_curr_pic_flag[j]
            useDelta[j] = true;
            if (!used[j])
                useDelta[j] = r.getFlag();  // use_delta_flag[j]
        }
        // Derivation of the new lists from the reference set (H.265 7.4.8).
        uint32_t i = 0;
        auto pushS0 = [&](int32_t dPoc, bool u) {
            requireRange(unit, prefix, "NumNegativePics", i + 1, 0, kMaxDpbSize);
            s.DeltaPocS0[i] = dPoc;
            s.UsedByCurrPicS0[i++] = u;
        };
        for (int32_t j = int32_t(ref.NumPositivePics) - 1; j >= 0; --j) {
            const int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
            if (dPoc < 0 && useDelta[ref.NumNegativePics + j])
                pushS0(dPoc, used[ref.NumNegativePics + j]);
        }
        if (deltaRps < 0 && useDelta[numDelta])
            pushS0(deltaRps, used[numDelta]);
        for (uint32_t j = 0; j < ref.NumNegativePics; ++j) {
            const int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
            if (dPoc < 0 && useDelta[j])
                pushS0(dPoc, used[j]);
        }
        s.NumNegativePics = i;
        i = 0;
        auto pushS1 = [&](int32_t dPoc, bool u) {
            requireRange(unit, prefix, "NumPositivePics", i + 1, 0, kMaxDpbSize);
            s.DeltaPocS1[i] = dPoc;
            s.UsedByCurrPicS1[i++] = u;
        };
        for (int32_t j = int32_t(ref.NumNegativePics) - 1; j >= 0; --j) {
            const int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
            if (dPoc > 0 && useDelta[j])
                pushS1(dPoc, used[j]);
        }
        if (deltaRps > 0 && useDelta[numDelta])
            pushS1(deltaRps, used[numDelta]);
        for (uint32_t j = 0; j < ref.NumPositivePics; ++j) {
            const int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
            if (dPoc > 0 && useDelta[ref.NumNegativePics + j])
                pushS1(dPoc, used[ref.NumNegativePics + j]);
        }
        s.NumPositivePics = i;
        return;
    }
    s.num_negative_pics = r.getUe();
    requireRange(unit, prefix, "num_negative_pics", s.num_negative_pics, 0, kMaxDpbSize);
    s.num_positive_pics = r.getUe();
    requireRange(unit, prefix, "num_positive_pics", s.num_positive_pics, 0, kMaxDpbSize);
    s.NumNegativePics = s.num_negative_pics;
    s.NumPositivePics = s.num_positive_pics;
    int64_t poc = 0;
    for (uint32_t i = 0; i < s.num_negative_pics; ++i) {
        const uint32_t delta_poc_s0_minus1 = r.getUe();
        requireRange(unit, prefix, "delta_poc_s0_minus1", delta_poc_s0_minus1, 0, 32767);
        poc -= int64_t(delta_poc_s0_minus1) + 1;
        s.DeltaPocS0[i] = static_cast<int32_t>(poc);
        s.UsedByCurrPicS0[i] = r.getFlag();
    }
    poc = 0;
    for (uint32_t i = 0; i < s.num_positive_pics; ++i) {
        const uint32_t delta_poc_s1_minus1 = r.getUe();
        requireRange(unit, prefix, "delta_poc_s1_minus1", delta_poc_s1_minus1, 0, 32767);
        poc += int64_t(delta_poc_s1_minus1) + 1;
        s.DeltaPocS1[i] = static_cast<int32_t>(poc);
        s.UsedByCurrPicS1[i] = r.getFlag();
    }
}

void skipScalingListData(BitstreamReader& r, NALUnit& unit, const char* prefix) {
    for (unsigned sizeId = 0; sizeId < 4; ++sizeId) {
        for (unsigned matrixId = 0; matrixId < 6; matrixId += (sizeId == 3) ? 3 : 1) {
            const bool scaling_list_pred_mode_flag = r.getFlag();
            if (!scaling_list_pred_mode_flag) {
                const uint32_t delta = r.getUe();  // scaling_list_pred_matrix_id_delta
                checkRange(unit, prefix, "scaling_list_pred_matrix_id_delta", delta, 0,
                           sizeId == 3 ? matrixId / 3 : matrixId);
            } else {
                const unsigned coefNum = 1u << (4 + (sizeId << 1)) < 64 ? 1u << (4 + (sizeId << 1)) : 64;
                if (sizeId > 1)
                    r.getSe();  // scaling_list_dc_coef_minus8
                for (unsigned i = 0; i < coefNum; ++i)
                    r.getSe();  // scaling_list_delta_coef
            }
        }
    }
}

}  // namespace HEVC
