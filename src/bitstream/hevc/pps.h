#pragma once
// HEVC picture parameter set (pic_parameter_set_rbsp) with its range and
// screen-content extensions.

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/ps_common.h"

#include <vector>

namespace HEVC {

struct ParameterSets;

constexpr uint32_t kMaxPpsId = 63;
constexpr uint32_t kMaxRefIdxActiveMinus1 = 14;
// Level 6.2 allows 20 tile columns and 22 rows; more is damage.
constexpr uint32_t kMaxTileColumns = 20;
constexpr uint32_t kMaxTileRows = 22;

class PPS : public NALUnit {
public:
    PPS() : NALUnit(34) {}

    uint32_t pps_pic_parameter_set_id = 0;
    uint32_t pps_seq_parameter_set_id = 0;
    bool dependent_slice_segments_enabled_flag = false;
    bool output_flag_present_flag = false;
    uint8_t num_extra_slice_header_bits = 0;
    bool sign_data_hiding_enabled_flag = false;
    bool cabac_init_present_flag = false;
    uint32_t num_ref_idx_l0_default_active_minus1 = 0, num_ref_idx_l1_default_active_minus1 = 0;
    int32_t init_qp_minus26 = 0;
    bool constrained_intra_pred_flag = false, transform_skip_enabled_flag = false;
    bool cu_qp_delta_enabled_flag = false;
    uint32_t diff_cu_qp_delta_depth = 0;
    int32_t pps_cb_qp_offset = 0, pps_cr_qp_offset = 0;
    bool pps_slice_chroma_qp_offsets_present_flag = false;
    bool weighted_pred_flag = false, weighted_bipred_flag = false;
    bool transquant_bypass_enabled_flag = false;
    bool tiles_enabled_flag = false, entropy_coding_sync_enabled_flag = false;
    uint32_t num_tile_columns_minus1 = 0, num_tile_rows_minus1 = 0;
    bool uniform_spacing_flag = true;
    std::vector<uint32_t> column_width_minus1, row_height_minus1;
    bool loop_filter_across_tiles_enabled_flag = true;
    bool pps_loop_filter_across_slices_enabled_flag = false;
    bool deblocking_filter_control_present_flag = false;
    bool deblocking_filter_override_enabled_flag = false;
    bool pps_deblocking_filter_disabled_flag = false;
    int32_t pps_beta_offset_div2 = 0, pps_tc_offset_div2 = 0;
    bool pps_scaling_list_data_present_flag = false;
    bool lists_modification_present_flag = false;
    uint32_t log2_parallel_merge_level_minus2 = 0;
    bool slice_segment_header_extension_present_flag = false;
    bool pps_extension_present_flag = false;
    bool pps_range_extension_flag = false, pps_multilayer_extension_flag = false;
    bool pps_3d_extension_flag = false, pps_scc_extension_flag = false;
    uint8_t pps_extension_4bits = 0;
    // pps_range_extension
    uint32_t log2_max_transform_skip_block_size_minus2 = 0;
    bool cross_component_prediction_enabled_flag = false;
    bool chroma_qp_offset_list_enabled_flag = false;
    uint32_t diff_cu_chroma_qp_offset_depth = 0, chroma_qp_offset_list_len_minus1 = 0;
    uint32_t log2_sao_offset_scale_luma = 0, log2_sao_offset_scale_chroma = 0;
    // pps_scc_extension
    bool pps_curr_pic_ref_enabled_flag = false;
    bool residual_adaptive_colour_transform_enabled_flag = false;
    bool pps_slice_act_qp_offsets_present_flag = false;

    void parse(BitstreamReader& r, ParameterSets& maps);
};

}  // namespace HEVC
