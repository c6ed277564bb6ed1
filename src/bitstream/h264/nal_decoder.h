#pragma once
// NALDEC: decodes one H.264 NAL unit into a running state that keeps what
// identifies a picture (SPS geometry and picture order count setup, the PPS
// field the slice header depends on, and the slice header's frame number and
// picture order count fields). Problems are logged with the "NALDEC : "
// prefix at ERROR; nothing is returned, the state keeps what was read.

#include <array>
#include <cstddef>
#include <cstdint>

namespace H264 {

// The SPS payload is unescaped into a fixed buffer of this size (no
// allocation); real parameter sets are a few dozen bytes.
constexpr size_t kMaxSpsPayload = 2048;

struct NalDecoderState {
    // From the SPS; profile_idc != 0 means an SPS has been seen.
    uint8_t profile_idc = 0;
    uint8_t level_idc = 0;
    uint32_t chroma_format_idc = 0;
    uint32_t log2_max_frame_num_minus4 = 0;
    uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    uint32_t pic_order_cnt_type = 0;
    uint8_t frame_mbs_only_flag = 0;
    uint8_t delta_pic_order_always_zero_flag = 0;
    int32_t offset_for_non_ref_pic = 0;
    int32_t offset_for_top_to_bottom_field = 0;
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::array<int16_t, 256> offset_for_ref_frame{};
    uint32_t width = 0;   // (pic_width_in_mbs_minus1 + 1) * 16
    uint32_t height = 0;  // (2 - frame_mbs_only_flag) * (pic_height_in_map_units_minus1 + 1) * 16
    uint8_t separate_colour_plane_flag = 0;
    // From the PPS.
    uint8_t bottom_field_pic_order_in_frame_present_flag = 0;
    uint8_t redundant_pic_cnt_present_flag = 0;
    // From the NAL header.
    uint8_t nal_ref_idc = 0;
    uint8_t nal_unit_type = 0;
    // From the slice header.
    uint32_t slice_type = 0;
    uint32_t frame_num = 0;
    uint32_t idr_pic_id = 0;
    uint32_t pic_order_cnt_lsb = 0;
    int32_t delta_pic_order_cnt_bottom = 0;
    int32_t delta_pic_order_cnt[2] = {0, 0};
    uint8_t field_pic_flag = 0;
    uint8_t bottom_field_flag = 0;
};

// Decodes one NAL unit starting at its one-byte header. Reads only inside
// (nal, size); allocates nothing unless it logs.
void NALDEC(NalDecoderState& state, const uint8_t* nal, size_t size);

// Emulation prevention removed into dst (capacity dstCap): 00 00 03 becomes
// 00 00 wherever at least three more bytes follow the position of its first
// zero. Returns the bytes written.
size_t unescapeSpsPayload(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstCap);

}  // namespace H264
