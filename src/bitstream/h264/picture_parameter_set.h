#pragma once
// H.264 picture parameter set (pic_parameter_set_rbsp), read from the RBSP
// after the one-byte NAL header.

#include "bitstream/common/bit_reader.h"
#include "bitstream/common/parse_result.h"

#include <cstdint>
#include <string>

namespace H264 {

struct SequenceParameterSet;

constexpr uint32_t kMaxSliceGroupsMinus1 = 7;
constexpr uint32_t kMaxRefIdxMinus1 = 31;

struct PictureParameterSet {
    uint32_t pic_parameter_set_id = 0;
    uint32_t seq_parameter_set_id = 0;
    bool entropy_coding_mode_flag = false;
    bool bottom_field_pic_order_in_frame_present_flag = false;
    uint32_t num_slice_groups_minus1 = 0;
    uint32_t slice_group_map_type = 0;
    uint32_t num_ref_idx_l0_default_active_minus1 = 0, num_ref_idx_l1_default_active_minus1 = 0;
    bool weighted_pred_flag = false;
    uint8_t weighted_bipred_idc = 0;
    int32_t pic_init_qp_minus26 = 0, pic_init_qs_minus26 = 0, chroma_qp_index_offset = 0;
    bool deblocking_filter_control_present_flag = false;
    bool constrained_intra_pred_flag = false;
    bool redundant_pic_cnt_present_flag = false;
    bool transform_8x8_mode_flag = false;
    bool pic_scaling_matrix_present_flag = false;
    int32_t second_chroma_qp_index_offset = 0;
};

// Reads the PPS from r (after the NAL header). The SPS it names is needed only
// for the optional tail (scaling lists of 4:4:4 streams); without it the tail
// is read as for 4:2:0.
bitstream::ParseResult parsePictureParameterSet(bitstream::BitReader& r, PictureParameterSet& pps,
                                                std::string& problem, const SequenceParameterSet* sps = nullptr);
bitstream::ParseResult parsePictureParameterSet(const uint8_t* nal, size_t size, PictureParameterSet& pps,
                                                std::string& problem, const SequenceParameterSet* sps = nullptr);

}  // namespace H264
