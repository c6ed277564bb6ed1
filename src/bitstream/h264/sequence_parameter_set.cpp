#include "bitstream/h264/sequence_parameter_set.h"

#include <sstream>

namespace H264 {

using bitstream::BitReader;
using bitstream::ParseResult;

namespace {

// Range problem: "<name>=<value>, but must be in range (<lo>-<hi>)".
bool checkRange(const char* name, int64_t value, int64_t lo, int64_t hi, std::string& problem) {
    if (value >= lo && value <= hi)
        return true;
    std::ostringstream s;
    s << name << "=" << value << ", but must be in range (" << lo << "-" << hi << ")";
    problem = s.str();
    return false;
}

void skipScalingList(BitReader& r, unsigned size) {
    int32_t lastScale = 8, nextScale = 8;
    for (unsigned j = 0; j < size && r.ok(); ++j) {
        if (nextScale != 0) {
            const int64_t delta_scale = r.readSE();  // delta_scale
            nextScale = static_cast<int32_t>(((lastScale + delta_scale) % 256 + 256) % 256);
        }
        if (nextScale != 0)
            lastScale = nextScale;
        else
            break;  // the rest of the list repeats the last scale
    }
}

bool parseHrd(BitReader& r, HrdParameters& h, std::string& problem) {
    h.cpb_cnt_minus1 = r.readUE();  // cpb_cnt_minus1
    if (!checkRange("cpb_cnt_minus1", h.cpb_cnt_minus1, 0, kMaxCpbCount - 1, problem))
        return false;
    h.bit_rate_scale = static_cast<uint8_t>(r.readBits(4));  // bit_rate_scale
    h.cpb_size_scale = static_cast<uint8_t>(r.readBits(4));  // cpb_size_scale
    for (uint32_t i = 0; i <= h.cpb_cnt_minus1; ++i) {
        r.readUE();    // bit_rate_value_minus1
        r.readUE();    // cpb_size_value_minus1
        r.readFlag();  // cbr_flag
    }
    h.initial_cpb_removal_delay_length_minus1 = static_cast<uint8_t>(r.readBits(5));
    h.cpb_removal_delay_length_minus1 = static_cast<uint8_t>(r.readBits(5));
    h.dpb_output_delay_length_minus1 = static_cast<uint8_t>(r.readBits(5));
    h.time_offset_length = static_cast<uint8_t>(r.readBits(5));
    return true;
}

bool parseVui(BitReader& r, bitstream::VuiParameters& v, HrdParameters& nal_hrd, HrdParameters& vcl_hrd,
              std::string& problem) {
    v.aspect_ratio_info_present_flag = r.readFlag();
    if (v.aspect_ratio_info_present_flag) {
        v.aspect_ratio_idc = static_cast<uint8_t>(r.readBits(8));
        if (v.aspect_ratio_idc == 255) {  // Extended_SAR
            v.sar_width = static_cast<uint16_t>(r.readBits(16));
            v.sar_height = static_cast<uint16_t>(r.readBits(16));
        }
    }
    v.overscan_info_present_flag = r.readFlag();
    if (v.overscan_info_present_flag)
        v.overscan_appropriate_flag = r.readFlag();
    v.video_signal_type_present_flag = r.readFlag();
    if (v.video_signal_type_present_flag) {
        v.video_format = static_cast<uint8_t>(r.readBits(3));
        v.video_full_range_flag = r.readFlag();
        v.colour_description_present_flag = r.readFlag();
        if (v.colour_description_present_flag) {
            v.colour_primaries = static_cast<uint8_t>(r.readBits(8));
            v.transfer_characteristics = static_cast<uint8_t>(r.readBits(8));
            v.matrix_coefficients = static_cast<uint8_t>(r.readBits(8));
        }
    }
    v.chroma_loc_info_present_flag = r.readFlag();
    if (v.chroma_loc_info_present_flag) {
        v.chroma_sample_loc_type_top_field = r.readUE();
        v.chroma_sample_loc_type_bottom_field = r.readUE();
    }
    v.timing_info_present_flag = r.readFlag();
    if (v.timing_info_present_flag) {
        v.num_units_in_tick = r.readBits(32);
        v.time_scale = r.readBits(32);
        v.fixed_frame_rate_flag = r.readFlag();
    }
    v.nal_hrd_parameters_present_flag = r.readFlag();
    if (v.nal_hrd_parameters_present_flag && !parseHrd(r, nal_hrd, problem))
        return false;
    v.vcl_hrd_parameters_present_flag = r.readFlag();
    if (v.vcl_hrd_parameters_present_flag && !parseHrd(r, vcl_hrd, problem))
        return false;
    if (v.nal_hrd_parameters_present_flag || v.vcl_hrd_parameters_present_flag)
        v.low_delay_hrd_flag = r.readFlag();
    v.pic_struct_present_flag = r.readFlag();
    v.bitstream_restriction_flag = r.readFlag();
    if (v.bitstream_restriction_flag) {
        v.motion_vectors_over_pic_boundaries_flag = r.readFlag();
        v.max_bytes_per_pic_denom = r.readUE();
        v.max_bits_per_mb_denom = r.readUE();
        v.log2_max_mv_length_horizontal = r.readUE();
        v.log2_max_mv_length_vertical = r.readUE();
        v.max_num_reorder_frames = r.readUE();
        v.max_dec_frame_buffering = r.readUE();
    }
    return true;
}

}  // namespace

bool hasChromaInfo(uint8_t p) {
    switch (p) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
    case 144:  // the withdrawn High 4:4:4 profile used the same syntax
        return true;
    default:
        return false;
    }
}

