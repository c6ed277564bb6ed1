#include "bitstream/hevc/pps.h"

#include "bitstream/hevc/parameter_sets.h"
#include "bitstream/hevc/sps.h"

namespace HEVC {

void PPS::parse(BitstreamReader& r, ParameterSets& maps) {
    static const char* const P = "PPS: ";
    pps_pic_parameter_set_id = r.getUe();
    requireRange(*this, P, "pps_pic_parameter_set_id", pps_pic_parameter_set_id, 0, kMaxPpsId);
    pps_seq_parameter_set_id = r.getUe();
    requireRange(*this, P, "pps_seq_parameter_set_id", pps_seq_parameter_set_id, 0, kMaxSpsId);
    dependent_slice_segments_enabled_flag = r.getFlag();
    output_flag_present_flag = r.getFlag();
    num_extra_slice_header_bits = static_cast<uint8_t>(r.getBits(3));
    sign_data_hiding_enabled_flag = r.getFlag();
    cabac_init_present_flag = r.getFlag();
    num_ref_idx_l0_default_active_minus1 = r.getUe();
    checkRange(*this, P, "num_ref_idx_l0_default_active_minus1", num_ref_idx_l0_default_active_minus1, 0,
               kMaxRefIdxActiveMinus1);
    num_ref_idx_l1_default_active_minus1 = r.getUe();
    checkRange(*this, P, "num_ref_idx_l1_default_active_minus1", num_ref_idx_l1_default_active_minus1, 0,
               kMaxRefIdxActiveMinus1);
    init_qp_minus26 = r.getSe();
    // The lower bound depends on the SPS bit depth: -(26 + QpBdOffsetY), at most 16 bits.
    checkRange(*this, P, "init_qp_minus26", init_qp_minus26, -(26 + 6 * int64_t(kMaxBitDepthMinus8)), 25);
    constrained_intra_pred_flag = r.getFlag();
    transform_skip_enabled_flag = r.getFlag();
    cu_qp_delta_enabled_flag = r.getFlag();
    if (cu_qp_delta_enabled_flag)
        diff_cu_qp_delta_depth = r.getUe();
    pps_cb_qp_offset = r.getSe();
    checkRange(*this, P, "pps_cb_qp_offset", pps_cb_qp_offset, -12, 12);
    pps_cr_qp_offset = r.getSe();
    checkRange(*this, P, "pps_cr_qp_offset", pps_cr_qp_offset, -12, 12);
    pps_slice_chroma_qp_offsets_present_flag = r.getFlag();
    weighted_pred_flag = r.getFlag();
    weighted_bipred_flag = r.getFlag();
    transquant_bypass_enabled_flag = r.getFlag();
    tiles_enabled_flag = r.getFlag();
    entropy_coding_sync_enabled_flag = r.getFlag();
    if (tiles_enabled_flag) {
        num_tile_columns_minus1 = r.getUe();
        requireRange(*this, P, "num_tile_columns_minus1", num_tile_columns_minus1, 0, kMaxTileColumns - 1);
        num_tile_rows_minus1 = r.getUe();
        requireRange(*this, P, "num_tile_rows_minus1", num_tile_rows_minus1, 0, kMaxTileRows - 1);
        uniform_spacing_flag = r.getFlag();
        if (!uniform_spacing_flag) {
            for (uint32_t i = 0; i < num_tile_columns_minus1; ++i)
                column_width_minus1.push_back(r.getUe());
            for (uint32_t i = 0; i < num_tile_rows_minus1; ++i)
                row_height_minus1.push_back(r.getUe());
        }
        loop_filter_across_tiles_enabled_flag = r.getFlag();
    }
    pps_loop_filter_across_slices_enabled_flag = r.getFlag();
    deblocking_filter_control_present_flag = r.getFlag();
    if (deblocking_filter_control_present_flag) {
        deblocking_filter_override_enabled_flag = r.getFlag();
        pps_deblocking_filter_disabled_flag = r.getFlag();
        if (!pps_deblocking_filter_disabled_flag) {
            pps_beta_offset_div2 = r.getSe();
            checkRange(*this, P, "pps_beta_offset_div2", pps_beta_offset_div2, -6, 6);
            pps_tc_offset_div2 = r.getSe();
            checkRange(*this, P, "pps_tc_offset_div2", pps_tc_offset_div2, -6, 6);
        }
    }
    pps_scaling_list_data_present_flag = r.getFlag();
    if (pps_scaling_list_data_present_flag)
        skipScalingListData(r, *this, P);
    lists_modification_present_flag = r.getFlag();
    log2_parallel_merge_level_minus2 = r.getUe();
    slice_segment_header_extension_present_flag = r.getFlag();
    pps_extension_present_flag = r.getFlag();
    if (pps_extension_present_flag) {
        pps_range_extension_flag = r.getFlag();
        pps_multilayer_extension_flag = r.getFlag();
        pps_3d_extension_flag = r.getFlag();
        pps_scc_extension_flag = r.getFlag();
        pps_extension_4bits = static_cast<uint8_t>(r.getBits(4));
    }
    if (pps_range_extension_flag) {
        if (transform_skip_enabled_flag)
            log2_max_transform_skip_block_size_minus2 = r.getUe();
        cross_component_prediction_enabled_flag = r.getFlag();
        chroma_qp_offset_list_enabled_flag = r.getFlag();
        if (chroma_qp_offset_list_enabled_flag) {
            diff_cu_chroma_qp_offset_depth = r.getUe();
            chroma_qp_offset_list_len_minus1 = r.getUe();
            requireRange(*this, P, "chroma_qp_offset_list_len_minus1", chroma_qp_offset_list_len_minus1, 0, 5);
            for (uint32_t i = 0; i <= chroma_qp_offset_list_len_minus1; ++i) {
                r.getSe();  // cb_qp_offset_list[i]
                r.getSe();  // cr_qp_offset_list[i]
            }
        }
        log2_sao_offset_scale_luma = r.getUe();
        log2_sao_offset_scale_chroma = r.getUe();
    }
    // The multilayer and 3D extensions are not read; the screen-content
    // extension behind them can then not be found.
    if (pps_multilayer_extension_flag || pps_3d_extension_flag)
        return;
    if (pps_scc_extension_flag) {
        pps_curr_pic_ref_enabled_flag = r.getFlag();
        residual_adaptive_colour_transform_enabled_flag = r.getFlag();
        if (residual_adaptive_colour_transform_enabled_flag) {
            pps_slice_act_qp_offsets_present_flag = r.getFlag();
            r.getSe();  // pps_act_y_qp_offset_plus5
            r.getSe();  // pps_act_cb_qp_offset_plus5
            r.getSe();  // pps_act_cr_qp_offset_plus3
        }
        // Palette predictor initialisers follow; nothing a slice needs.
    }
    (void)maps;
}

}  // namespace HEVC
