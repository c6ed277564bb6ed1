// The problems the parsers report for out-of-range values, on small
// hand-written parameter sets and headers.

#include "bitstream/h264/nal_data.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/slice.h"
#include "platform/file.h"
#include "support/log_capture.h"
#include "support/test_support.h"
#include "support/nal_builder.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Bytes;
using BitWriter = testsupport::RbspWriter;

// A 64x64 4:2:0 8-bit SPS with one short-term set (one picture back).
Bytes hevcSps() {
    BitWriter w({0x42, 0x01});
    w.u(4, 0).u(3, 0).u(1, 1);                            // vps id, max_sub_layers_minus1, nesting
    w.u(2, 0).u(1, 0).u(5, 1).u(32, 0x60000000).u(4, 0x9).u(32, 0).u(12, 0).u(8, 93);  // profile_tier_level
    w.ue(0).ue(1).ue(64).ue(64).u(1, 0);                  // sps id, chroma, width, height, no window
    w.ue(0).ue(0).ue(4);                                  // bit depths, log2_max_pic_order_cnt_lsb_minus4
    w.u(1, 1).ue(4).ue(0).ue(0);                          // sub-layer ordering
    w.ue(0).ue(3).ue(0).ue(3).ue(0).ue(0);                // block sizes, hierarchy depths
    w.u(1, 0).u(1, 0).u(1, 0).u(1, 0);                    // scaling lists, amp, sao, pcm
    w.ue(1).ue(1).ue(0).ue(0).u(1, 1);                    // one st_ref_pic_set: one negative picture, used
    w.u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0);            // long-term, tmvp, smoothing, vui, extension
    return w.finish();
}

Bytes hevcPps(unsigned ppsId, unsigned spsId) {
    BitWriter w({0x44, 0x01});
    w.ue(ppsId).ue(spsId).u(1, 0).u(1, 0).u(3, 0).u(1, 0).u(1, 0);  // ids, dependent, output, extra bits, sdh, cabac init
    w.ue(0).ue(0).se(0).u(1, 0).u(1, 0).u(1, 0);                    // ref idx defaults, init_qp_minus26, flags
    w.se(0).se(0).u(1, 1).u(1, 1).u(1, 0).u(1, 0).u(1, 0).u(1, 0);  // chroma offsets (slice offsets present), weighted_pred
    w.u(1, 0).u(1, 1).u(1, 1).u(1, 0).se(0).se(0);                  // across slices, deblocking control with override
    w.u(1, 0).u(1, 0).ue(0).u(1, 1).u(1, 0);                        // scaling, lists mod, merge level, header extension
    return w.finish();
}

std::shared_ptr<HEVC::Slice> parseSlice(HEVC::ParameterSets& maps, const Bytes& nal) {
    std::string error;
    auto unit = HEVC::parseNalUnit(maps, nal.data(), nal.size(), &error);
    EXPECT_TRUE(error.empty()) << error;
    return std::dynamic_pointer_cast<HEVC::Slice>(unit);
}

class HevcRangeChecks : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& nal : {hevcSps(), hevcPps(0, 0), hevcPps(1, 5)}) {
            std::string error;
            HEVC::parseNalUnit(maps, nal.data(), nal.size(), &error);
            ASSERT_TRUE(error.empty()) << error;
        }
        ASSERT_EQ(maps.sps.size(), 1u);
        ASSERT_EQ(maps.pps.size(), 2u);
    }
    HEVC::ParameterSets maps;
};

TEST_F(HevcRangeChecks, SliceWithUnknownParameterSetsStopsAtTheLookup) {
    auto slice = parseSlice(maps, BitWriter({0x02, 0x01}).u(1, 1).ue(3).ue(1).finish());
    ASSERT_TRUE(slice);
    EXPECT_EQ(slice->problems(), "Slice: slice_pic_parameter_set_id=3, but PPS with this id not exists; ");
    EXPECT_EQ(slice->slice_type, HEVC::kSliceTypeUnknown);

    slice = parseSlice(maps, BitWriter({0x02, 0x01}).u(1, 1).ue(1).ue(1).finish());
    ASSERT_TRUE(slice);
    EXPECT_EQ(slice->problems(), "Slice: pps_seq_parameter_set_id=5, but SPS with this id not exists; ");
}

