#include "bitstream/h264/nal_decoder.h"

#include "bitstream/h264/h264_bit_reader.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"
#include "log/logger.h"

#include <limits>
#include <string>

namespace H264 {

using bitstream::BitReader;
using bitstream::Emulation;
using bitstream::ParseResult;

namespace {

void decoderError(const std::string& message) {
    FLOG(LogLevel::Error) << "NALDEC : " << message;
}

constexpr uint32_t kUnread = std::numeric_limits<uint32_t>::max();

void decodeSps(NalDecoderState& st, const uint8_t* payload, size_t payloadSize) {
    uint8_t rbsp[kMaxSpsPayload];
    const size_t n = unescapeSpsPayload(payload, payloadSize, rbsp, sizeof rbsp);
    H264BitReader r(rbsp, uint64_t(n) * 8);

    // profile_idc, then constraint_set0..3_flag and four bits that this
    // decoder insists are zero before it trusts the rest.
    st.profile_idc = static_cast<uint8_t>(r.peekBits(8));
    if ((r.peekBits(16) & 0x0F) != 0) {
        decoderError("seq_param_set zero expected!");
        return;
    }

    // Parse into a record primed with the state, so fields the data never
    // reached keep their old values.
    SequenceParameterSet sps;
    sps.chroma_format_idc = st.chroma_format_idc;
    sps.separate_colour_plane_flag = st.separate_colour_plane_flag != 0;
    sps.log2_max_frame_num_minus4 = st.log2_max_frame_num_minus4;
    sps.pic_order_cnt_type = st.pic_order_cnt_type;
    sps.log2_max_pic_order_cnt_lsb_minus4 = st.log2_max_pic_order_cnt_lsb_minus4;
    sps.delta_pic_order_always_zero_flag = st.delta_pic_order_always_zero_flag != 0;
    sps.offset_for_non_ref_pic = st.offset_for_non_ref_pic;
    sps.offset_for_top_to_bottom_field = st.offset_for_top_to_bottom_field;
    sps.num_ref_frames_in_pic_order_cnt_cycle = st.num_ref_frames_in_pic_order_cnt_cycle;
    for (size_t i = 0; i < st.offset_for_ref_frame.size(); ++i)
        sps.offset_for_ref_frame[i] = st.offset_for_ref_frame[i];
    sps.frame_mbs_only_flag = st.frame_mbs_only_flag != 0;
    sps.pic_width_in_mbs_minus1 = kUnread;
    sps.pic_height_in_map_units_minus1 = kUnread;

    std::string problem;
    const ParseResult res = parseSequenceParameterSet(r, sps, problem);
    if (res != ParseResult::Ok)
        decoderError(problem);

    st.level_idc = sps.level_idc;
    st.chroma_format_idc = sps.chroma_format_idc;
    st.separate_colour_plane_flag = sps.separate_colour_plane_flag;
    st.log2_max_frame_num_minus4 = sps.log2_max_frame_num_minus4;
    st.pic_order_cnt_type = sps.pic_order_cnt_type;
    st.log2_max_pic_order_cnt_lsb_minus4 = sps.log2_max_pic_order_cnt_lsb_minus4;
    st.delta_pic_order_always_zero_flag = sps.delta_pic_order_always_zero_flag;
    st.offset_for_non_ref_pic = sps.offset_for_non_ref_pic;
    st.offset_for_top_to_bottom_field = sps.offset_for_top_to_bottom_field;
    st.num_ref_frames_in_pic_order_cnt_cycle = sps.num_ref_frames_in_pic_order_cnt_cycle;
    for (size_t i = 0; i < st.offset_for_ref_frame.size(); ++i)
        st.offset_for_ref_frame[i] = static_cast<int16_t>(sps.offset_for_ref_frame[i]);
    st.frame_mbs_only_flag = sps.frame_mbs_only_flag;
    if (sps.pic_width_in_mbs_minus1 != kUnread)
        st.width = static_cast<uint32_t>((uint64_t(sps.pic_width_in_mbs_minus1) + 1) * 16);
    if (sps.pic_height_in_map_units_minus1 != kUnread)
        st.height = static_cast<uint32_t>((2 - (sps.frame_mbs_only_flag ? 1 : 0)) *
                                          (uint64_t(sps.pic_height_in_map_units_minus1) + 1) * 16);
}

void decodePps(NalDecoderState& st, const uint8_t* payload, size_t payloadSize) {
    BitReader r(payload, payloadSize, Emulation::Drop);
    PictureParameterSet pps;
    pps.bottom_field_pic_order_in_frame_present_flag = st.bottom_field_pic_order_in_frame_present_flag != 0;
    pps.redundant_pic_cnt_present_flag = st.redundant_pic_cnt_present_flag != 0;
    std::string problem;
    if (parsePictureParameterSet(r, pps, problem) != ParseResult::Ok)
        decoderError(problem);
    st.bottom_field_pic_order_in_frame_present_flag = pps.bottom_field_pic_order_in_frame_present_flag;
    st.redundant_pic_cnt_present_flag = pps.redundant_pic_cnt_present_flag;
}

void decodeSlice(NalDecoderState& st, const uint8_t* payload, size_t payloadSize) {
    BitReader r(payload, payloadSize, Emulation::Drop);
    SliceContext c;
    c.separate_colour_plane_flag = st.separate_colour_plane_flag != 0;
    c.log2_max_frame_num_minus4 = st.log2_max_frame_num_minus4;
    c.frame_mbs_only_flag = st.frame_mbs_only_flag != 0;
    c.pic_order_cnt_type = st.pic_order_cnt_type;
    c.log2_max_pic_order_cnt_lsb_minus4 = st.log2_max_pic_order_cnt_lsb_minus4;
    c.delta_pic_order_always_zero_flag = st.delta_pic_order_always_zero_flag != 0;
    c.bottom_field_pic_order_in_frame_present_flag = st.bottom_field_pic_order_in_frame_present_flag != 0;
    c.redundant_pic_cnt_present_flag = st.redundant_pic_cnt_present_flag != 0;

    SliceHeader sh;
    sh.slice_type = st.slice_type;
    sh.frame_num = st.frame_num;
    sh.idr_pic_id = st.idr_pic_id;
    sh.pic_order_cnt_lsb = st.pic_order_cnt_lsb;
    std::string problem;
    if (parseSliceHeader(r, st.nal_unit_type, c, sh, problem) != ParseResult::Ok)
        decoderError(problem);
    st.slice_type = sh.slice_type;
    st.frame_num = sh.frame_num;
    st.field_pic_flag = sh.field_pic_flag;
    st.bottom_field_flag = sh.bottom_field_flag;
    st.idr_pic_id = sh.idr_pic_id;
    st.pic_order_cnt_lsb = sh.pic_order_cnt_lsb;
    st.delta_pic_order_cnt_bottom = sh.delta_pic_order_cnt_bottom;
    st.delta_pic_order_cnt[0] = sh.delta_pic_order_cnt[0];
    st.delta_pic_order_cnt[1] = sh.delta_pic_order_cnt[1];
}

}  // namespace

size_t unescapeSpsPayload(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstCap) {
    size_t out = 0;
    for (size_t i = 0; i < srcSize && out < dstCap; ++i) {
        if (i + 3 < srcSize && src[i] == 0 && src[i + 1] == 0 && src[i + 2] == 3) {
            dst[out++] = 0;
            if (out < dstCap)
                dst[out++] = 0;
            i += 2;  // the loop steps over the 0x03
            continue;
        }
        dst[out++] = src[i];
    }
    return out;
}

void NALDEC(NalDecoderState& st, const uint8_t* nal, size_t size) {
    if (!nal)
        size = 0;
    H264BitReader header(nal, uint64_t(size > 0 ? 1 : 0) * 8);
    if (header.readBits(1) != 0) {  // forbidden_zero_bit
        decoderError("first bit not zero!");
        return;
    }
    st.nal_ref_idc = static_cast<uint8_t>(header.readBits(2));
    st.nal_unit_type = static_cast<uint8_t>(header.readBits(5));

    const uint8_t* payload = size > 0 ? nal + 1 : nal;
    const size_t payloadSize = size > 0 ? size - 1 : 0;
    switch (st.nal_unit_type) {
    case CODED_SLICE_NON_IDR:
    case CODED_SLICE_DATA_PARTITION_A:
    case CODED_SLICE_DATA_PARTITION_B:
    case CODED_SLICE_DATA_PARTITION_C:
    case CODED_SLICE_IDR:
        decodeSlice(st, payload, payloadSize);
        break;
    case SPS:
        decodeSps(st, payload, payloadSize < kMaxSpsPayload ? payloadSize : kMaxSpsPayload);
        break;
    case PPS:
        decodePps(st, payload, payloadSize);
        break;
    case SEI:
    case AUD:
    case END_OF_SEQUENCE:
    case END_OF_STREAM:
    case SPS_EXT:
        break;
    default:
        decoderError("Unsupported NAL-type - " + std::to_string(st.nal_unit_type) + "!");
        break;
    }
}

}  // namespace H264
