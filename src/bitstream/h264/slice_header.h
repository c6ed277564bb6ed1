#pragma once
// The leading part of an H.264 slice header: what identifies the picture
// (type, parameter set, frame number, picture order count fields) and the
// reference counts; and a check of the rest that keeps none of it.

#include "bitstream/common/bit_reader.h"
#include "bitstream/common/parse_result.h"

#include <cstdint>
#include <string>

namespace H264 {

struct SequenceParameterSet;
struct PictureParameterSet;

// slice_type values 0-4; 5-9 say the same and that all slices of the picture share it.
enum SliceType : uint8_t { SLICE_P = 0, SLICE_B = 1, SLICE_I = 2, SLICE_SP = 3, SLICE_SI = 4 };
constexpr uint32_t kMaxSliceType = 9;

// What the slice header needs from the active SPS and PPS.
struct SliceContext {
    bool separate_colour_plane_flag = false;
    uint32_t log2_max_frame_num_minus4 = 0;
    bool frame_mbs_only_flag = true;
    uint32_t pic_order_cnt_type = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    bool delta_pic_order_always_zero_flag = false;
    bool bottom_field_pic_order_in_frame_present_flag = false;
    bool redundant_pic_cnt_present_flag = false;
    uint32_t num_ref_idx_l0_default_active_minus1 = 0, num_ref_idx_l1_default_active_minus1 = 0;
    // For the rest of the header (sliceHeaderTailHolds).
    uint32_t chroma_array_type = 1;
    bool weighted_pred_flag = false;
    uint8_t weighted_bipred_idc = 0;
    bool entropy_coding_mode_flag = false;
    int32_t pic_init_qp_minus26 = 0;
    uint32_t qp_bd_offset = 0;  // 6 * bit_depth_luma_minus8
    bool deblocking_filter_control_present_flag = false;
    uint32_t num_slice_groups_minus1 = 0;

    static SliceContext from(const SequenceParameterSet& sps, const PictureParameterSet& pps);
};

struct SliceHeader {
    uint32_t first_mb_in_slice = 0;
    uint32_t slice_type = 0;
    uint32_t pic_parameter_set_id = 0;
    uint8_t colour_plane_id = 0;
    uint32_t frame_num = 0;
    bool field_pic_flag = false, bottom_field_flag = false;
    uint32_t idr_pic_id = 0;
    uint32_t pic_order_cnt_lsb = 0;
    int32_t delta_pic_order_cnt_bottom = 0;
    int32_t delta_pic_order_cnt[2] = {0, 0};
    uint32_t redundant_pic_cnt = 0;
    bool direct_spatial_mv_pred_flag = false;
    bool num_ref_idx_active_override_flag = false;
    uint32_t num_ref_idx_l0_active_minus1 = 0, num_ref_idx_l1_active_minus1 = 0;

    // slice_type folded to 0-4 (P, B, I, SP, SI).
    uint32_t baseType() const { return slice_type % 5; }
};

// The three fields readable without parameter sets.
struct SliceHeaderStart {
    uint32_t first_mb_in_slice = 0;
    uint32_t slice_type = 0;
    uint32_t pic_parameter_set_id = 0;
};

// first_mb_in_slice, slice_type and pic_parameter_set_id of a slice NAL unit
// (header byte included), read in place with emulation prevention removed.
// False when the unit is too short or the values are out of range. Allocates
// and logs nothing, so it can run on every candidate of a scan.
bool readSliceHeaderStart(const uint8_t* nal, size_t size, SliceHeaderStart& out);

// Reads the slice header from r, positioned after the NAL header byte.
bitstream::ParseResult parseSliceHeader(bitstream::BitReader& r, uint8_t nal_unit_type, const SliceContext& ctx,
                                        SliceHeader& sh, std::string& problem);

// Does the rest of the header, from where parseSliceHeader() left `r`, keep
// the syntax's rules: reference list changes and memory management
// operations of known kinds, weights and QP in range, deblocking values in
// range, and (CABAC) the ones that pad it to a byte? Bytes of other media
// taken for a slice break one of them nearly always; a real slice never
// does. True without a judgement where slice groups would need more.
// `nal_header` is the unit's header byte.
bool sliceHeaderTailHolds(bitstream::BitReader& r, uint8_t nal_header, const SliceContext& ctx, const SliceHeader& sh);

}  // namespace H264
