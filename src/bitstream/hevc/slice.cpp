#include "bitstream/hevc/slice.h"

#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/parameter_sets.h"
#include "bitstream/hevc/pps.h"
#include "bitstream/hevc/sps.h"

#include <cstdio>

namespace HEVC {

namespace {

const char* const P = "Slice: ";

unsigned ceilLog2(uint64_t v) {
    unsigned n = 0;
    while ((uint64_t(1) << n) < v)
        ++n;
    return n;
}

// Damaged headers can claim billions of entries; they are all read (the data
// bounds that) but only this many are kept.
constexpr size_t kMaxStoredEntries = 1024;

template <typename T, typename V>
void pushCapped(std::vector<T>& v, V value) {
    if (v.size() < kMaxStoredEntries)
        v.push_back(static_cast<T>(value));
}

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

}  // namespace

void Slice::parse(BitstreamReader& r, ParameterSets& maps) {
    first_slice_segment_in_pic_flag = r.getFlag();
    if (isIrap(nal_unit_type))
        no_output_of_prior_pics_flag = r.getFlag();
    slice_pic_parameter_set_id = r.getUe();
    const auto ppsIt = maps.pps.find(slice_pic_parameter_set_id);
    if (ppsIt == maps.pps.end()) {
        addProblem(format("Slice: slice_pic_parameter_set_id=%d, but PPS with this id not exists",
                          int(slice_pic_parameter_set_id)));
        return;
    }
    const PPS& pps = *ppsIt->second;
    const auto spsIt = maps.sps.find(pps.pps_seq_parameter_set_id);
    if (spsIt == maps.sps.end()) {
        addProblem(format("Slice: pps_seq_parameter_set_id=%d, but SPS with this id not exists",
                          int(pps.pps_seq_parameter_set_id)));
        return;
    }
    const SPS& sps = *spsIt->second;
    spsId = sps.sps_seq_parameter_set_id;
    maps.activeSpsId = spsId;

    if (!first_slice_segment_in_pic_flag) {
        if (pps.dependent_slice_segments_enabled_flag)
            dependent_slice_segment_flag = r.getFlag();
        slice_segment_address = r.getBits(ceilLog2(sps.PicSizeInCtbsY));
    }
    if (!dependent_slice_segment_flag) {
        r.skipBits(pps.num_extra_slice_header_bits);  // slice_reserved_flag[i]
        slice_type = r.getUe();
        checkRange(*this, P, "slice_type", slice_type, 0, 2);
        if (pps.output_flag_present_flag)
            pic_output_flag = r.getFlag();
        if (sps.separate_colour_plane_flag)
            colour_plane_id = static_cast<uint8_t>(r.getBits(2));
        uint32_t usedLt = 0;
        const ShortTermRefPicSet* rps = nullptr;
        if (!isIdr(nal_unit_type)) {
            const uint32_t lsbBits = sps.log2_max_pic_order_cnt_lsb_minus4 + 4;
            if (lsbBits > 32)
                addProblem("Slice: pic_order_cnt_lsb size more then 32 bits");
            slice_pic_order_cnt_lsb = r.getBits(lsbBits);
            short_term_ref_pic_set_sps_flag = r.getFlag();
            if (!short_term_ref_pic_set_sps_flag) {
                parseShortTermRefPicSet(r, *this, P, sps.num_short_term_ref_pic_sets, sps.num_short_term_ref_pic_sets,
                                        sps.short_term_ref_pic_set, short_term_ref_pic_set);
                rps = &short_term_ref_pic_set;
            } else {
                if (sps.num_short_term_ref_pic_sets > 1)
                    short_term_ref_pic_set_idx = r.getBits(ceilLog2(sps.num_short_term_ref_pic_sets));
                if (short_term_ref_pic_set_idx < sps.short_term_ref_pic_set.size())
                    rps = &sps.short_term_ref_pic_set[short_term_ref_pic_set_idx];
                else
                    addProblem(format("Slice: m_spsMap[spsId]->short_term_ref_pic_set[%d] invalid index size=%d",
                                      int(short_term_ref_pic_set_idx), int(sps.short_term_ref_pic_set.size())));
            }
            if (sps.long_term_ref_pics_present_flag) {
                if (sps.num_long_term_ref_pics_sps > 0) {
                    num_long_term_sps = r.getUe();
                    checkRange(*this, P, "num_long_term_sps", num_long_term_sps, 0, sps.num_long_term_ref_pics_sps);
                }
                num_long_term_pics = r.getUe();
                // Each entry takes at least one bit, so the reader bounds this loop.
                const uint64_t total = uint64_t(num_long_term_sps) + num_long_term_pics;
                for (uint64_t i = 0; i < total; ++i) {
                    if (i < num_long_term_sps) {
                        uint32_t idx = 0;
                        if (sps.num_long_term_ref_pics_sps > 1)
                            idx = r.getBits(ceilLog2(sps.num_long_term_ref_pics_sps));
                        pushCapped(lt_idx_sps, idx);
                        if (idx < sps.used_by_curr_pic_lt_sps_flag.size() && sps.used_by_curr_pic_lt_sps_flag[idx])
                            ++usedLt;
                    } else {
                        pushCapped(poc_lsb_lt, r.getBits(lsbBits));
                        const bool used = r.getFlag();
                        pushCapped(used_by_curr_pic_lt_flag, used);
                        usedLt += used ? 1 : 0;
                    }
                    const bool msbPresent = r.getFlag();
                    pushCapped(delta_poc_msb_present_flag, msbPresent);
                    pushCapped(delta_poc_msb_cycle_lt, msbPresent ? r.getUe() : 0);
                }
            }
            if (sps.sps_temporal_mvp_enabled_flag)
                slice_temporal_mvp_enabled_flag = r.getFlag();
        }
        NumPicTotalCurr = (rps ? rps->usedByCurrCount() : 0) + usedLt + (pps.pps_curr_pic_ref_enabled_flag ? 1 : 0);

        if (sps.sample_adaptive_offset_enabled_flag) {
            slice_sao_luma_flag = r.getFlag();
            if (sps.ChromaArrayType != 0)
                slice_sao_chroma_flag = r.getFlag();
        }
        if (slice_type == SLICE_P || slice_type == SLICE_B) {
            const bool isB = slice_type == SLICE_B;
            num_ref_idx_l0_active_minus1 = pps.num_ref_idx_l0_default_active_minus1;
            num_ref_idx_l1_active_minus1 = isB ? pps.num_ref_idx_l1_default_active_minus1 : 0;
            num_ref_idx_active_override_flag = r.getFlag();
            if (num_ref_idx_active_override_flag) {
                num_ref_idx_l0_active_minus1 = r.getUe();
                checkRange(*this, P, "num_ref_idx_l0_active_minus1", num_ref_idx_l0_active_minus1, 0, 14);
                if (isB) {
                    num_ref_idx_l1_active_minus1 = r.getUe();
                    checkRange(*this, P, "num_ref_idx_l1_active_minus1", num_ref_idx_l1_active_minus1, 0, 14);
                }
            }
            if (pps.lists_modification_present_flag && NumPicTotalCurr > 1) {
                const unsigned bits = ceilLog2(NumPicTotalCurr);
                ref_pic_list_modification_flag_l0 = r.getFlag();
                if (ref_pic_list_modification_flag_l0)
                    for (uint64_t i = 0; i <= num_ref_idx_l0_active_minus1; ++i)
                        pushCapped(list_entry_l0, r.getBits(bits));
                if (isB) {
                    ref_pic_list_modification_flag_l1 = r.getFlag();
                    if (ref_pic_list_modification_flag_l1)
                        for (uint64_t i = 0; i <= num_ref_idx_l1_active_minus1; ++i)
                            pushCapped(list_entry_l1, r.getBits(bits));
                }
            }
            if (isB)
                mvd_l1_zero_flag = r.getFlag();
            if (pps.cabac_init_present_flag)
                cabac_init_flag = r.getFlag();
            if (slice_temporal_mvp_enabled_flag) {
                if (isB)
                    collocated_from_l0_flag = r.getFlag();
                const uint32_t maxIdx =
                    collocated_from_l0_flag ? num_ref_idx_l0_active_minus1 : num_ref_idx_l1_active_minus1;
                if (maxIdx > 0) {
                    collocated_ref_idx = r.getUe();
                    checkRange(*this, P, "max_collocated_ref_idx", collocated_ref_idx, 0, maxIdx);
                }
            }
            if ((pps.weighted_pred_flag && slice_type == SLICE_P) || (pps.weighted_bipred_flag && isB)) {
                // pred_weight_table()
                luma_log2_weight_denom = r.getUe();
                if (luma_log2_weight_denom > 7)
                    addProblem(format("pred_weight_table.luma_log2_weight_denom=%d, but must be in range (0-7)",
                                      int(luma_log2_weight_denom)));
                if (sps.ChromaArrayType != 0)
                    delta_chroma_log2_weight_denom = r.getSe();
                for (int list = 0; list < (isB ? 2 : 1); ++list) {
                    const uint64_t n = uint64_t(list == 0 ? num_ref_idx_l0_active_minus1 : num_ref_idx_l1_active_minus1) + 1;
                    std::vector<bool> lumaFlags, chromaFlags;
                    for (uint64_t i = 0; i < n; ++i)
                        lumaFlags.push_back(r.getFlag());  // luma_weight_lX_flag[i]
                    if (sps.ChromaArrayType != 0)
                        for (uint64_t i = 0; i < n; ++i)
                            chromaFlags.push_back(r.getFlag());  // chroma_weight_lX_flag[i]
                    for (uint64_t i = 0; i < n; ++i) {
                        if (lumaFlags[i]) {
                            r.getSe();  // delta_luma_weight_lX[i]
                            r.getSe();  // luma_offset_lX[i]
                        }
                        if (!chromaFlags.empty() && chromaFlags[i])
                            for (int j = 0; j < 2; ++j) {
                                r.getSe();  // delta_chroma_weight_lX[i][j]
                                r.getSe();  // delta_chroma_offset_lX[i][j]
                            }
                    }
                }
            }
            five_minus_max_num_merge_cand = r.getUe();
            if (five_minus_max_num_merge_cand > 4)
                addProblem(format("Slice: five_minus_max_num_merge_cand=%d, but must be in range (0-4)",
                                  int(five_minus_max_num_merge_cand)));
            if (sps.motion_vector_resolution_control_idc == 2)
                use_integer_mv_flag = r.getFlag();
        }
        slice_qp_delta = r.getSe();
        {
            const int lo = -26 - 6 * int(sps.bit_depth_luma_minus8) - pps.init_qp_minus26;
            const int hi = 25 - pps.init_qp_minus26;
            if (slice_qp_delta < lo || slice_qp_delta > hi)
                addProblem(format("Slice: slice_qp_delta=%d, but must be in range (%d %d)", int(slice_qp_delta), lo, hi));
        }
        if (pps.pps_slice_chroma_qp_offsets_present_flag) {
            slice_cb_qp_offset = r.getSe();
            if (slice_cb_qp_offset < -12 || slice_cb_qp_offset > 12)
                addProblem(format("Slice: slice_cb_qp_offset=%d, but must be in range (-12 +12)", int(slice_cb_qp_offset)));
            slice_cr_qp_offset = r.getSe();
            if (slice_cr_qp_offset < -12 || slice_cr_qp_offset > 12)
                addProblem(format("Slice: slice_cr_qp_offset=%d, but must be in range (-12 +12)", int(slice_cr_qp_offset)));
        }
        if (pps.pps_slice_act_qp_offsets_present_flag) {
            slice_act_y_qp_offset = r.getSe();
            slice_act_cb_qp_offset = r.getSe();
            slice_act_cr_qp_offset = r.getSe();
        }
        if (pps.chroma_qp_offset_list_enabled_flag)
            cu_chroma_qp_offset_enabled_flag = r.getFlag();
        if (pps.deblocking_filter_override_enabled_flag)
            deblocking_filter_override_flag = r.getFlag();
        slice_deblocking_filter_disabled_flag = pps.pps_deblocking_filter_disabled_flag;
        slice_beta_offset_div2 = pps.pps_beta_offset_div2;
        slice_tc_offset_div2 = pps.pps_tc_offset_div2;
        if (deblocking_filter_override_flag) {
            slice_deblocking_filter_disabled_flag = r.getFlag();
            if (!slice_deblocking_filter_disabled_flag) {
                slice_beta_offset_div2 = r.getSe();
                if (slice_beta_offset_div2 < -6 || slice_beta_offset_div2 > 6)
                    addProblem(format("Slice: slice_beta_offset_div2=%d, but must be in range (-6 +6)",
                                      int(slice_beta_offset_div2)));
                slice_tc_offset_div2 = r.getSe();
                if (slice_tc_offset_div2 < -6 || slice_tc_offset_div2 > 6)
                    addProblem(format("Slice: slice_tc_offset_div2=%d, but must be in range (-6 +6)",
                                      int(slice_tc_offset_div2)));
            }
        }
        slice_loop_filter_across_slices_enabled_flag = pps.pps_loop_filter_across_slices_enabled_flag;
        if (pps.pps_loop_filter_across_slices_enabled_flag &&
            (slice_sao_luma_flag || slice_sao_chroma_flag || !slice_deblocking_filter_disabled_flag))
            slice_loop_filter_across_slices_enabled_flag = r.getFlag();
    }
    if (pps.tiles_enabled_flag || pps.entropy_coding_sync_enabled_flag) {
        num_entry_point_offsets = r.getUe();
        uint64_t maxOffsets = 0;
        const uint64_t tiles = uint64_t(pps.num_tile_columns_minus1 + 1) * (pps.num_tile_rows_minus1 + 1);
        if (!pps.tiles_enabled_flag)
            maxOffsets = sps.PicHeightInCtbsY - 1;
        else if (!pps.entropy_coding_sync_enabled_flag)
            maxOffsets = tiles - 1;
        else
            maxOffsets = uint64_t(pps.num_tile_columns_minus1 + 1) * sps.PicHeightInCtbsY - 1;
        if (num_entry_point_offsets > maxOffsets)
            addProblem(format("num_entry_point_offsets=%d, but must be in range (0-%d)", int(num_entry_point_offsets),
                              int(maxOffsets)));
        if (num_entry_point_offsets > 0) {
            offset_len_minus1 = r.getUe();
            if (offset_len_minus1 > 31)
                addProblem(format("offset_len_minus1=%d, but must be in range (0-31)", int(offset_len_minus1)));
            // Each offset takes at least one bit; running out of data ends the loop.
            for (uint64_t i = 0; i < num_entry_point_offsets; ++i)
                pushCapped(entry_point_offset_minus1, 
                    r.getBits(offset_len_minus1 < 32 ? offset_len_minus1 + 1 : 33));
        }
    }
    if (pps.slice_segment_header_extension_present_flag) {
        slice_segment_header_extension_length = r.getUe();
        if (slice_segment_header_extension_length > kMaxSliceSegmentHeaderExtension)
            addProblem(format("slice_segment_header_extension_length=%d, but must be in range (0-256)",
                              int(slice_segment_header_extension_length)));
        r.skipBits(uint64_t(slice_segment_header_extension_length) * 8);  // slice_segment_header_extension_data_byte
    }
}

}  // namespace HEVC
