#pragma once
// HEVC SEI NAL units: the message framing (payloadType, payloadSize) and the
// payload classes of the message types the parser reads. Each payload is read
// inside its declared size; unknown types are skipped by their size.

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/ps_common.h"

#include <array>
#include <memory>
#include <vector>

namespace HEVC {

struct ParameterSets;

// Payloads keep at most this many repeated entries (hash bytes, pivots,
// filter taps...); the rest is read and dropped.
constexpr size_t kMaxSeiEntries = 1024;

class SeiPayload {
public:
    virtual ~SeiPayload() = default;
    // Reads the payload; r is limited to payloadSize bytes.
    virtual void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) = 0;
};

struct SeiMessage {
    uint32_t payloadType = 0;
    uint32_t payloadSize = 0;
    std::shared_ptr<SeiPayload> payload;  // null for skipped types
};

class SEI : public NALUnit {
public:
    explicit SEI(uint8_t type) : NALUnit(type) {}
    std::vector<SeiMessage> sei_message;
    void parse(BitstreamReader& r, ParameterSets& maps);
};

// A new payload object for a payloadType, or null when the type is skipped.
std::shared_ptr<SeiPayload> makeSeiPayload(uint32_t payloadType);

class BufferingPeriod : public SeiPayload {
public:
    uint32_t bp_seq_parameter_set_id = 0;
    bool irap_cpb_params_present_flag = false;
    uint32_t cpb_delay_offset = 0, dpb_delay_offset = 0;
    bool concatenation_flag = false;
    uint32_t au_cpb_removal_delay_delta_minus1 = 0;
    std::vector<uint32_t> nal_initial_cpb_removal_delay, nal_initial_cpb_removal_offset;
    std::vector<uint32_t> vcl_initial_cpb_removal_delay, vcl_initial_cpb_removal_offset;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class PicTiming : public SeiPayload {
public:
    uint8_t pic_struct = 0, source_scan_type = 0;
    bool duplicate_flag = false;
    uint32_t au_cpb_removal_delay_minus1 = 0, pic_dpb_output_delay = 0, pic_dpb_output_du_delay = 0;
    uint32_t num_decoding_units_minus1 = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class FillerPayload : public SeiPayload {
public:
    uint32_t size = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class UserDataUnregistered : public SeiPayload {
public:
    std::array<uint8_t, 16> uuid_iso_iec_11578{};
    std::vector<uint8_t> user_data_payload_byte;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class RecoveryPoint : public SeiPayload {
public:
    int32_t recovery_poc_cnt = 0;
    bool exact_match_flag = false, broken_link_flag = false;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class SceneInfo : public SeiPayload {
public:
    bool scene_info_present_flag = false, prev_scene_id_valid_flag = false;
    uint32_t scene_id = 0, scene_transition_type = 0, second_scene_id = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class FullFrameSnapshot : public SeiPayload {
public:
    uint32_t snapshot_id = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ProgressiveRefinementSegmentStart : public SeiPayload {
public:
    uint32_t progressive_refinement_id = 0, pic_order_cnt_delta = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ProgressiveRefinementSegmentEnd : public SeiPayload {
public:
    uint32_t progressive_refinement_id = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ToneMapping : public SeiPayload {
public:
    uint32_t tone_map_id = 0;
    bool tone_map_cancel_flag = false, tone_map_persistence_flag = false;
    uint8_t coded_data_bit_depth = 0, target_bit_depth = 0;
    uint32_t tone_map_model_id = 0;
    uint32_t min_value = 0, max_value = 0, sigmoid_midpoint = 0, sigmoid_width = 0;
    std::vector<uint32_t> start_of_coded_interval, coded_pivot_value, target_pivot_value;
    uint8_t camera_iso_speed_idc = 0, exposure_index_idc = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class FramePacking : public SeiPayload {
public:
    uint32_t frame_packing_arrangement_id = 0;
    bool frame_packing_arrangement_cancel_flag = false;
    uint8_t frame_packing_arrangement_type = 0;
    bool quincunx_sampling_flag = false;
    uint8_t content_interpretation_type = 0;
    bool spatial_flipping_flag = false, frame0_flipped_flag = false, field_views_flag = false;
    bool current_frame_is_frame0_flag = false, frame0_self_contained_flag = false, frame1_self_contained_flag = false;
    uint8_t frame0_grid_position_x = 0, frame0_grid_position_y = 0, frame1_grid_position_x = 0,
            frame1_grid_position_y = 0;
    bool frame_packing_arrangement_persistence_flag = false, upsampled_aspect_ratio_flag = false;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class DisplayOrientation : public SeiPayload {
public:
    bool display_orientation_cancel_flag = false, hor_flip = false, ver_flip = false;
    uint16_t anticlockwise_rotation = 0;
    bool display_orientation_persistence_flag = false;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class SOPDescription : public SeiPayload {
public:
    uint32_t sop_seq_parameter_set_id = 0, num_entries_in_sop_minus1 = 0;
    std::vector<uint8_t> sop_vcl_nut, sop_temporal_id;
    std::vector<uint32_t> sop_short_term_rps_idx;
    std::vector<int32_t> sop_poc_delta;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ActiveParameterSets : public SeiPayload {
public:
    uint8_t active_video_parameter_set_id = 0;
    bool self_contained_cvs_flag = false, no_parameter_set_update_flag = false;
    uint32_t num_sps_ids_minus1 = 0;
    std::vector<uint32_t> active_seq_parameter_set_id;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class TemporalLevel0Index : public SeiPayload {
public:
    uint8_t temporal_sub_layer_zero_idx = 0, irap_pic_id = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class DecodedPictureHash : public SeiPayload {
public:
    uint8_t hash_type = 0;  // 0 MD5, 1 CRC, 2 checksum
    std::array<std::array<uint8_t, 16>, 3> picture_md5{};
    std::array<uint32_t, 3> picture_crc{}, picture_checksum{};
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class RegionRefreshInfo : public SeiPayload {
public:
    bool refreshed_region_flag = false;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class TimeCode : public SeiPayload {
public:
    struct ClockTimestamp {
        bool clock_timestamp_flag = false, units_field_based_flag = false;
        uint8_t counting_type = 0;
        bool full_timestamp_flag = false, discontinuity_flag = false, cnt_dropped_flag = false;
        uint16_t n_frames = 0;
        uint8_t seconds_value = 0, minutes_value = 0, hours_value = 0;
        uint8_t time_offset_length = 0;
        int32_t time_offset_value = 0;
    };
    uint8_t num_clock_ts = 0;
    std::array<ClockTimestamp, 3> clock{};
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class MasteringDisplayInfo : public SeiPayload {
public:
    std::array<uint16_t, 3> display_primaries_x{}, display_primaries_y{};
    uint16_t white_point_x = 0, white_point_y = 0;
    uint32_t max_display_mastering_luminance = 0, min_display_mastering_luminance = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class SegmRectFramePacking : public SeiPayload {
public:
    bool segmented_rect_frame_packing_arrangement_cancel_flag = false;
    uint8_t segmented_rect_content_interpretation_type = 0;
    bool segmented_rect_frame_packing_arrangement_persistence_flag = false;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ChromaResamplingFilterHint : public SeiPayload {
public:
    uint8_t ver_chroma_filter_idc = 0, hor_chroma_filter_idc = 0;
    bool ver_filtering_field_processing_flag = false;
    uint32_t target_format_idc = 0, num_vertical_filters = 0, num_horizontal_filters = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class KneeFunctionInfo : public SeiPayload {
public:
    uint32_t knee_function_id = 0;
    bool knee_function_cancel_flag = false, knee_function_persistence_flag = false;
    uint32_t input_d_range = 0, input_disp_luminance = 0, output_d_range = 0, output_disp_luminance = 0;
    uint32_t num_knee_points_minus1 = 0;
    std::vector<uint16_t> input_knee_point, output_knee_point;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ColourRemappingInfo : public SeiPayload {
public:
    uint32_t colour_remap_id = 0;
    bool colour_remap_cancel_flag = false, colour_remap_persistence_flag = false;
    bool colour_remap_video_signal_info_present_flag = false, colour_remap_full_range_flag = false;
    uint8_t colour_remap_primaries = 0, colour_remap_transfer_function = 0, colour_remap_matrix_coefficients = 0;
    uint8_t colour_remap_input_bit_depth = 0, colour_remap_bit_depth = 0;
    bool colour_remap_matrix_present_flag = false;
    uint8_t log2_matrix_denom = 0;
    std::array<std::array<int32_t, 3>, 3> colour_remap_coeffs{};
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

class ContentLightLevelInfo : public SeiPayload {
public:
    uint16_t max_content_light_level = 0, max_pic_average_light_level = 0;
    void parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets& maps, NALUnit& unit) override;
};

}  // namespace HEVC
