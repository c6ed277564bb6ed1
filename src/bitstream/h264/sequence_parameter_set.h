#pragma once
// H.264 sequence parameter set (seq_parameter_set_data with its VUI), read from
// the RBSP after the one-byte NAL header. Field names are the standard's; the
// derived picture geometry and frame rate come with it.

#include "bitstream/common/bit_reader.h"
#include "bitstream/common/parse_result.h"
#include "bitstream/common/vui_parameters.h"

#include <array>
#include <cstdint>
#include <string>

namespace H264 {

constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxPpsId = 255;
// log2_max_frame_num_minus4 and log2_max_pic_order_cnt_lsb_minus4 are 0-12:
// both become bit counts of slice header fields.
constexpr uint32_t kMaxLog2Minus4 = 12;
constexpr uint32_t kMaxBitDepthMinus8 = 6;
constexpr uint32_t kMaxRefFramesInPocCycle = 255;
// 2048 macroblocks (32768 luma samples) per side is far beyond any level; a
// larger value is damage, and it keeps the derived sizes inside 32 bits.
constexpr uint32_t kMaxMbsPerSide = 2048;
constexpr uint32_t kMaxCpbCount = 32;

struct HrdParameters {
    uint32_t cpb_cnt_minus1 = 0;
    uint8_t bit_rate_scale = 0, cpb_size_scale = 0;
    uint8_t initial_cpb_removal_delay_length_minus1 = 23;
    uint8_t cpb_removal_delay_length_minus1 = 23;
    uint8_t dpb_output_delay_length_minus1 = 23;
    uint8_t time_offset_length = 24;
};

struct SequenceParameterSet {
    uint8_t profile_idc = 0;
    uint8_t constraint_flags = 0;  // constraint_set0_flag in bit 7 ... constraint_set5_flag in bit 2
    uint8_t reserved_zero_2bits = 0;
    uint8_t level_idc = 0;
    uint32_t seq_parameter_set_id = 0;
    uint32_t chroma_format_idc = 1;
    bool separate_colour_plane_flag = false;
    uint32_t bit_depth_luma_minus8 = 0, bit_depth_chroma_minus8 = 0;
    bool qpprime_y_zero_transform_bypass_flag = false;
    bool seq_scaling_matrix_present_flag = false;
    uint32_t log2_max_frame_num_minus4 = 0;
    uint32_t pic_order_cnt_type = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    bool delta_pic_order_always_zero_flag = false;
    int32_t offset_for_non_ref_pic = 0, offset_for_top_to_bottom_field = 0;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int32_t, kMaxRefFramesInPocCycle + 1> offset_for_ref_frame{};
    uint32_t max_num_ref_frames = 0;
    bool gaps_in_frame_num_value_allowed_flag = false;
    uint32_t pic_width_in_mbs_minus1 = 0, pic_height_in_map_units_minus1 = 0;
    bool frame_mbs_only_flag = true, mb_adaptive_frame_field_flag = false;
    bool direct_8x8_inference_flag = false;
    bool frame_cropping_flag = false;
    uint32_t frame_crop_left_offset = 0, frame_crop_right_offset = 0;
    uint32_t frame_crop_top_offset = 0, frame_crop_bottom_offset = 0;
    bool vui_parameters_present_flag = false;
    bitstream::VuiParameters vui;
    // The VUI's hrd_parameters(), present when vui.nal_hrd_parameters_present_flag
    // and vui.vcl_hrd_parameters_present_flag are set.
    HrdParameters nal_hrd, vcl_hrd;

    // Derived.
    uint32_t chromaArrayType() const { return separate_colour_plane_flag ? 0 : chroma_format_idc; }
    uint32_t codedWidth() const { return (pic_width_in_mbs_minus1 + 1) * 16; }
    uint32_t codedHeight() const {
        return (2 - (frame_mbs_only_flag ? 1 : 0)) * (pic_height_in_map_units_minus1 + 1) * 16;
    }
    uint32_t width() const;   // after frame cropping
    uint32_t height() const;  // after frame cropping
    uint32_t bitDepthLuma() const { return bit_depth_luma_minus8 + 8; }
    uint32_t bitDepthChroma() const { return bit_depth_chroma_minus8 + 8; }
    // Frames per second from the VUI timing (time_scale / (2 * num_units_in_tick)), 0 when absent.
    double frameRate() const;
};

// Profiles whose SPS carries chroma format, bit depths and scaling matrices.
bool hasChromaInfo(uint8_t profile_idc);

// Reads seq_parameter_set_data from r (positioned after the NAL header, on
// RBSP bytes or with Emulation::Drop). Range problems and over-reads are
// described in problem. sps is filled as far as the data went.
bitstream::ParseResult parseSequenceParameterSet(bitstream::BitReader& r, SequenceParameterSet& sps,
                                                 std::string& problem);

// Convenience: a whole SPS NAL unit (header byte included) read in place.
bitstream::ParseResult parseSequenceParameterSet(const uint8_t* nal, size_t size, SequenceParameterSet& sps,
                                                 std::string& problem);

}  // namespace H264
