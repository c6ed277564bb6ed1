#pragma once
// Video usability information (vui_parameters) as H.264 and HEVC both carry
// it in the sequence parameter set. The two syntaxes share their leading
// elements and differ in the middle, so one record holds the union, named as
// the standards name them; where both name the same element differently, the
// H.264 name is used. The hrd_parameters() contents differ between the two
// and stay with each codec's sequence parameter set.

#include <cstdint>

namespace bitstream {

struct VuiParameters {
    bool aspect_ratio_info_present_flag = false;
    uint8_t aspect_ratio_idc = 0;
    uint16_t sar_width = 0, sar_height = 0;
    bool overscan_info_present_flag = false, overscan_appropriate_flag = false;
    bool video_signal_type_present_flag = false;
    uint8_t video_format = 5;
    bool video_full_range_flag = false;
    bool colour_description_present_flag = false;
    uint8_t colour_primaries = 2, transfer_characteristics = 2;
    uint8_t matrix_coefficients = 2;  // HEVC: matrix_coeffs
    bool chroma_loc_info_present_flag = false;
    uint32_t chroma_sample_loc_type_top_field = 0, chroma_sample_loc_type_bottom_field = 0;

    // HEVC only.
    bool neutral_chroma_indication_flag = false, field_seq_flag = false, frame_field_info_present_flag = false;
    bool default_display_window_flag = false;
    uint32_t def_disp_win_left_offset = 0, def_disp_win_right_offset = 0;
    uint32_t def_disp_win_top_offset = 0, def_disp_win_bottom_offset = 0;

    // HEVC: vui_timing_info_present_flag, vui_num_units_in_tick, vui_time_scale.
    bool timing_info_present_flag = false;
    uint32_t num_units_in_tick = 0, time_scale = 0;
    bool fixed_frame_rate_flag = false;  // H.264 only
    // HEVC only.
    bool vui_poc_proportional_to_timing_flag = false;
    uint32_t vui_num_ticks_poc_diff_one_minus1 = 0;
    bool vui_hrd_parameters_present_flag = false;

    // H.264 only (HEVC has its NAL and VCL flags inside hrd_parameters()).
    bool nal_hrd_parameters_present_flag = false, vcl_hrd_parameters_present_flag = false;
    bool low_delay_hrd_flag = false;
    bool pic_struct_present_flag = false;

    bool bitstream_restriction_flag = false;
    bool tiles_fixed_structure_flag = false;  // HEVC only
    bool motion_vectors_over_pic_boundaries_flag = false;
    bool restricted_ref_pic_lists_flag = false;  // HEVC only
    uint32_t min_spatial_segmentation_idc = 0;   // HEVC only
    uint32_t max_bytes_per_pic_denom = 0;
    uint32_t max_bits_per_mb_denom = 0;      // H.264 only
    uint32_t max_bits_per_min_cu_denom = 0;  // HEVC only
    uint32_t log2_max_mv_length_horizontal = 0, log2_max_mv_length_vertical = 0;
    uint32_t max_num_reorder_frames = 0, max_dec_frame_buffering = 0;  // H.264 only
};

}  // namespace bitstream