uint32_t SequenceParameterSet::width() const {
    const uint32_t cropUnitX = chromaArrayType() == 0 ? 1 : (chroma_format_idc == 3 ? 1 : 2);
    return codedWidth() - cropUnitX * (frame_crop_left_offset + frame_crop_right_offset);
}

uint32_t SequenceParameterSet::height() const {
    const uint32_t subHeightC = chromaArrayType() == 0 ? 1 : (chroma_format_idc == 1 ? 2 : 1);
    const uint32_t cropUnitY = subHeightC * (frame_mbs_only_flag ? 1 : 2);
    return codedHeight() - cropUnitY * (frame_crop_top_offset + frame_crop_bottom_offset);
}

double SequenceParameterSet::frameRate() const {
    if (!vui_parameters_present_flag || !vui.timing_info_present_flag || vui.num_units_in_tick == 0)
        return 0.0;
    return static_cast<double>(vui.time_scale) / (2.0 * vui.num_units_in_tick);
}

ParseResult parseSequenceParameterSet(BitReader& r, SequenceParameterSet& s, std::string& problem) {
    problem.clear();
    auto fail = [&](const char* name, int64_t value, int64_t lo, int64_t hi) {
        return checkRange(name, value, lo, hi, problem) ? ParseResult::Ok : ParseResult::Malformed;
    };
    s.profile_idc = static_cast<uint8_t>(r.readBits(8));       // profile_idc
    s.constraint_flags = static_cast<uint8_t>(r.readBits(6) << 2);  // constraint_set0..5_flag
    s.reserved_zero_2bits = static_cast<uint8_t>(r.readBits(2));    // reserved_zero_2bits
    s.level_idc = static_cast<uint8_t>(r.readBits(8));         // level_idc
    s.seq_parameter_set_id = r.readUE();                        // seq_parameter_set_id
    if (s.seq_parameter_set_id > kMaxSpsId)
        return fail("seq_parameter_set_id", s.seq_parameter_set_id, 0, kMaxSpsId);
    if (hasChromaInfo(s.profile_idc)) {
        s.chroma_format_idc = r.readUE();  // chroma_format_idc
        if (s.chroma_format_idc > 3)
            return fail("chroma_format_idc", s.chroma_format_idc, 0, 3);
        if (s.chroma_format_idc == 3)
            s.separate_colour_plane_flag = r.readFlag();
        s.bit_depth_luma_minus8 = r.readUE();
        if (s.bit_depth_luma_minus8 > kMaxBitDepthMinus8)
            return fail("bit_depth_luma_minus8", s.bit_depth_luma_minus8, 0, kMaxBitDepthMinus8);
        s.bit_depth_chroma_minus8 = r.readUE();
        if (s.bit_depth_chroma_minus8 > kMaxBitDepthMinus8)
            return fail("bit_depth_chroma_minus8", s.bit_depth_chroma_minus8, 0, kMaxBitDepthMinus8);
        s.qpprime_y_zero_transform_bypass_flag = r.readFlag();
        s.seq_scaling_matrix_present_flag = r.readFlag();
        if (s.seq_scaling_matrix_present_flag) {
            const unsigned lists = s.chroma_format_idc != 3 ? 8 : 12;
            for (unsigned i = 0; i < lists; ++i)
                if (r.readFlag())  // seq_scaling_list_present_flag[i]
                    skipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    s.log2_max_frame_num_minus4 = r.readUE();
    if (s.log2_max_frame_num_minus4 > kMaxLog2Minus4)
        return fail("log2_max_frame_num_minus4", s.log2_max_frame_num_minus4, 0, kMaxLog2Minus4);
    s.pic_order_cnt_type = r.readUE();
    if (s.pic_order_cnt_type > 2)
        return fail("pic_order_cnt_type", s.pic_order_cnt_type, 0, 2);
    if (s.pic_order_cnt_type == 0) {
        s.log2_max_pic_order_cnt_lsb_minus4 = r.readUE();
        if (s.log2_max_pic_order_cnt_lsb_minus4 > kMaxLog2Minus4)
            return fail("log2_max_pic_order_cnt_lsb_minus4", s.log2_max_pic_order_cnt_lsb_minus4, 0,
                        kMaxLog2Minus4);
    } else if (s.pic_order_cnt_type == 1) {
        s.delta_pic_order_always_zero_flag = r.readFlag();
        s.offset_for_non_ref_pic = r.readSE();
        s.offset_for_top_to_bottom_field = r.readSE();
        s.num_ref_frames_in_pic_order_cnt_cycle = r.readUE();
        if (s.num_ref_frames_in_pic_order_cnt_cycle > kMaxRefFramesInPocCycle)
            return fail("num_ref_frames_in_pic_order_cnt_cycle", s.num_ref_frames_in_pic_order_cnt_cycle, 0,
                        kMaxRefFramesInPocCycle);
        for (uint32_t i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i)
            s.offset_for_ref_frame[i] = r.readSE();
    }
    s.max_num_ref_frames = r.readUE();
    s.gaps_in_frame_num_value_allowed_flag = r.readFlag();
    s.pic_width_in_mbs_minus1 = r.readUE();
    if (s.pic_width_in_mbs_minus1 >= kMaxMbsPerSide)
        return fail("pic_width_in_mbs_minus1", s.pic_width_in_mbs_minus1, 0, kMaxMbsPerSide - 1);
    s.pic_height_in_map_units_minus1 = r.readUE();
    if (s.pic_height_in_map_units_minus1 >= kMaxMbsPerSide)
        return fail("pic_height_in_map_units_minus1", s.pic_height_in_map_units_minus1, 0, kMaxMbsPerSide - 1);
    s.frame_mbs_only_flag = r.readFlag();
    if (!s.frame_mbs_only_flag)
        s.mb_adaptive_frame_field_flag = r.readFlag();
    s.direct_8x8_inference_flag = r.readFlag();
    s.frame_cropping_flag = r.readFlag();
    if (s.frame_cropping_flag) {
        s.frame_crop_left_offset = r.readUE();
        s.frame_crop_right_offset = r.readUE();
        s.frame_crop_top_offset = r.readUE();
        s.frame_crop_bottom_offset = r.readUE();
        // The crop must leave at least one sample; checked in 64 bits.
        const uint64_t unitX = s.chromaArrayType() == 0 || s.chroma_format_idc == 3 ? 1 : 2;
        const uint64_t unitY = (s.chromaArrayType() == 1 ? 2 : 1) * (s.frame_mbs_only_flag ? 1 : 2);
        const uint64_t cropX = unitX * (uint64_t(s.frame_crop_left_offset) + s.frame_crop_right_offset);
        const uint64_t cropY = unitY * (uint64_t(s.frame_crop_top_offset) + s.frame_crop_bottom_offset);
        if (cropX >= s.codedWidth())
            return fail("frame_crop_left_offset+frame_crop_right_offset", static_cast<int64_t>(cropX / unitX), 0,
                        (s.codedWidth() - 1) / unitX);
        if (cropY >= s.codedHeight())
            return fail("frame_crop_top_offset+frame_crop_bottom_offset", static_cast<int64_t>(cropY / unitY), 0,
                        (s.codedHeight() - 1) / unitY);
    }
    if (r.bitsLeft() < 0) {
        problem = "seq_parameter_set: out of data";
        return ParseResult::Malformed;
    }
    s.vui_parameters_present_flag = r.readFlag();
    if (s.vui_parameters_present_flag) {
        if (!parseVui(r, s.vui, s.nal_hrd, s.vcl_hrd, problem))
            return ParseResult::Malformed;
        if (r.bitsLeft() < 0) {
            problem = "vui_parameters: out of data";
            return ParseResult::Malformed;
        }
    }
    if (!r.ok()) {
        problem = "seq_parameter_set: invalid Exp-Golomb code";
        return ParseResult::Malformed;
    }
    return ParseResult::Ok;
}

ParseResult parseSequenceParameterSet(const uint8_t* nal, size_t size, SequenceParameterSet& sps,
                                      std::string& problem) {
    if (!nal || size < 2) {
        problem = "seq_parameter_set: out of data";
        return ParseResult::Malformed;
    }
    BitReader r(nal + 1, size - 1, bitstream::Emulation::Drop);
    return parseSequenceParameterSet(r, sps, problem);
}

}  // namespace H264
