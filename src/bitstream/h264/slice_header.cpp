#include "bitstream/h264/slice_header.h"

#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"

#include <cstdlib>
#include <sstream>

namespace H264 {

using bitstream::BitReader;
using bitstream::ParseResult;

SliceContext SliceContext::from(const SequenceParameterSet& sps, const PictureParameterSet& pps) {
    SliceContext c;
    c.separate_colour_plane_flag = sps.separate_colour_plane_flag;
    c.log2_max_frame_num_minus4 = sps.log2_max_frame_num_minus4;
    c.frame_mbs_only_flag = sps.frame_mbs_only_flag;
    c.pic_order_cnt_type = sps.pic_order_cnt_type;
    c.log2_max_pic_order_cnt_lsb_minus4 = sps.log2_max_pic_order_cnt_lsb_minus4;
    c.delta_pic_order_always_zero_flag = sps.delta_pic_order_always_zero_flag;
    c.bottom_field_pic_order_in_frame_present_flag = pps.bottom_field_pic_order_in_frame_present_flag;
    c.redundant_pic_cnt_present_flag = pps.redundant_pic_cnt_present_flag;
    c.num_ref_idx_l0_default_active_minus1 = pps.num_ref_idx_l0_default_active_minus1;
    c.num_ref_idx_l1_default_active_minus1 = pps.num_ref_idx_l1_default_active_minus1;
    c.chroma_array_type = sps.chromaArrayType();
    c.weighted_pred_flag = pps.weighted_pred_flag;
    c.weighted_bipred_idc = pps.weighted_bipred_idc;
    c.entropy_coding_mode_flag = pps.entropy_coding_mode_flag;
    c.pic_init_qp_minus26 = pps.pic_init_qp_minus26;
    c.qp_bd_offset = 6 * sps.bit_depth_luma_minus8;
    c.deblocking_filter_control_present_flag = pps.deblocking_filter_control_present_flag;
    c.num_slice_groups_minus1 = pps.num_slice_groups_minus1;
    return c;
}

bool readSliceHeaderStart(const uint8_t* nal, size_t size, SliceHeaderStart& out) {
    if (!nal || size < 2)
        return false;
    BitReader r(nal + 1, size - 1, bitstream::Emulation::Drop);
    out.first_mb_in_slice = r.readUE();
    out.slice_type = r.readUE();
    out.pic_parameter_set_id = r.readUE();
    return r.ok() && out.slice_type <= kMaxSliceType && out.pic_parameter_set_id <= kMaxPpsId;
}

ParseResult parseSliceHeader(BitReader& r, uint8_t nal_unit_type, const SliceContext& c, SliceHeader& sh,
                             std::string& problem) {
    problem.clear();
    auto range = [&](const char* name, int64_t value, int64_t lo, int64_t hi) {
        std::ostringstream s;
        s << name << "=" << value << ", but must be in range (" << lo << "-" << hi << ")";
        problem = s.str();
        return ParseResult::Malformed;
    };
    sh.first_mb_in_slice = r.readUE();
    sh.slice_type = r.readUE();
    if (sh.slice_type > kMaxSliceType)
        return range("slice_type", sh.slice_type, 0, kMaxSliceType);
    sh.pic_parameter_set_id = r.readUE();
    if (sh.pic_parameter_set_id > kMaxPpsId)
        return range("pic_parameter_set_id", sh.pic_parameter_set_id, 0, kMaxPpsId);
    if (c.separate_colour_plane_flag)
        sh.colour_plane_id = static_cast<uint8_t>(r.readBits(2));
    // The context values come from checked parameter sets, but a caller may
    // fill one by hand: over-long widths mark the reader invalid, not UB.
    sh.frame_num = r.readBits(c.log2_max_frame_num_minus4 + 4);
    sh.field_pic_flag = sh.bottom_field_flag = false;
    sh.delta_pic_order_cnt_bottom = sh.delta_pic_order_cnt[0] = sh.delta_pic_order_cnt[1] = 0;
    if (!c.frame_mbs_only_flag) {
        sh.field_pic_flag = r.readFlag();
        if (sh.field_pic_flag)
            sh.bottom_field_flag = r.readFlag();
    }
    if (nal_unit_type == CODED_SLICE_IDR)
        sh.idr_pic_id = r.readUE();
    if (c.pic_order_cnt_type == 0) {
        sh.pic_order_cnt_lsb = r.readBits(c.log2_max_pic_order_cnt_lsb_minus4 + 4);
        if (c.bottom_field_pic_order_in_frame_present_flag && !sh.field_pic_flag)
            sh.delta_pic_order_cnt_bottom = r.readSE();
    }
    if (c.pic_order_cnt_type == 1 && !c.delta_pic_order_always_zero_flag) {
        sh.delta_pic_order_cnt[0] = r.readSE();
        if (c.bottom_field_pic_order_in_frame_present_flag && !sh.field_pic_flag)
            sh.delta_pic_order_cnt[1] = r.readSE();
    }
    if (c.redundant_pic_cnt_present_flag)
        sh.redundant_pic_cnt = r.readUE();
    const uint32_t type = sh.baseType();
    if (type == SLICE_B)
        sh.direct_spatial_mv_pred_flag = r.readFlag();
    sh.num_ref_idx_l0_active_minus1 = c.num_ref_idx_l0_default_active_minus1;
    sh.num_ref_idx_l1_active_minus1 = c.num_ref_idx_l1_default_active_minus1;
    if (type == SLICE_P || type == SLICE_SP || type == SLICE_B) {
        sh.num_ref_idx_active_override_flag = r.readFlag();
        if (sh.num_ref_idx_active_override_flag) {
            sh.num_ref_idx_l0_active_minus1 = r.readUE();
            if (sh.num_ref_idx_l0_active_minus1 > kMaxRefIdxMinus1)
                return range("num_ref_idx_l0_active_minus1", sh.num_ref_idx_l0_active_minus1, 0, kMaxRefIdxMinus1);
            if (type == SLICE_B) {
                sh.num_ref_idx_l1_active_minus1 = r.readUE();
                if (sh.num_ref_idx_l1_active_minus1 > kMaxRefIdxMinus1)
                    return range("num_ref_idx_l1_active_minus1", sh.num_ref_idx_l1_active_minus1, 0,
                                 kMaxRefIdxMinus1);
            }
        }
    }
    if (!r.ok()) {
        problem = r.overRead() ? "slice_header: out of data" : "slice_header: invalid field";
        return ParseResult::Malformed;
    }
    return ParseResult::Ok;
}

namespace {

// Reads a run of list or marking operations ended by `stop`; false when one
// is beyond `maxOp` or the run never ends within `maxOps`.
template <class Arguments>
bool operationsHold(BitReader& r, uint32_t stop, uint32_t maxOp, Arguments&& arguments) {
    constexpr int kMaxOps = 64;
    for (int i = 0; i < kMaxOps && r.ok(); ++i) {
        const uint32_t op = r.readUE();
        if (op == stop)
            return true;
        if (op > maxOp)
            return false;
        arguments(op);
    }
    return false;
}

bool weightsHold(BitReader& r, uint32_t refs, uint32_t chromaArrayType) {
    constexpr int32_t kMaxWeight = 127, kMinWeight = -128;
    auto pair = [&] {
        const int32_t weight = r.readSE(), offset = r.readSE();
        return weight >= kMinWeight && weight <= kMaxWeight && offset >= kMinWeight && offset <= kMaxWeight;
    };
    for (uint32_t i = 0; i <= refs && r.ok(); ++i) {
        if (r.readFlag() && !pair())
            return false;
        if (chromaArrayType != 0 && r.readFlag() && !(pair() && pair()))
            return false;
    }
    return r.ok();
}

}  // namespace

bool sliceHeaderTailHolds(BitReader& r, uint8_t nal_header, const SliceContext& c, const SliceHeader& sh) {
    constexpr uint32_t kMaxDenominator = 7, kMaxCabacInit = 2, kMaxDeblockingIdc = 2;
    constexpr int32_t kMaxFilterOffset = 6, kMaxQp = 51;
    if (c.num_slice_groups_minus1 > 0)
        return true;
    const uint32_t type = sh.baseType();
    const bool idr = (nal_header & 0x1F) == CODED_SLICE_IDR;
    // ref_pic_list_modification: abs_diff_pic_num (0, 1), long_term_pic_num (2), end (3).
    auto listArgument = [&](uint32_t) { r.readUE(); };
    if (type != SLICE_I && type != SLICE_SI && r.readFlag() && !operationsHold(r, 3, 2, listArgument))
        return false;
    if (type == SLICE_B && r.readFlag() && !operationsHold(r, 3, 2, listArgument))
        return false;
    if ((c.weighted_pred_flag && (type == SLICE_P || type == SLICE_SP)) ||
        (c.weighted_bipred_idc == 1 && type == SLICE_B)) {
        if (r.readUE() > kMaxDenominator)
            return false;
        if (c.chroma_array_type != 0 && r.readUE() > kMaxDenominator)
            return false;
        if (!weightsHold(r, sh.num_ref_idx_l0_active_minus1, c.chroma_array_type))
            return false;
        if (type == SLICE_B && !weightsHold(r, sh.num_ref_idx_l1_active_minus1, c.chroma_array_type))
            return false;
    }
    if ((nal_header & 0x60) != 0) {  // dec_ref_pic_marking
        if (idr) {
            r.skipBits(2);
        } else if (r.readFlag()) {
            // Operation 5 carries no argument, 3 two, the others one; 0 ends.
            auto markingArguments = [&](uint32_t op) {
                if (op != 5)
                    r.readUE();
                if (op == 3)
                    r.readUE();
            };
            if (!operationsHold(r, 0, 6, markingArguments))
                return false;
        }
    }
    if (c.entropy_coding_mode_flag && type != SLICE_I && type != SLICE_SI && r.readUE() > kMaxCabacInit)
        return false;
    const int32_t qp = 26 + c.pic_init_qp_minus26 + r.readSE();
    if (qp < -int32_t(c.qp_bd_offset) || qp > kMaxQp)
        return false;
    if (type == SLICE_SP || type == SLICE_SI) {
        if (type == SLICE_SP)
            r.skipBits(1);
        const int32_t qs = 26 + c.pic_init_qp_minus26 + r.readSE();
        if (qs < 0 || qs > kMaxQp)
            return false;
    }
    if (c.deblocking_filter_control_present_flag) {
        const uint32_t idc = r.readUE();
        if (idc > kMaxDeblockingIdc)
            return false;
        if (idc != 1) {
            const int32_t alpha = r.readSE(), beta = r.readSE();
            if (std::abs(alpha) > kMaxFilterOffset || std::abs(beta) > kMaxFilterOffset)
                return false;
        }
    }
    // CABAC slice data starts on a byte, reached with one bits.
    if (c.entropy_coding_mode_flag)
        while (r.ok() && !r.byteAligned())
            if (!r.readFlag())
                return false;
    return r.ok();
}

}  // namespace H264
