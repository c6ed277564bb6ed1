#pragma once
// HEVC slice segment header, parsed against the PPS it names and that PPS's SPS.

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/ps_common.h"

#include <limits>
#include <vector>

namespace HEVC {

struct ParameterSets;

enum SliceType : uint32_t { SLICE_B = 0, SLICE_P = 1, SLICE_I = 2 };
// slice_type of a slice whose header ended before the field (unknown PPS or
// SPS, or a dependent slice segment, which inherits it).
constexpr uint32_t kSliceTypeUnknown = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kMaxSliceSegmentHeaderExtension = 256;

class Slice : public NALUnit {
public:
    explicit Slice(uint8_t type) : NALUnit(type) {}

    bool first_slice_segment_in_pic_flag = false;
    bool no_output_of_prior_pics_flag = false;
    uint32_t slice_pic_parameter_set_id = 0;
    bool dependent_slice_segment_flag = false;
    uint32_t slice_segment_address = 0;
    uint32_t slice_type = kSliceTypeUnknown;
    bool pic_output_flag = true;
    uint8_t colour_plane_id = 0;
    uint32_t slice_pic_order_cnt_lsb = 0;
    bool short_term_ref_pic_set_sps_flag = false;
    ShortTermRefPicSet short_term_ref_pic_set;  // when coded in the slice header
    uint32_t short_term_ref_pic_set_idx = 0;
    uint32_t num_long_term_sps = 0, num_long_term_pics = 0;
    std::vector<uint32_t> lt_idx_sps, poc_lsb_lt, delta_poc_msb_cycle_lt;
    std::vector<bool> used_by_curr_pic_lt_flag, delta_poc_msb_present_flag;
    bool slice_temporal_mvp_enabled_flag = false;
    bool slice_sao_luma_flag = false, slice_sao_chroma_flag = false;
    bool num_ref_idx_active_override_flag = false;
    uint32_t num_ref_idx_l0_active_minus1 = 0, num_ref_idx_l1_active_minus1 = 0;
    bool ref_pic_list_modification_flag_l0 = false, ref_pic_list_modification_flag_l1 = false;
    std::vector<uint32_t> list_entry_l0, list_entry_l1;
    bool mvd_l1_zero_flag = false, cabac_init_flag = false;
    bool collocated_from_l0_flag = true;
    uint32_t collocated_ref_idx = 0;
    uint32_t luma_log2_weight_denom = 0;
    int32_t delta_chroma_log2_weight_denom = 0;
    uint32_t five_minus_max_num_merge_cand = 0;
    bool use_integer_mv_flag = false;
    int32_t slice_qp_delta = 0;
    int32_t slice_cb_qp_offset = 0, slice_cr_qp_offset = 0;
    int32_t slice_act_y_qp_offset = 0, slice_act_cb_qp_offset = 0, slice_act_cr_qp_offset = 0;
    bool cu_chroma_qp_offset_enabled_flag = false;
    bool deblocking_filter_override_flag = false;
    bool slice_deblocking_filter_disabled_flag = false;
    int32_t slice_beta_offset_div2 = 0, slice_tc_offset_div2 = 0;
    bool slice_loop_filter_across_slices_enabled_flag = false;
    uint32_t num_entry_point_offsets = 0;
    uint32_t offset_len_minus1 = 0;
    std::vector<uint32_t> entry_point_offset_minus1;
    uint32_t slice_segment_header_extension_length = 0;

    // Derived: pictures the current picture may reference (NumPicTotalCurr).
    uint32_t NumPicTotalCurr = 0;
    // The SPS id the slice was parsed against, -1 when its PPS was unknown.
    int64_t spsId = -1;

    // Reads the header; an unknown PPS or SPS is recorded and ends the parse.
    void parse(BitstreamReader& r, ParameterSets& maps);
};

}  // namespace HEVC
