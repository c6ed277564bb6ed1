#include "bitstream/h264/picture_parameter_set.h"

#include "bitstream/h264/sequence_parameter_set.h"

#include <sstream>

namespace H264 {

using bitstream::BitReader;
using bitstream::ParseResult;

namespace {

ParseResult rangeProblem(const char* name, int64_t value, int64_t lo, int64_t hi, std::string& problem) {
    std::ostringstream s;
    s << name << "=" << value << ", but must be in range (" << lo << "-" << hi << ")";
    problem = s.str();
    return ParseResult::Malformed;
}

unsigned ceilLog2(uint64_t v) {
    unsigned n = 0;
    while ((uint64_t(1) << n) < v)
        ++n;
    return n;
}

void skipScalingList(BitReader& r, unsigned size) {
    int32_t lastScale = 8, nextScale = 8;
    for (unsigned j = 0; j < size && r.ok(); ++j) {
        if (nextScale != 0) {
            const int64_t delta_scale = r.readSE();
            nextScale = static_cast<int32_t>(((lastScale + delta_scale) % 256 + 256) % 256);
        }
        if (nextScale == 0)
            break;
        lastScale = nextScale;
    }
}

}  // namespace

ParseResult parsePictureParameterSet(BitReader& r, PictureParameterSet& p, std::string& problem,
                                     const SequenceParameterSet* sps) {
    problem.clear();
    p.pic_parameter_set_id = r.readUE();
    if (p.pic_parameter_set_id > kMaxPpsId)
        return rangeProblem("pic_parameter_set_id", p.pic_parameter_set_id, 0, kMaxPpsId, problem);
    p.seq_parameter_set_id = r.readUE();
    if (p.seq_parameter_set_id > kMaxSpsId)
        return rangeProblem("seq_parameter_set_id", p.seq_parameter_set_id, 0, kMaxSpsId, problem);
    p.entropy_coding_mode_flag = r.readFlag();
    p.bottom_field_pic_order_in_frame_present_flag = r.readFlag();
    p.num_slice_groups_minus1 = r.readUE();
    if (p.num_slice_groups_minus1 > kMaxSliceGroupsMinus1)
        return rangeProblem("num_slice_groups_minus1", p.num_slice_groups_minus1, 0, kMaxSliceGroupsMinus1, problem);
    if (p.num_slice_groups_minus1 > 0) {
        p.slice_group_map_type = r.readUE();
        switch (p.slice_group_map_type) {
        case 0:
            for (uint32_t i = 0; i <= p.num_slice_groups_minus1; ++i)
                r.readUE();  // run_length_minus1[i]
            break;
        case 2:
            for (uint32_t i = 0; i < p.num_slice_groups_minus1; ++i) {
                r.readUE();  // top_left[i]
                r.readUE();  // bottom_right[i]
            }
            break;
        case 3: case 4: case 5:
            r.readFlag();  // slice_group_change_direction_flag
            r.readUE();    // slice_group_change_rate_minus1
            break;
        case 6: {
            const uint32_t pic_size_in_map_units_minus1 = r.readUE();
            const unsigned bits = ceilLog2(uint64_t(p.num_slice_groups_minus1) + 1);
            // Each id takes at least one bit, so running out of data ends the loop.
            for (uint64_t i = 0; i <= pic_size_in_map_units_minus1 && r.bitsLeft() > 0; ++i)
                r.readBits(bits);  // slice_group_id[i]
            break;
        }
        case 1:
            break;
        default:
            return rangeProblem("slice_group_map_type", p.slice_group_map_type, 0, 6, problem);
        }
    }
    p.num_ref_idx_l0_default_active_minus1 = r.readUE();
    if (p.num_ref_idx_l0_default_active_minus1 > kMaxRefIdxMinus1)
        return rangeProblem("num_ref_idx_l0_default_active_minus1", p.num_ref_idx_l0_default_active_minus1, 0,
                            kMaxRefIdxMinus1, problem);
    p.num_ref_idx_l1_default_active_minus1 = r.readUE();
    if (p.num_ref_idx_l1_default_active_minus1 > kMaxRefIdxMinus1)
        return rangeProblem("num_ref_idx_l1_default_active_minus1", p.num_ref_idx_l1_default_active_minus1, 0,
                            kMaxRefIdxMinus1, problem);
    p.weighted_pred_flag = r.readFlag();
    p.weighted_bipred_idc = static_cast<uint8_t>(r.readBits(2));
    p.pic_init_qp_minus26 = r.readSE();
    p.pic_init_qs_minus26 = r.readSE();
    p.chroma_qp_index_offset = r.readSE();
    p.deblocking_filter_control_present_flag = r.readFlag();
    p.constrained_intra_pred_flag = r.readFlag();
    p.redundant_pic_cnt_present_flag = r.readFlag();
    p.second_chroma_qp_index_offset = p.chroma_qp_index_offset;
    if (r.bitsLeft() < 0) {
        problem = "pic_parameter_set: out of data";
        return ParseResult::Malformed;
    }
    if (r.moreRbspData()) {
        p.transform_8x8_mode_flag = r.readFlag();
        p.pic_scaling_matrix_present_flag = r.readFlag();
        if (p.pic_scaling_matrix_present_flag) {
            const bool chroma444 = sps && sps->chroma_format_idc == 3;
            const unsigned lists = 6 + (p.transform_8x8_mode_flag ? (chroma444 ? 6 : 2) : 0);
            for (unsigned i = 0; i < lists; ++i)
                if (r.readFlag())  // pic_scaling_list_present_flag[i]
                    skipScalingList(r, i < 6 ? 16 : 64);
        }
        p.second_chroma_qp_index_offset = r.readSE();
    }
    if (!r.ok()) {
        problem = r.overRead() ? "pic_parameter_set: out of data" : "pic_parameter_set: invalid Exp-Golomb code";
        return ParseResult::Malformed;
    }
    return ParseResult::Ok;
}

ParseResult parsePictureParameterSet(const uint8_t* nal, size_t size, PictureParameterSet& pps, std::string& problem,
                                     const SequenceParameterSet* sps) {
    if (!nal || size < 2) {
        problem = "pic_parameter_set: out of data";
        return ParseResult::Malformed;
    }
    BitReader r(nal + 1, size - 1, bitstream::Emulation::Drop);
    return parsePictureParameterSet(r, pps, problem, sps);
}

}  // namespace H264
