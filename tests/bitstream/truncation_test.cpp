// Every real NAL unit cut short at every length (the part the parsers read)
// parses without reading outside its buffer: each prefix sits in a heap block
// of exactly its size, so AddressSanitizer builds catch any over-read. HEVC
// prefixes fail with the reader's error or parse with fewer fields; H.264
// ones log and keep going.

#include "bitstream/h264/nal_data.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/stream_fixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Prefixes up to this length are tried one by one; headers and parameter
// sets lie well inside it.
constexpr size_t kPrefixLimit = 400;
constexpr size_t kUnitsPerStream = 12;

template <typename F>
void forEachPrefix(const bitstest::Stream& s, F&& f) {
    for (size_t i = 0; i < s.nals.size() && i < kUnitsPerStream; ++i) {
        const auto& n = s.nals[i];
        for (size_t len = 0; len <= n.size && len <= kPrefixLimit; ++len) {
            std::unique_ptr<uint8_t[]> p(new uint8_t[len ? len : 1]);
            std::copy(s.data(n), s.data(n) + len, p.get());
            f(p.get(), len);
        }
    }
}

TEST(Truncation, H264UnitsCutAtEveryLength) {
    const auto s = bitstest::loadStream(
        "bits_h264_high10.h264",
        "-f lavfi -i testsrc2=size=322x242:rate=30000/1001 -frames:v 16 -pix_fmt yuv420p10le -c:v libx264 "
        "-profile:v high10 -bf 3 -x264-params aud=1:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:"
        "fullrange=on");
    ASSERT_FALSE(s.path.empty());
    H264::NalDecoderState st;
    size_t malformed = 0;
    forEachPrefix(s, [&](const uint8_t* p, size_t len) {
        H264::NALDEC(st, p, len);
        std::string problem;
        H264::SequenceParameterSet sps;
        if (len > 0 && (p[0] & 0x1F) == 7 &&
            H264::parseSequenceParameterSet(p, len, sps, problem) != bitstream::ParseResult::Ok)
            ++malformed;
        H264::PictureParameterSet pps;
        H264::parsePictureParameterSet(p, len, pps, problem);
        // The prefix as a sample: the length field claims more than is there.
        H264::NalData nd;
        nd.seq_analyze(p, len, H264::NalData::ParameterSets{p, len, p, len});
    });
    EXPECT_GT(malformed, 0u);  // short SPS prefixes are reported, not accepted
}

TEST(Truncation, HevcUnitsCutAtEveryLength) {
    const auto s = bitstest::loadStream(
        "bits_hevc_422.hevc",
        "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 12 -pix_fmt yuv422p10le -c:v libx265 "
        "-profile:v main422-10 -x265-params log-level=error:aud=1:hrd=1:vbv-bufsize=2000:vbv-maxrate=1000:"
        "weightp=1:colorprim=bt470bg:transfer=smpte170m:colormatrix=bt470bg");
    ASSERT_FALSE(s.path.empty());
    // Parameter sets of the whole stream first, so slices get parsed deeply.
    HEVC::ParameterSets full;
    for (const auto& n : s.nals)
        HEVC::parseNalUnit(full, s.data(n), n.size, nullptr);
    size_t failed = 0;
    forEachPrefix(s, [&](const uint8_t* p, size_t len) {
        HEVC::ParameterSets maps = full;
        std::string error;
        if (!HEVC::parseNalUnit(maps, p, len, &error) && !error.empty())
            ++failed;
    });
    EXPECT_GT(failed, 0u);
}

}  // namespace
