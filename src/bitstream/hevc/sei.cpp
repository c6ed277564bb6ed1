#include "bitstream/hevc/sei.h"

#include "bitstream/hevc/parameter_sets.h"
#include "bitstream/hevc/sps.h"

namespace HEVC {

namespace {

template <typename T, typename V>
void pushCapped(std::vector<T>& v, V value) {
    if (v.size() < kMaxSeiEntries)
        v.push_back(static_cast<T>(value));
}

// payloadType / payloadSize: 0xFF bytes each adding 255, then a last byte.
uint64_t readSeiValue(BitstreamReader& r) {
    uint64_t v = 0;
    while (r.showBits(8) == 0xFF) {
        r.skipBits(8);
        v += 255;
    }
    return v + r.getBits(8);
}

const HrdParameters* hrdOf(const SPS& sps) {
    if (sps.vui_parameters_present_flag && sps.vui.vui_hrd_parameters_present_flag)
        return &sps.hrd_parameters;
    return nullptr;
}

}  // namespace

std::shared_ptr<SeiPayload> makeSeiPayload(uint32_t t) {
    switch (t) {
    case 0: return std::make_shared<BufferingPeriod>();
    case 1: return std::make_shared<PicTiming>();
    case 3: return std::make_shared<FillerPayload>();
    case 5: return std::make_shared<UserDataUnregistered>();
    case 6: return std::make_shared<RecoveryPoint>();
    case 9: return std::make_shared<SceneInfo>();
    case 15: return std::make_shared<FullFrameSnapshot>();
    case 16: return std::make_shared<ProgressiveRefinementSegmentStart>();
    case 17: return std::make_shared<ProgressiveRefinementSegmentEnd>();
    case 23: return std::make_shared<ToneMapping>();
    case 45: return std::make_shared<FramePacking>();
    case 47: return std::make_shared<DisplayOrientation>();
    case 128: return std::make_shared<SOPDescription>();
    case 129: return std::make_shared<ActiveParameterSets>();
    case 131: return std::make_shared<TemporalLevel0Index>();
    case 132: return std::make_shared<DecodedPictureHash>();
    case 134: return std::make_shared<RegionRefreshInfo>();
    case 136: return std::make_shared<TimeCode>();
    case 137: return std::make_shared<MasteringDisplayInfo>();
    case 138: return std::make_shared<SegmRectFramePacking>();
    case 140: return std::make_shared<ChromaResamplingFilterHint>();
    case 141: return std::make_shared<KneeFunctionInfo>();
    case 142: return std::make_shared<ColourRemappingInfo>();
    case 144: return std::make_shared<ContentLightLevelInfo>();
    default: return nullptr;
    }
}

void SEI::parse(BitstreamReader& r, ParameterSets& maps) {
    do {
        SeiMessage m;
        const uint64_t type = readSeiValue(r);
        const uint64_t size = readSeiValue(r);
        m.payloadType = static_cast<uint32_t>(type > 0xFFFFFFFFu ? 0xFFFFFFFFu : type);
        m.payloadSize = static_cast<uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
        const int64_t avail = r.bitsAvailable();
        if (avail < 0 || size > static_cast<uint64_t>(avail) / 8) {
            addProblem("SEI: sei message payload size more then nal unit size (payloadSize=" + std::to_string(size) +
                       ")");
            return;
        }
        const uint64_t start = r.bitsRead();
        m.payload = makeSeiPayload(m.payloadType);
        if (m.payload) {
            const uint64_t outer = r.limit();
            r.setLimit(size * 8);
            try {
                m.payload->parse(r, m.payloadSize, maps, *this);
            } catch (const BitstreamError& e) {
                // A payload that does not fit its own size is a value problem
                // of that message; the framing around it is still sound.
                addProblem("SEI: payloadType=" + std::to_string(m.payloadType) + ": " + e.what());
            }
            r.restoreLimit(outer);
        }
        const uint64_t end = start + size * 8;
        if (r.bitsRead() < end)
            r.skipBits(end - r.bitsRead());
        sei_message.push_back(m);
    } while (r.bitsAvailable() >= 9 && r.showBits(8) != 0x80);
}

void BufferingPeriod::parse(BitstreamReader& r, uint32_t, const ParameterSets& maps, NALUnit& unit) {
    bp_seq_parameter_set_id = r.getUe();
    const auto it = maps.sps.find(bp_seq_parameter_set_id);
    if (it == maps.sps.end()) {
        unit.addProblem("SEI: bp_seq_parameter_set_id=" + std::to_string(bp_seq_parameter_set_id) +
                        ", but SPS with this id not exists");
        return;
    }
    const SPS& sps = *it->second;
    const HrdParameters none;
    const HrdParameters& h = hrdOf(sps) ? *hrdOf(sps) : none;
    const bool hasHrd = hrdOf(sps) != nullptr;
    if (!h.sub_pic_hrd_params_present_flag)
        irap_cpb_params_present_flag = r.getFlag();
    if (irap_cpb_params_present_flag) {
        cpb_delay_offset = r.getBits(h.au_cpb_removal_delay_length_minus1 + 1u);
        dpb_delay_offset = r.getBits(h.dpb_output_delay_length_minus1 + 1u);
    }
    concatenation_flag = r.getFlag();
    au_cpb_removal_delay_delta_minus1 = r.getBits(h.au_cpb_removal_delay_length_minus1 + 1u);
    const uint32_t cpbCnt = h.cpb_cnt_minus1[sps.sps_max_sub_layers_minus1] + 1;
    const unsigned bits = h.initial_cpb_removal_delay_length_minus1 + 1u;
    const bool alt = h.sub_pic_hrd_params_present_flag || irap_cpb_params_present_flag;
    for (int pass = 0; pass < 2 && hasHrd; ++pass) {
        const bool present = pass == 0 ? h.nal_hrd_parameters_present_flag : h.vcl_hrd_parameters_present_flag;
        if (!present)
            continue;
        auto& delay = pass == 0 ? nal_initial_cpb_removal_delay : vcl_initial_cpb_removal_delay;
        auto& offset = pass == 0 ? nal_initial_cpb_removal_offset : vcl_initial_cpb_removal_offset;
        for (uint32_t i = 0; i < cpbCnt; ++i) {
            pushCapped(delay, r.getBits(bits));
            pushCapped(offset, r.getBits(bits));
            if (alt) {
                r.getBits(bits);  // initial_alt_cpb_removal_delay[i]
                r.getBits(bits);  // initial_alt_cpb_removal_offset[i]
            }
        }
    }
}

void PicTiming::parse(BitstreamReader& r, uint32_t, const ParameterSets& maps, NALUnit& unit) {
    const auto sps = maps.activeSps();
    if (!sps) {
        unit.addProblem("SEI: pic_timing without a known SPS");
        return;
    }
    if (sps->vui_parameters_present_flag && sps->vui.frame_field_info_present_flag) {
        pic_struct = static_cast<uint8_t>(r.getBits(4));
        source_scan_type = static_cast<uint8_t>(r.getBits(2));
        duplicate_flag = r.getFlag();
    }
    const HrdParameters* h = hrdOf(*sps);
    if (!h || !(h->nal_hrd_parameters_present_flag || h->vcl_hrd_parameters_present_flag))
        return;  // CpbDpbDelaysPresentFlag is 0
    au_cpb_removal_delay_minus1 = r.getBits(h->au_cpb_removal_delay_length_minus1 + 1u);
    pic_dpb_output_delay = r.getBits(h->dpb_output_delay_length_minus1 + 1u);
    if (h->sub_pic_hrd_params_present_flag)
        pic_dpb_output_du_delay = r.getBits(h->dpb_output_delay_du_length_minus1 + 1u);
    if (h->sub_pic_hrd_params_present_flag && h->sub_pic_cpb_params_in_pic_timing_sei_flag) {
        num_decoding_units_minus1 = r.getUe();
        const bool du_common_cpb_removal_delay_flag = r.getFlag();
        const unsigned bits = h->du_cpb_removal_delay_increment_length_minus1 + 1u;
        if (du_common_cpb_removal_delay_flag)
            r.getBits(bits);  // du_common_cpb_removal_delay_increment_minus1
        for (uint64_t i = 0; i <= num_decoding_units_minus1; ++i) {
            r.getUe();  // num_nalus_in_du_minus1[i]
            if (!du_common_cpb_removal_delay_flag && i < num_decoding_units_minus1)
                r.getBits(bits);  // du_cpb_removal_delay_increment_minus1[i]
        }
    }
}

void FillerPayload::parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets&, NALUnit&) {
    size = payloadSize;
    r.skipBits(uint64_t(payloadSize) * 8);  // ff_byte
}

