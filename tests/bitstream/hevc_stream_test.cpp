// HEVC parsing checked against real x265 output, with ffprobe and ffmpeg's
// trace_headers filter as the outside judges.

#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/hevc_utils.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/pps.h"
#include "bitstream/hevc/sei.h"
#include "bitstream/hevc/slice.h"
#include "bitstream/hevc/sps.h"
#include "bitstream/hevc/vps.h"
#include "bitstream/stream_fixtures.h"
#include "support/nal_builder.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

using namespace HEVC;

namespace {

struct Case {
    const char* name;
    const char* args;
    unsigned chromaFormat, bitDepth;
    std::set<uint32_t> seiTypes;  // SEI payload types the stream must carry
};

// Main with B-frames, two slices per picture, the version SEI and MD5
// picture hashes; Main 10 with HDR metadata, full range and a conformance
// window; 4:2:2 10-bit (range extension) with HRD timing SEI and weighted
// prediction.
const Case kCases[] = {
    {"bits_hevc_main.hevc",
     "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 20 -pix_fmt yuv420p -c:v libx265 -x265-params "
     "log-level=error:slices=2:aud=1:bframes=3:colorprim=bt709:transfer=bt709:colormatrix=bt709:info=1:hash=1",
     1, 8, {5, 132}},
    {"bits_hevc_main10.hevc",
     "-f lavfi -i testsrc2=size=330x250:rate=30000/1001 -frames:v 16 -pix_fmt yuv420p10le -c:v libx265 "
     "-profile:v main10 -x265-params 'log-level=error:aud=1:hdr10=1:colorprim=bt2020:transfer=smpte2084:"
     "colormatrix=bt2020nc:range=full:master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)"
     "L(10000000,1):max-cll=1000,400'",
     1, 10, {137, 144}},
    {"bits_hevc_422.hevc",
     "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 12 -pix_fmt yuv422p10le -c:v libx265 "
     "-profile:v main422-10 -x265-params log-level=error:aud=1:hrd=1:vbv-bufsize=2000:vbv-maxrate=1000:"
     "weightp=1:colorprim=bt470bg:transfer=smpte170m:colormatrix=bt470bg",
     2, 10, {0, 1}},
};

class Collect : public HevcParser::Consumer {
public:
    std::vector<std::shared_ptr<NALUnit>> units;
    std::vector<std::string> failures;
    void onNalUnit(const std::shared_ptr<NALUnit>& unit, uint8_t type, int64_t offset,
                   const std::string& error) override {
        if (!error.empty())
            failures.push_back(HevcNalTypeName(type) + " at " + std::to_string(offset) + ": " + error);
        if (unit)
            units.push_back(unit);
    }
};

class HevcStream : public ::testing::TestWithParam<Case> {};

TEST_P(HevcStream, ParameterSetsMatchFfprobeAndSlicesMatchTrace) {
    const Case& c = GetParam();
    const auto s = bitstest::loadStream(c.name, c.args);
    ASSERT_FALSE(s.path.empty()) << "ffmpeg could not make " << c.name;
    auto probe = testmedia::probeStreams(s.path).at(0);

    HevcParser parser;
    Collect got;
    parser.addConsumer(&got);
    parser.process(s.bytes.data(), s.bytes.size(), 0);
    EXPECT_TRUE(got.failures.empty()) << got.failures.front();

    std::vector<std::shared_ptr<Slice>> slices;
    std::set<uint32_t> seiTypes;
    for (const auto& u : got.units) {
        EXPECT_FALSE(u->hasProblems()) << HevcNalTypeName(u->nal_unit_type) << ": " << u->problems();
        if (auto sl = std::dynamic_pointer_cast<Slice>(u))
            slices.push_back(sl);
        if (auto sei = std::dynamic_pointer_cast<SEI>(u))
            for (const auto& m : sei->sei_message) {
                seiTypes.insert(m.payloadType);
                if (auto md = std::dynamic_pointer_cast<MasteringDisplayInfo>(m.payload)) {
                    EXPECT_EQ(md->display_primaries_x[0], 13250);  // G first, as the option lists them
                    EXPECT_EQ(md->white_point_y, 16450);
                    EXPECT_EQ(md->max_display_mastering_luminance, 10000000u);
                }
                if (auto cll = std::dynamic_pointer_cast<ContentLightLevelInfo>(m.payload)) {
                    EXPECT_EQ(cll->max_content_light_level, 1000);
                    EXPECT_EQ(cll->max_pic_average_light_level, 400);
                }
                if (auto ud = std::dynamic_pointer_cast<UserDataUnregistered>(m.payload)) {
                    const std::string text(ud->user_data_payload_byte.begin(), ud->user_data_payload_byte.end());
                    EXPECT_NE(text.find("x265"), std::string::npos);
                }
            }
    }
    for (uint32_t t : c.seiTypes)
        EXPECT_TRUE(seiTypes.count(t)) << "no SEI payload type " << t;

    const auto& maps = parser.parameterSets();
    ASSERT_EQ(maps.vps.size(), 1u);
    ASSERT_EQ(maps.sps.size(), 1u);
    ASSERT_EQ(maps.pps.size(), 1u);
    const SPS& sps = *maps.sps.begin()->second;
    EXPECT_EQ(sps.chroma_format_idc, c.chromaFormat);
    EXPECT_EQ(sps.bitDepthLuma(), c.bitDepth);
    ASSERT_TRUE(sps.vui_parameters_present_flag);
    bitstest::expectMatchesProbe(bitstest::factsOf(sps, sps.profile_tier_level.general_level_idc), probe);

    // Every slice header against ffmpeg's own reading of it; the elements
    // compared sit at the start, the middle and the end of the header.
    const auto trace = bitstest::traceSlices(s.path, "first_slice_segment_in_pic_flag");
    ASSERT_EQ(trace.size(), slices.size());
    for (size_t i = 0; i < slices.size(); ++i) {
        SCOPED_TRACE("slice " + std::to_string(i));
        const Slice& sl = *slices[i];
        const std::map<std::string, int64_t> mine = {
            {"slice_pic_parameter_set_id", sl.slice_pic_parameter_set_id},
            {"slice_segment_address", sl.slice_segment_address},
            {"slice_type", sl.slice_type},
            {"slice_pic_order_cnt_lsb", sl.slice_pic_order_cnt_lsb},
            {"num_ref_idx_l0_active_minus1", sl.num_ref_idx_l0_active_minus1},
            {"collocated_ref_idx", sl.collocated_ref_idx},
            {"five_minus_max_num_merge_cand", sl.five_minus_max_num_merge_cand},
            {"slice_qp_delta", sl.slice_qp_delta},
            {"num_entry_point_offsets", sl.num_entry_point_offsets},
            {"offset_len_minus1", sl.offset_len_minus1}};
        for (const auto& [name, value] : mine)
            if (trace[i].count(name)) {
                EXPECT_EQ(value, trace[i].at(name)) << name;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(X265, HevcStream, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.name;
    return n.substr(10, n.find('.') - 10);
});

// The reference walk over MP4-style samples primed from an hvcC: every slice
// parses, picture order counts come out as the display order (one IDR, so
// 0..N-1, each picture once), and the patterns print as nalseq lines.
TEST(HevcUtils, WalksRealSamplesWithPictureOrderCounts) {
    const auto s = bitstest::loadStream(kCases[0].name, kCases[0].args);
    ASSERT_FALSE(s.path.empty());
    // An hvcC record made of the stream's first VPS, SPS and PPS.
    std::vector<testsupport::HvccArray> arrays;
    for (uint8_t type : {32, 33, 34})
        for (const auto& n : s.nals)
            if (((s.data(n)[0] >> 1) & 0x3F) == type) {
                arrays.push_back({type, {testsupport::Bytes(s.data(n), s.data(n) + n.size)}});
                break;
            }
    const auto hvcc = testsupport::hvcC(arrays);
    unsigned lengthSize = 0;
    const auto units = hvccUnits(hvcc.data(), hvcc.size(), &lengthSize);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(lengthSize, 4u);

    HevcUtils utils;
    std::vector<int64_t> pocs;
    const auto samples = bitstest::lengthPrefixedSamples(s, true);
    ASSERT_EQ(samples.size(), 20u);
    for (const auto& sample : samples) {
        utils.seq_analyze(sample.data(), sample.size(), units, lengthSize);
        int64_t picturePoc = HevcUtils::kNoPoc;
        for (const auto& u : utils.lastSample()) {
            EXPECT_TRUE(u.error.empty()) << u.error;
            EXPECT_TRUE(u.problems.empty()) << u.problems;
            if (u.poc == HevcUtils::kNoPoc)
                continue;
            if (picturePoc == HevcUtils::kNoPoc)
                picturePoc = u.poc;
            EXPECT_EQ(u.poc, picturePoc);  // both slices of a picture
        }
        pocs.push_back(picturePoc);
    }
    ASSERT_NE(utils.bestSps(), nullptr);
    std::sort(pocs.begin(), pocs.end());
    for (size_t i = 0; i < pocs.size(); ++i)
        EXPECT_EQ(pocs[i], int64_t(i));

    // AUD, prefix SEI (version, first picture only), two slices, suffix SEI
    // (MD5): IDR first, then reference and non-reference trailing pictures.
    std::ostringstream out;
    utils.printSequences(out);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("nalseq 0: 23 27 14 14 28 \n", 0), 0u) << text;
    EXPECT_NE(text.find(": 23 01 01 28 \n"), std::string::npos) << text;
    EXPECT_NE(text.find(": 23 00 00 28 \n"), std::string::npos) << text;
    EXPECT_EQ(utils.sequences().size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

// Every unit cut short at every length (see bitstest::forEachPrefix) fails
// with the reader's error or parses with fewer fields.
TEST(HevcStreamTruncated, UnitsCutAtEveryLength) {
    const auto s = bitstest::loadStream(kCases[2].name, kCases[2].args);
    ASSERT_FALSE(s.path.empty());
    // Parameter sets of the whole stream first, so slices get parsed deeply.
    ParameterSets full;
    for (const auto& n : s.nals)
        parseNalUnit(full, s.data(n), n.size, nullptr);
    size_t failed = 0;
    bitstest::forEachPrefix(s, [&](const uint8_t* p, size_t len) {
        ParameterSets maps = full;
        std::string error;
        if (!parseNalUnit(maps, p, len, &error) && !error.empty())
            ++failed;
    });
    EXPECT_GT(failed, 0u);
}

}  // namespace
