// H.264 units of real x264 output: the reference walk's nalseq lines, and
// every unit cut short.

#include "bitstream/h264/nal_data.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/stream_fixtures.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace H264;

namespace {

using bitstest::Fixture;

// 8-bit High with B-frames and four slices per picture; 10-bit High 10 with a
// picture size that needs cropping and a fractional rate.
const Fixture kHigh8 = {
    "bits_h264_high8.h264",
    "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 20 -pix_fmt yuv420p -c:v libx264 -profile:v high -bf 2 "
    "-x264-params slices=4:aud=1:colorprim=bt709:transfer=bt709:colormatrix=bt709"};
const Fixture kHigh10 = {
    "bits_h264_high10.h264",
    "-f lavfi -i testsrc2=size=322x242:rate=30000/1001 -frames:v 16 -pix_fmt yuv420p10le -c:v libx264 "
    "-profile:v high10 -bf 3 -x264-params aud=1:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:"
    "fullrange=on"};

// The reference walk over MP4-style samples: one line per distinct pattern.
// x264 puts its version SEI in the first access unit only; B-frames do not
// change the pattern (nal_unit_type 1 for every non-IDR slice).
TEST(H264NalData, PrintsNalseqLinesOfRealSamples) {
    const auto s = bitstest::loadStream(kHigh8.name, kHigh8.args);
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
    const auto s = bitstest::loadStream(kHigh10.name, kHigh10.args);
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