void UserDataUnregistered::parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets&, NALUnit&) {
    for (auto& b : uuid_iso_iec_11578)
        b = static_cast<uint8_t>(r.getBits(8));
    for (uint32_t i = 16; i < payloadSize; ++i)
        pushCapped(user_data_payload_byte, r.getBits(8));
}

void RecoveryPoint::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    recovery_poc_cnt = r.getSe();
    exact_match_flag = r.getFlag();
    broken_link_flag = r.getFlag();
}

void SceneInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    scene_info_present_flag = r.getFlag();
    if (scene_info_present_flag) {
        prev_scene_id_valid_flag = r.getFlag();
        scene_id = r.getUe();
        scene_transition_type = r.getUe();
        if (scene_transition_type > 3)
            second_scene_id = r.getUe();
    }
}

void FullFrameSnapshot::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    snapshot_id = r.getUe();
}

void ProgressiveRefinementSegmentStart::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    progressive_refinement_id = r.getUe();
    pic_order_cnt_delta = r.getUe();
}

void ProgressiveRefinementSegmentEnd::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    progressive_refinement_id = r.getUe();
}

void ToneMapping::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit& unit) {
    tone_map_id = r.getUe();
    tone_map_cancel_flag = r.getFlag();
    if (tone_map_cancel_flag)
        return;
    tone_map_persistence_flag = r.getFlag();
    coded_data_bit_depth = static_cast<uint8_t>(r.getBits(8));
    target_bit_depth = static_cast<uint8_t>(r.getBits(8));
    tone_map_model_id = r.getUe();
    const unsigned codedBits = ((coded_data_bit_depth + 7u) >> 3) << 3;
    const unsigned targetBits = ((target_bit_depth + 7u) >> 3) << 3;
    switch (tone_map_model_id) {
    case 0:
        min_value = r.getBits(32);
        max_value = r.getBits(32);
        break;
    case 1:
        sigmoid_midpoint = r.getBits(32);
        sigmoid_width = r.getBits(32);
        break;
    case 2:
        // 1 << target_bit_depth entries; the depth is at most 16 in valid data.
        requireRange(unit, "SEI: ", "target_bit_depth", target_bit_depth, 1, 16);
        for (uint32_t i = 0; i < (1u << target_bit_depth); ++i)
            pushCapped(start_of_coded_interval, r.getBits(codedBits));
        break;
    case 3: {
        const uint32_t num_pivots = r.getBits(16);
        for (uint32_t i = 0; i < num_pivots; ++i) {
            pushCapped(coded_pivot_value, r.getBits(codedBits));
            pushCapped(target_pivot_value, r.getBits(targetBits));
        }
        break;
    }
    case 4:
        camera_iso_speed_idc = static_cast<uint8_t>(r.getBits(8));
        if (camera_iso_speed_idc == 255)
            r.getBits(32);  // camera_iso_speed_value
        exposure_index_idc = static_cast<uint8_t>(r.getBits(8));
        if (exposure_index_idc == 255)
            r.getBits(32);  // exposure_index_value
        r.getFlag();      // exposure_compensation_value_sign_flag
        r.getBits(16);    // exposure_compensation_value_numerator
        r.getBits(16);    // exposure_compensation_value_denom_idc
        r.getBits(32);    // ref_screen_luminance_white
        r.getBits(32);    // extended_range_white_level
        r.getBits(16);    // nominal_black_level_code_value
        r.getBits(16);    // nominal_white_level_code_value
        r.getBits(16);    // extended_white_level_code_value
        break;
    default:
        break;
    }
}

