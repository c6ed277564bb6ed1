#include "bitstream/hevc/sps.h"

#include "bitstream/hevc/parameter_sets.h"

namespace HEVC {

namespace {
const char* const P = "SPS: ";

uint32_t subWidthC(const SPS& s) { return s.ChromaArrayType == 1 || s.ChromaArrayType == 2 ? 2 : 1; }
uint32_t subHeightC(const SPS& s) { return s.ChromaArrayType == 1 ? 2 : 1; }
}  // namespace

uint32_t SPS::width() const {
    return pic_width_in_luma_samples - subWidthC(*this) * (conf_win_left_offset + conf_win_right_offset);
}

uint32_t SPS::height() const {
    return pic_height_in_luma_samples - subHeightC(*this) * (conf_win_top_offset + conf_win_bottom_offset);
}

double SPS::frameRate() const {
    if (!vui_parameters_present_flag || !vui.timing_info_present_flag || vui.num_units_in_tick == 0)
        return 0.0;
    return static_cast<double>(vui.time_scale) / vui.num_units_in_tick;
}

void SPS::parse(BitstreamReader& r, ParameterSets& maps) {
    (void)maps;
    sps_video_parameter_set_id = static_cast<uint8_t>(r.getBits(4));
    sps_max_sub_layers_minus1 = static_cast<uint8_t>(r.getBits(3));
    requireRange(*this, P, "sps_max_sub_layers_minus1", sps_max_sub_layers_minus1, 0, kMaxSubLayers - 1);
    sps_temporal_id_nesting_flag = r.getFlag();
    parseProfileTierLevel(r, profile_tier_level, true, sps_max_sub_layers_minus1);
    sps_seq_parameter_set_id = r.getUe();
    requireRange(*this, P, "sps_seq_parameter_set_id", sps_seq_parameter_set_id, 0, kMaxSpsId);
    chroma_format_idc = r.getUe();
    requireRange(*this, P, "chroma_format_idc", chroma_format_idc, 0, 3);
    if (chroma_format_idc == 3)
        separate_colour_plane_flag = r.getFlag();
    ChromaArrayType = separate_colour_plane_flag ? 0 : chroma_format_idc;
    pic_width_in_luma_samples = r.getUe();
    requireRange(*this, P, "pic_width_in_luma_samples", pic_width_in_luma_samples, 1, kMaxPictureDimension);
    pic_height_in_luma_samples = r.getUe();
    requireRange(*this, P, "pic_height_in_luma_samples", pic_height_in_luma_samples, 1, kMaxPictureDimension);
    conformance_window_flag = r.getFlag();
    if (conformance_window_flag) {
        conf_win_left_offset = r.getUe();
        conf_win_right_offset = r.getUe();
        conf_win_top_offset = r.getUe();
        conf_win_bottom_offset = r.getUe();
        const uint64_t cropX = uint64_t(subWidthC(*this)) * (uint64_t(conf_win_left_offset) + conf_win_right_offset);
        const uint64_t cropY = uint64_t(subHeightC(*this)) * (uint64_t(conf_win_top_offset) + conf_win_bottom_offset);
        requireRange(*this, P, "conf_win_left_offset+conf_win_right_offset", int64_t(cropX / subWidthC(*this)), 0,
                     (pic_width_in_luma_samples - 1) / subWidthC(*this));
        requireRange(*this, P, "conf_win_top_offset+conf_win_bottom_offset", int64_t(cropY / subHeightC(*this)), 0,
                     (pic_height_in_luma_samples - 1) / subHeightC(*this));
    }
    bit_depth_luma_minus8 = r.getUe();
    requireRange(*this, P, "bit_depth_luma_minus8", bit_depth_luma_minus8, 0, kMaxBitDepthMinus8);
    bit_depth_chroma_minus8 = r.getUe();
    requireRange(*this, P, "bit_depth_chroma_minus8", bit_depth_chroma_minus8, 0, kMaxBitDepthMinus8);
    log2_max_pic_order_cnt_lsb_minus4 = r.getUe();
    requireRange(*this, P, "log2_max_pic_order_cnt_lsb_minus4", log2_max_pic_order_cnt_lsb_minus4, 0,
                 kMaxLog2MaxPocLsbMinus4);
    sps_sub_layer_ordering_info_present_flag = r.getFlag();
    for (uint32_t i = sps_sub_layer_ordering_info_present_flag ? 0 : sps_max_sub_layers_minus1;
         i <= sps_max_sub_layers_minus1; ++i) {
        sps_max_dec_pic_buffering_minus1[i] = r.getUe();
        sps_max_num_reorder_pics[i] = r.getUe();
        sps_max_latency_increase_plus1[i] = r.getUe();
    }
    log2_min_luma_coding_block_size_minus3 = r.getUe();
    requireRange(*this, P, "log2_min_luma_coding_block_size_minus3", log2_min_luma_coding_block_size_minus3, 0, 3);
    log2_diff_max_min_luma_coding_block_size = r.getUe();
    requireRange(*this, P, "log2_diff_max_min_luma_coding_block_size", log2_diff_max_min_luma_coding_block_size, 0,
                 3 - log2_min_luma_coding_block_size_minus3);
    MinCbLog2SizeY = log2_min_luma_coding_block_size_minus3 + 3;
    CtbLog2SizeY = MinCbLog2SizeY + log2_diff_max_min_luma_coding_block_size;
    CtbSizeY = 1u << CtbLog2SizeY;
    PicWidthInCtbsY = (pic_width_in_luma_samples + CtbSizeY - 1) >> CtbLog2SizeY;
    PicHeightInCtbsY = (pic_height_in_luma_samples + CtbSizeY - 1) >> CtbLog2SizeY;
    PicSizeInCtbsY = PicWidthInCtbsY * PicHeightInCtbsY;
    log2_min_luma_transform_block_size_minus2 = r.getUe();
    requireRange(*this, P, "log2_min_luma_transform_block_size_minus2", log2_min_luma_transform_block_size_minus2,
                 0, 3);
    log2_diff_max_min_luma_transform_block_size = r.getUe();
    requireRange(*this, P, "log2_diff_max_min_luma_transform_block_size",
                 log2_diff_max_min_luma_transform_block_size, 0, 3);
    max_transform_hierarchy_depth_inter = r.getUe();
    max_transform_hierarchy_depth_intra = r.getUe();
    scaling_list_enabled_flag = r.getFlag();
    if (scaling_list_enabled_flag) {
        sps_scaling_list_data_present_flag = r.getFlag();
        if (sps_scaling_list_data_present_flag)
            skipScalingListData(r, *this, P);
    }
    amp_enabled_flag = r.getFlag();
    sample_adaptive_offset_enabled_flag = r.getFlag();
    pcm_enabled_flag = r.getFlag();
    if (pcm_enabled_flag) {
        pcm_sample_bit_depth_luma_minus1 = static_cast<uint8_t>(r.getBits(4));
        pcm_sample_bit_depth_chroma_minus1 = static_cast<uint8_t>(r.getBits(4));
        log2_min_pcm_luma_coding_block_size_minus3 = r.getUe();
        log2_diff_max_min_pcm_luma_coding_block_size = r.getUe();
        pcm_loop_filter_disabled_flag = r.getFlag();
    }
    num_short_term_ref_pic_sets = r.getUe();
    requireRange(*this, P, "num_short_term_ref_pic_sets", num_short_term_ref_pic_sets, 0, kMaxShortTermRefPicSets);
    short_term_ref_pic_set.resize(num_short_term_ref_pic_sets);
    for (uint32_t i = 0; i < num_short_term_ref_pic_sets; ++i)
        parseShortTermRefPicSet(r, *this, P, i, num_short_term_ref_pic_sets, short_term_ref_pic_set,
                                short_term_ref_pic_set[i]);
    long_term_ref_pics_present_flag = r.getFlag();
    if (long_term_ref_pics_present_flag) {
        num_long_term_ref_pics_sps = r.getUe();
        requireRange(*this, P, "num_long_term_ref_pics_sps", num_long_term_ref_pics_sps, 0, kMaxLongTermRefPicsSps);
        for (uint32_t i = 0; i < num_long_term_ref_pics_sps; ++i) {
            lt_ref_pic_poc_lsb_sps.push_back(r.getBits(log2_max_pic_order_cnt_lsb_minus4 + 4));
            used_by_curr_pic_lt_sps_flag.push_back(r.getFlag());
        }
    }
    sps_temporal_mvp_enabled_flag = r.getFlag();
    strong_intra_smoothing_enabled_flag = r.getFlag();
    vui_parameters_present_flag = r.getFlag();
    if (vui_parameters_present_flag)
        parseVuiParameters(r, *this, vui, hrd_parameters, sps_max_sub_layers_minus1);
    sps_extension_present_flag = r.getFlag();
    if (sps_extension_present_flag) {
        sps_range_extension_flag = r.getFlag();
        sps_multilayer_extension_flag = r.getFlag();
        sps_3d_extension_flag = r.getFlag();
        sps_scc_extension_flag = r.getFlag();
        sps_extension_4bits = static_cast<uint8_t>(r.getBits(4));
    }
    if (sps_range_extension_flag) {
        transform_skip_rotation_enabled_flag = r.getFlag();
        transform_skip_context_enabled_flag = r.getFlag();
        implicit_rdpcm_enabled_flag = r.getFlag();
        explicit_rdpcm_enabled_flag = r.getFlag();
        extended_precision_processing_flag = r.getFlag();
        intra_smoothing_disabled_flag = r.getFlag();
        high_precision_offsets_enabled_flag = r.getFlag();
        persistent_rice_adaptation_enabled_flag = r.getFlag();
        cabac_bypass_alignment_enabled_flag = r.getFlag();
    }
    if (sps_multilayer_extension_flag)
        inter_view_mv_vert_constraint_flag = r.getFlag();
    // The 3D extension is not read; the screen-content extension behind it
    // can then not be found, and nothing after it matters to a slice header.
    if (sps_3d_extension_flag)
        return;
    if (sps_scc_extension_flag) {
        sps_curr_pic_ref_enabled_flag = r.getFlag();
        palette_mode_enabled_flag = r.getFlag();
        if (palette_mode_enabled_flag) {
            palette_max_size = r.getUe();
            delta_palette_max_predictor_size = r.getUe();
            const bool initializers_present = r.getFlag();  // sps_palette_predictor_initializers_present_flag
            if (initializers_present) {
                const uint32_t num_minus1 = r.getUe();  // sps_num_palette_predictor_initializers_minus1
                requireRange(*this, P, "sps_num_palette_predictor_initializers_minus1", num_minus1, 0, 127);
                const unsigned comps = chroma_format_idc == 0 ? 1 : 3;
                for (unsigned c = 0; c < comps; ++c)
                    for (uint32_t i = 0; i <= num_minus1; ++i)
                        r.getBits(c == 0 ? bitDepthLuma() : bitDepthChroma());
            }
        }
        motion_vector_resolution_control_idc = static_cast<uint8_t>(r.getBits(2));
        intra_boundary_filtering_disabled_flag = r.getFlag();
    }
}

}  // namespace HEVC
