#pragma once
// HEVC sequence parameter set (seq_parameter_set_rbsp for nuh_layer_id 0),
// with its range and screen-content extensions and the derived picture
// geometry the slice header needs.

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/ps_common.h"

#include <vector>

namespace HEVC {

struct ParameterSets;

constexpr uint32_t kMaxSpsId = 15;
constexpr uint32_t kMaxBitDepthMinus8 = 8;
constexpr uint32_t kMaxLog2MaxPocLsbMinus4 = 12;
// Level 6.2 allows 8444 luma samples per side; anything far beyond is damage,
// and the cap keeps the CTB products inside 32 bits.
constexpr uint32_t kMaxPictureDimension = 65536;

class SPS : public NALUnit {
public:
    SPS() : NALUnit(33) {}

    uint8_t sps_video_parameter_set_id = 0;
    uint8_t sps_max_sub_layers_minus1 = 0;
    bool sps_temporal_id_nesting_flag = false;
    ProfileTierLevel profile_tier_level;
    uint32_t sps_seq_parameter_set_id = 0;
    uint32_t chroma_format_idc = 0;
    bool separate_colour_plane_flag = false;
    uint32_t pic_width_in_luma_samples = 0, pic_height_in_luma_samples = 0;
    bool conformance_window_flag = false;
    uint32_t conf_win_left_offset = 0, conf_win_right_offset = 0, conf_win_top_offset = 0,
             conf_win_bottom_offset = 0;
    uint32_t bit_depth_luma_minus8 = 0, bit_depth_chroma_minus8 = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    bool sps_sub_layer_ordering_info_present_flag = false;
    std::array<uint32_t, kMaxSubLayers> sps_max_dec_pic_buffering_minus1{}, sps_max_num_reorder_pics{},
        sps_max_latency_increase_plus1{};
    uint32_t log2_min_luma_coding_block_size_minus3 = 0, log2_diff_max_min_luma_coding_block_size = 0;
    uint32_t log2_min_luma_transform_block_size_minus2 = 0, log2_diff_max_min_luma_transform_block_size = 0;
    uint32_t max_transform_hierarchy_depth_inter = 0, max_transform_hierarchy_depth_intra = 0;
    bool scaling_list_enabled_flag = false, sps_scaling_list_data_present_flag = false;
    bool amp_enabled_flag = false, sample_adaptive_offset_enabled_flag = false;
    bool pcm_enabled_flag = false;
    uint8_t pcm_sample_bit_depth_luma_minus1 = 0, pcm_sample_bit_depth_chroma_minus1 = 0;
    uint32_t log2_min_pcm_luma_coding_block_size_minus3 = 0, log2_diff_max_min_pcm_luma_coding_block_size = 0;
    bool pcm_loop_filter_disabled_flag = false;
    uint32_t num_short_term_ref_pic_sets = 0;
    std::vector<ShortTermRefPicSet> short_term_ref_pic_set;
    bool long_term_ref_pics_present_flag = false;
    uint32_t num_long_term_ref_pics_sps = 0;
    std::vector<uint32_t> lt_ref_pic_poc_lsb_sps;
    std::vector<bool> used_by_curr_pic_lt_sps_flag;
    bool sps_temporal_mvp_enabled_flag = false, strong_intra_smoothing_enabled_flag = false;
    bool vui_parameters_present_flag = false;
    bitstream::VuiParameters vui;
    // The VUI's hrd_parameters(), present when vui.vui_hrd_parameters_present_flag is set.
    HrdParameters hrd_parameters;
    bool sps_extension_present_flag = false;
    bool sps_range_extension_flag = false, sps_multilayer_extension_flag = false;
    bool sps_3d_extension_flag = false, sps_scc_extension_flag = false;
    uint8_t sps_extension_4bits = 0;
    // sps_range_extension
    bool transform_skip_rotation_enabled_flag = false, transform_skip_context_enabled_flag = false;
    bool implicit_rdpcm_enabled_flag = false, explicit_rdpcm_enabled_flag = false;
    bool extended_precision_processing_flag = false, intra_smoothing_disabled_flag = false;
    bool high_precision_offsets_enabled_flag = false, persistent_rice_adaptation_enabled_flag = false;
    bool cabac_bypass_alignment_enabled_flag = false;
    // sps_multilayer_extension
    bool inter_view_mv_vert_constraint_flag = false;
    // sps_scc_extension
    bool sps_curr_pic_ref_enabled_flag = false, palette_mode_enabled_flag = false;
    uint32_t palette_max_size = 0, delta_palette_max_predictor_size = 0;
    uint8_t motion_vector_resolution_control_idc = 0;
    bool intra_boundary_filtering_disabled_flag = false;

    // Derived (valid after a successful parse).
    uint32_t ChromaArrayType = 0;
    uint32_t MinCbLog2SizeY = 0, CtbLog2SizeY = 0, CtbSizeY = 0;
    uint32_t PicWidthInCtbsY = 0, PicHeightInCtbsY = 0, PicSizeInCtbsY = 0;

    uint32_t bitDepthLuma() const { return bit_depth_luma_minus8 + 8; }
    uint32_t bitDepthChroma() const { return bit_depth_chroma_minus8 + 8; }
    // Output size: the decoded size less the conformance window.
    uint32_t width() const;
    uint32_t height() const;
    // From the VUI timing, 0 when absent.
    double frameRate() const;

    // Fills this SPS from r (the payload after the NAL header).
    void parse(BitstreamReader& r, ParameterSets& maps);
};

}  // namespace HEVC