void FramePacking::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    frame_packing_arrangement_id = r.getUe();
    frame_packing_arrangement_cancel_flag = r.getFlag();
    if (frame_packing_arrangement_cancel_flag)
        return;
    frame_packing_arrangement_type = static_cast<uint8_t>(r.getBits(7));
    quincunx_sampling_flag = r.getFlag();
    content_interpretation_type = static_cast<uint8_t>(r.getBits(6));
    spatial_flipping_flag = r.getFlag();
    frame0_flipped_flag = r.getFlag();
    field_views_flag = r.getFlag();
    current_frame_is_frame0_flag = r.getFlag();
    frame0_self_contained_flag = r.getFlag();
    frame1_self_contained_flag = r.getFlag();
    if (!quincunx_sampling_flag && frame_packing_arrangement_type != 5) {
        frame0_grid_position_x = static_cast<uint8_t>(r.getBits(4));
        frame0_grid_position_y = static_cast<uint8_t>(r.getBits(4));
        frame1_grid_position_x = static_cast<uint8_t>(r.getBits(4));
        frame1_grid_position_y = static_cast<uint8_t>(r.getBits(4));
    }
    r.getBits(8);  // frame_packing_arrangement_reserved_byte
    frame_packing_arrangement_persistence_flag = r.getFlag();
    upsampled_aspect_ratio_flag = r.getFlag();
}

void DisplayOrientation::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    display_orientation_cancel_flag = r.getFlag();
    if (display_orientation_cancel_flag)
        return;
    hor_flip = r.getFlag();
    ver_flip = r.getFlag();
    anticlockwise_rotation = static_cast<uint16_t>(r.getBits(16));
    display_orientation_persistence_flag = r.getFlag();
}

