// H.264 parsing checked against real x264 output, with ffprobe and ffmpeg's
// trace_headers filter as the outside judges.

#include "bitstream/common/bit_reader.h"
#include "bitstream/h264/nal_data.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"
#include "bitstream/stream_fixtures.h"
#include "support/nal_builder.h"
#include "support/test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

using namespace H264;

namespace {

struct Case {
    const char* name;
    const char* args;
    unsigned chromaFormat, bitDepth;
};

// 8-bit High with B-frames and four slices per picture; 10-bit High 10 with a
// picture size that needs cropping and a fractional rate; 4:2:2 interlaced
// (field coding, so frame_mbs_only_flag is 0).
const Case kCases[] = {
    {"bits_h264_high8.h264",
     "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 20 -pix_fmt yuv420p -c:v libx264 -profile:v high -bf 2 "
     "-x264-params slices=4:aud=1:colorprim=bt709:transfer=bt709:colormatrix=bt709",
     1, 8},
    {"bits_h264_high10.h264",
     "-f lavfi -i testsrc2=size=322x242:rate=30000/1001 -frames:v 16 -pix_fmt yuv420p10le -c:v libx264 "
     "-profile:v high10 -bf 3 -x264-params aud=1:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:"
     "fullrange=on",
     1, 10},
    {"bits_h264_422i.h264",
     "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -pix_fmt yuv422p -c:v libx264 -profile:v high422 "
     "-x264-params interlaced=1:aud=1:slices=2",
     2, 8},
};

class H264Stream : public ::testing::TestWithParam<Case> {};

TEST_P(H264Stream, ParameterSetsMatchFfprobeAndSlicesMatchTrace) {
    const Case& c = GetParam();
    const auto s = bitstest::loadStream(c.name, c.args);
    ASSERT_FALSE(s.path.empty()) << "ffmpeg could not make " << c.name;
    auto probe = testmedia::probeStreams(s.path).at(0);

    std::map<uint32_t, SequenceParameterSet> spsById;
    std::map<uint32_t, PictureParameterSet> ppsById;
    std::vector<SliceHeader> slices;
    for (const auto& n : s.nals) {
        const uint8_t* p = s.data(n);
        const uint8_t type = nalType(p[0]);
        std::string problem;
        if (type == SPS) {
            SequenceParameterSet sps;
            ASSERT_EQ(parseSequenceParameterSet(p, n.size, sps, problem), bitstream::ParseResult::Ok) << problem;
            spsById[sps.seq_parameter_set_id] = sps;
        } else if (type == PPS) {
            PictureParameterSet pps;
            ASSERT_EQ(parsePictureParameterSet(p, n.size, pps, problem), bitstream::ParseResult::Ok) << problem;
            ppsById[pps.pic_parameter_set_id] = pps;
        } else if (isSlice(type)) {
            SliceHeaderStart start;
            ASSERT_TRUE(readSliceHeaderStart(p, n.size, start));
            ASSERT_TRUE(ppsById.count(start.pic_parameter_set_id));
            const auto& pps = ppsById[start.pic_parameter_set_id];
            ASSERT_TRUE(spsById.count(pps.seq_parameter_set_id));
            bitstream::BitReader r(p + 1, n.size - 1, bitstream::Emulation::Drop);
            SliceHeader sh;
            ASSERT_EQ(parseSliceHeader(r, type, SliceContext::from(spsById[pps.seq_parameter_set_id], pps), sh,
                                       problem),
                      bitstream::ParseResult::Ok)
                << problem;
            EXPECT_EQ(sh.slice_type, start.slice_type);
            slices.push_back(sh);
        }
    }
    ASSERT_EQ(spsById.size(), 1u);
    const SequenceParameterSet& sps = spsById.begin()->second;
    EXPECT_EQ(sps.chroma_format_idc, c.chromaFormat);
    EXPECT_EQ(sps.bitDepthLuma(), c.bitDepth);
    EXPECT_EQ(std::to_string(sps.bitDepthLuma()), probe["bits_per_raw_sample"]);
    ASSERT_TRUE(sps.vui_parameters_present_flag);
    bitstest::expectMatchesProbe(bitstest::factsOf(sps, sps.level_idc), probe);

    // Every slice header against ffmpeg's own reading of it.
    const auto trace = bitstest::traceSlices(s.path, "first_mb_in_slice");
    ASSERT_EQ(trace.size(), slices.size());
    for (size_t i = 0; i < slices.size(); ++i) {
        SCOPED_TRACE("slice " + std::to_string(i));
        EXPECT_EQ(slices[i].first_mb_in_slice, trace[i].at("first_mb_in_slice"));
        EXPECT_EQ(slices[i].slice_type, trace[i].at("slice_type"));
        EXPECT_EQ(slices[i].pic_parameter_set_id, trace[i].at("pic_parameter_set_id"));
        EXPECT_EQ(slices[i].frame_num, trace[i].at("frame_num"));
        EXPECT_EQ(slices[i].pic_order_cnt_lsb, trace[i].at("pic_order_cnt_lsb"));
        if (trace[i].count("field_pic_flag")) {
            EXPECT_EQ(slices[i].field_pic_flag, trace[i].at("field_pic_flag") != 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(X264, H264Stream, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.name;
    return n.substr(10, n.find('.') - 10);
});

// The reference walk over MP4-style samples: one line per distinct pattern.
// x264 puts its version SEI in the first access unit only; B-frames do not
// change the pattern (nal_unit_type 1 for every non-IDR slice).
TEST(H264NalData, PrintsNalseqLinesOfRealSamples) {
    const auto s = bitstest::loadStream(kCases[0].name, kCases[0].args);
    ASSERT_FALSE(s.path.empty());
    std::vector<uint8_t> sps, pps;
    for (const auto& n : s.nals) {
        const uint8_t t = nalType(s.data(n)[0]);
        if (t == SPS && sps.empty())
            sps.assign(s.data(n), s.data(n) + n.size);
        if (t == PPS && pps.empty())
            pps.assign(s.data(n), s.data(n) + n.size);
    }
    NalData::ParameterSets ref{sps.data(), sps.size(), pps.data(), pps.size()};
    NalData data;
    const auto samples = bitstest::lengthPrefixedSamples(s, false);
    ASSERT_EQ(samples.size(), 20u);
    for (const auto& sample : samples)
        data.seq_analyze(sample.data(), sample.size(), ref);
    std::ostringstream out;
    data.printSequences(out);
    EXPECT_EQ(out.str(), "nalseq 0: 09 06 05 05 05 05 \nnalseq 1: 09 01 01 01 01 \n\n");
    // The reference SPS was decoded before the first sample.
    EXPECT_EQ(data.state().profile_idc, 100);
    EXPECT_EQ(data.state().width, 320u);
    EXPECT_EQ(data.state().height, 240u);
}

// Every unit cut short at every length (see bitstest::forEachPrefix) parses
// without reading outside it; short SPS prefixes are reported, not accepted.
TEST(H264StreamTruncated, UnitsCutAtEveryLength) {
    const auto s = bitstest::loadStream(kCases[1].name, kCases[1].args);
    ASSERT_FALSE(s.path.empty());
    NalDecoderState st;
    size_t malformed = 0;
    bitstest::forEachPrefix(s, [&](const uint8_t* p, size_t len) {
        NALDEC(st, p, len);
        std::string problem;
        SequenceParameterSet sps;
        if (len > 0 && nalType(p[0]) == SPS && parseSequenceParameterSet(p, len, sps, problem) != bitstream::ParseResult::Ok)
            ++malformed;
        PictureParameterSet pps;
        parsePictureParameterSet(p, len, pps, problem);
        // The prefix as a sample: the length field claims more than is there.
        NalData nd;
        nd.seq_analyze(p, len, NalData::ParameterSets{p, len, p, len});
    });
    EXPECT_GT(malformed, 0u);
}

}  // namespace