TEST_F(HevcRangeChecks, OutOfRangeValuesAreRecordedAndKept) {
    BitWriter w({0x02, 0x01});                    // TRAIL_R
    w.u(1, 1).ue(0).ue(1).u(8, 1).u(1, 1);        // first slice, PPS 0, P, poc lsb, the SPS's short-term set
    w.u(1, 1).ue(15);                             // num_ref_idx_active_override_flag, l0 = 15
    w.ue(9).se(0);                                // pred_weight_table: luma_log2_weight_denom 9
    for (int i = 0; i < 16; ++i)
        w.u(1, 0);                                // luma_weight_l0_flag[i]
    for (int i = 0; i < 16; ++i)
        w.u(1, 0);                                // chroma_weight_l0_flag[i]
    w.ue(5).se(26).se(13).se(-13);                // merge candidates, qp delta, chroma offsets
    w.u(1, 1).u(1, 0).se(7).se(-7);               // deblocking override with offsets
    w.ue(300);                                    // slice_segment_header_extension_length
    for (int i = 0; i < 300; ++i)
        w.u(8, 0xA5);
    auto slice = parseSlice(maps, w.finish());
    ASSERT_TRUE(slice);
    EXPECT_EQ(slice->problems(),
              "Slice: num_ref_idx_l0_active_minus1=15, but must be in range (0-14); "
              "pred_weight_table.luma_log2_weight_denom=9, but must be in range (0-7); "
              "Slice: five_minus_max_num_merge_cand=5, but must be in range (0-4); "
              "Slice: slice_qp_delta=26, but must be in range (-26 25); "
              "Slice: slice_cb_qp_offset=13, but must be in range (-12 +12); "
              "Slice: slice_cr_qp_offset=-13, but must be in range (-12 +12); "
              "Slice: slice_beta_offset_div2=7, but must be in range (-6 +6); "
              "Slice: slice_tc_offset_div2=-7, but must be in range (-6 +6); "
              "slice_segment_header_extension_length=300, but must be in range (0-256); ");
    EXPECT_EQ(slice->slice_type, HEVC::SLICE_P);
    EXPECT_EQ(slice->five_minus_max_num_merge_cand, 5u);
    EXPECT_EQ(slice->slice_qp_delta, 26);
    EXPECT_EQ(slice->NumPicTotalCurr, 1u);
}

TEST_F(HevcRangeChecks, SliceTypeOutOfRange) {
    // slice_type 3 is neither P nor B: qp delta, chroma offsets, no override, no extension follow.
    auto slice = parseSlice(
        maps, BitWriter({0x02, 0x01}).u(1, 1).ue(0).ue(3).u(8, 0).u(1, 1).se(0).se(0).se(0).u(1, 0).ue(0).finish());
    ASSERT_TRUE(slice);
    EXPECT_EQ(slice->problems(), "Slice: slice_type=3, but must be in range (0-2); ");
}

TEST(H264NalDecoder, LogsItsErrorsWithThePrefix) {
    testsupport::LogCapture log(LogLevel::Debug);
    H264::NalDecoderState st;
    const uint8_t forbidden[] = {0x85, 0x00};
    H264::NALDEC(st, forbidden, sizeof forbidden);
    const uint8_t type14[] = {0x6E, 0x00};
    H264::NALDEC(st, type14, sizeof type14);
    EXPECT_EQ(st.nal_unit_type, 14);
    EXPECT_EQ(st.nal_ref_idc, 3);
    // profile 66, constraint flags 1100 then reserved bits 0101.
    const uint8_t badSps[] = {0x67, 66, 0xC5, 30, 0xF8};
    H264::NALDEC(st, badSps, sizeof badSps);
    EXPECT_EQ(st.profile_idc, 66);
    EXPECT_EQ(st.level_idc, 0);
    EXPECT_EQ(st.width, 0u);
    EXPECT_EQ(log.text(),
              "[ERROR] NALDEC : first bit not zero!\n"
              "[ERROR] NALDEC : Unsupported NAL-type - 14!\n"
              "[ERROR] NALDEC : seq_param_set zero expected!\n");
}

// From memory and, as the reference walk reads them, from the file.
TEST(H264NalData, KeepsAtMostAHundredPatterns) {
    H264::NalData data, fromFile;
    H264::NalData::ParameterSets none;
    // Samples of n access unit delimiters: a new pattern each time.
    const Bytes aud = testsupport::lengthPrefixed({{0x09, 0xF0}});
    Bytes sample;
    const std::string name = testsupport::scratchDir("NalDataPatterns") + "/samples.bin";
    for (int n = 1; n <= 101; ++n) {
        sample = testsupport::concat({sample, aud});
        data.seq_analyze(sample.data(), sample.size(), none);
        data.seq_analyze(sample.data(), sample.size(), none);  // the same pattern again adds nothing
        ASSERT_TRUE(testsupport::writeFile(name, sample));
        platform::File file;
        ASSERT_TRUE(file.open(name, platform::File::Mode::Read));
        fromFile.seq_analyze(file, 0, uint32_t(sample.size()), none);
    }
    EXPECT_EQ(data.sequences().size(), 100u);
    EXPECT_EQ(data.sequences().back().size(), 100u);
    EXPECT_EQ(fromFile.sequences(), data.sequences());
}

TEST(H264NalData, SampleIsWalkedOverItsFirstEightMebibytes) {
    H264::NalData data;
    H264::NalData::ParameterSets none;
    // An AUD, then a unit that ends 10 bytes past the 8 MiB cap.
    const size_t aud = 6;
    const Bytes sample = testsupport::lengthPrefixed(
        {{0x09, 0xF0}, Bytes(H264::NalData::kMaxSampleBytes - aud - 4 + 10, 0x41)});
    data.seq_analyze(sample.data(), sample.size(), none);
    ASSERT_EQ(data.sequences().size(), 1u);
    EXPECT_EQ(H264::NalData::sequenceText(data.sequences()[0]), "09 ");
}

}  // namespace