void SOPDescription::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    sop_seq_parameter_set_id = r.getUe();
    num_entries_in_sop_minus1 = r.getUe();
    for (uint64_t i = 0; i <= num_entries_in_sop_minus1; ++i) {
        const uint8_t nut = static_cast<uint8_t>(r.getBits(6));
        pushCapped(sop_vcl_nut, nut);
        pushCapped(sop_temporal_id, r.getBits(3));
        if (nut != 19 && nut != 20)  // not IDR_W_RADL / IDR_N_LP
            pushCapped(sop_short_term_rps_idx, r.getUe());
        if (i > 0)
            pushCapped(sop_poc_delta, r.getSe());
    }
}

void ActiveParameterSets::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit& unit) {
    active_video_parameter_set_id = static_cast<uint8_t>(r.getBits(4));
    self_contained_cvs_flag = r.getFlag();
    no_parameter_set_update_flag = r.getFlag();
    num_sps_ids_minus1 = r.getUe();
    requireRange(unit, "SEI: ", "num_sps_ids_minus1", num_sps_ids_minus1, 0, kMaxSpsId);
    for (uint32_t i = 0; i <= num_sps_ids_minus1; ++i)
        active_seq_parameter_set_id.push_back(r.getUe());
}

void TemporalLevel0Index::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    temporal_sub_layer_zero_idx = static_cast<uint8_t>(r.getBits(8));
    irap_pic_id = static_cast<uint8_t>(r.getBits(8));
}

void DecodedPictureHash::parse(BitstreamReader& r, uint32_t payloadSize, const ParameterSets&, NALUnit&) {
    hash_type = static_cast<uint8_t>(r.getBits(8));
    // One hash per colour component: the payload size tells how many
    // (1 for 4:0:0, 3 otherwise) without needing the active SPS.
    const uint32_t per = hash_type == 0 ? 16 : hash_type == 1 ? 2 : hash_type == 2 ? 4 : 0;
    if (per == 0)
        return;
    uint32_t comps = (payloadSize - 1) / per;
    if (comps > 3)
        comps = 3;
    for (uint32_t c = 0; c < comps; ++c) {
        if (hash_type == 0)
            for (auto& b : picture_md5[c])
                b = static_cast<uint8_t>(r.getBits(8));
        else if (hash_type == 1)
            picture_crc[c] = r.getBits(16);
        else
            picture_checksum[c] = r.getBits(32);
    }
}

void RegionRefreshInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    refreshed_region_flag = r.getFlag();
}

void TimeCode::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    num_clock_ts = static_cast<uint8_t>(r.getBits(2));
    for (uint32_t i = 0; i < num_clock_ts && i < clock.size(); ++i) {
        ClockTimestamp& c = clock[i];
        c.clock_timestamp_flag = r.getFlag();
        if (!c.clock_timestamp_flag)
            continue;
        c.units_field_based_flag = r.getFlag();
        c.counting_type = static_cast<uint8_t>(r.getBits(5));
        c.full_timestamp_flag = r.getFlag();
        c.discontinuity_flag = r.getFlag();
        c.cnt_dropped_flag = r.getFlag();
        c.n_frames = static_cast<uint16_t>(r.getBits(9));
        if (c.full_timestamp_flag) {
            c.seconds_value = static_cast<uint8_t>(r.getBits(6));
            c.minutes_value = static_cast<uint8_t>(r.getBits(6));
            c.hours_value = static_cast<uint8_t>(r.getBits(5));
        } else if (r.getFlag()) {  // seconds_flag
            c.seconds_value = static_cast<uint8_t>(r.getBits(6));
            if (r.getFlag()) {  // minutes_flag
                c.minutes_value = static_cast<uint8_t>(r.getBits(6));
                if (r.getFlag())  // hours_flag
                    c.hours_value = static_cast<uint8_t>(r.getBits(5));
            }
        }
        c.time_offset_length = static_cast<uint8_t>(r.getBits(5));
        if (c.time_offset_length > 0) {
            const uint32_t v = r.getBits(c.time_offset_length);
            // i(v): two's complement in time_offset_length bits.
            const uint32_t sign = 1u << (c.time_offset_length - 1);
            c.time_offset_value = static_cast<int32_t>(static_cast<int64_t>(v ^ sign) - static_cast<int64_t>(sign));
        }
    }
}

void MasteringDisplayInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    for (int c = 0; c < 3; ++c) {
        display_primaries_x[c] = static_cast<uint16_t>(r.getBits(16));
        display_primaries_y[c] = static_cast<uint16_t>(r.getBits(16));
    }
    white_point_x = static_cast<uint16_t>(r.getBits(16));
    white_point_y = static_cast<uint16_t>(r.getBits(16));
    max_display_mastering_luminance = r.getBits(32);
    min_display_mastering_luminance = r.getBits(32);
}

void SegmRectFramePacking::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    segmented_rect_frame_packing_arrangement_cancel_flag = r.getFlag();
    if (!segmented_rect_frame_packing_arrangement_cancel_flag) {
        segmented_rect_content_interpretation_type = static_cast<uint8_t>(r.getBits(2));
        segmented_rect_frame_packing_arrangement_persistence_flag = r.getFlag();
    }
}

void ChromaResamplingFilterHint::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    ver_chroma_filter_idc = static_cast<uint8_t>(r.getBits(8));
    hor_chroma_filter_idc = static_cast<uint8_t>(r.getBits(8));
    ver_filtering_field_processing_flag = r.getFlag();
    if (ver_chroma_filter_idc == 1 || hor_chroma_filter_idc == 1)
        target_format_idc = r.getUe();
    auto filters = [&r](uint32_t& count) {
        count = r.getUe();
        // Every tap length and coefficient takes at least one bit; the
        // payload limit ends a damaged count.
        for (uint64_t i = 0; i < count; ++i) {
            const uint32_t tap_length_minus1 = r.getUe();
            for (uint64_t j = 0; j <= tap_length_minus1; ++j)
                r.getSe();  // filter_coeff[i][j]
        }
    };
    if (ver_chroma_filter_idc == 1)
        filters(num_vertical_filters);
    if (hor_chroma_filter_idc == 1)
        filters(num_horizontal_filters);
}

void KneeFunctionInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    knee_function_id = r.getUe();
    knee_function_cancel_flag = r.getFlag();
    if (knee_function_cancel_flag)
        return;
    knee_function_persistence_flag = r.getFlag();
    input_d_range = r.getBits(32);
    input_disp_luminance = r.getBits(32);
    output_d_range = r.getBits(32);
    output_disp_luminance = r.getBits(32);
    num_knee_points_minus1 = r.getUe();
    for (uint64_t i = 0; i <= num_knee_points_minus1; ++i) {
        pushCapped(input_knee_point, r.getBits(10));
        pushCapped(output_knee_point, r.getBits(10));
    }
}

void ColourRemappingInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    colour_remap_id = r.getUe();
    colour_remap_cancel_flag = r.getFlag();
    if (colour_remap_cancel_flag)
        return;
    colour_remap_persistence_flag = r.getFlag();
    colour_remap_video_signal_info_present_flag = r.getFlag();
    if (colour_remap_video_signal_info_present_flag) {
        colour_remap_full_range_flag = r.getFlag();
        colour_remap_primaries = static_cast<uint8_t>(r.getBits(8));
        colour_remap_transfer_function = static_cast<uint8_t>(r.getBits(8));
        colour_remap_matrix_coefficients = static_cast<uint8_t>(r.getBits(8));
    }
    colour_remap_input_bit_depth = static_cast<uint8_t>(r.getBits(8));
    colour_remap_bit_depth = static_cast<uint8_t>(r.getBits(8));
    const unsigned inBits = ((colour_remap_input_bit_depth + 7u) >> 3) << 3;
    const unsigned outBits = ((colour_remap_bit_depth + 7u) >> 3) << 3;
    auto lut = [&r](unsigned codedBits, unsigned targetBits) {
        for (int c = 0; c < 3; ++c) {
            const uint32_t num_val_minus1 = r.getBits(8);
            if (num_val_minus1 > 0)
                for (uint32_t i = 0; i <= num_val_minus1; ++i) {
                    r.getBits(codedBits);   // lut_coded_value[c][i]
                    r.getBits(targetBits);  // lut_target_value[c][i]
                }
        }
    };
    lut(inBits, outBits);  // pre_lut
    colour_remap_matrix_present_flag = r.getFlag();
    if (colour_remap_matrix_present_flag) {
        log2_matrix_denom = static_cast<uint8_t>(r.getBits(4));
        for (auto& row : colour_remap_coeffs)
            for (auto& v : row)
                v = r.getSe();
    }
    lut(outBits, outBits);  // post_lut
}

void ContentLightLevelInfo::parse(BitstreamReader& r, uint32_t, const ParameterSets&, NALUnit&) {
    max_content_light_level = static_cast<uint16_t>(r.getBits(16));
    max_pic_average_light_level = static_cast<uint16_t>(r.getBits(16));
}

}  // namespace HEVC
