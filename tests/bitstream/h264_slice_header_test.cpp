// The whole slice header of real x264 output under the settings that reach
// every part of it (weighted prediction, B-pyramids that mark references,
// CAVLC and CABAC, fields, deblocking offsets, high bit depth and chroma):
// every slice keeps the rules, and random bytes behind a slice's first
// fields almost never do.

#include "bitstream/common/bit_reader.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"
#include "bitstream/stream_fixtures.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

using namespace H264;

namespace {

struct Settings {
    const char* name;
    const char* encode;
};

void PrintTo(const Settings& s, std::ostream* os) { *os << s.name; }

class WholeSliceHeader : public ::testing::TestWithParam<Settings> {};

// The slices of the stream with the contexts of its own parameter sets.
struct Slices {
    size_t read = 0, holding = 0, pictures = 0;
};

Slices judgeSlices(const bitstest::Stream& s) {
    std::map<uint32_t, SequenceParameterSet> sps;
    std::map<uint32_t, PictureParameterSet> pps;
    Slices out;
    std::string problem;
    for (const bitstest::Stream::Nal& n : s.nals) {
        const uint8_t* unit = s.data(n);
        const uint8_t type = nalType(unit[0]);
        if (type == SPS) {
            SequenceParameterSet p;
            if (parseSequenceParameterSet(unit, n.size, p, problem) == bitstream::ParseResult::Ok)
                sps[p.seq_parameter_set_id] = p;
        } else if (type == PPS) {
            PictureParameterSet p;
            if (parsePictureParameterSet(unit, n.size, p, problem) != bitstream::ParseResult::Malformed)
                pps[p.pic_parameter_set_id] = p;
        } else if (type == 1 || type == 5) {
            SliceHeaderStart start;
            if (!readSliceHeaderStart(unit, n.size, start) || !pps.count(start.pic_parameter_set_id))
                continue;
            const PictureParameterSet& p = pps[start.pic_parameter_set_id];
            const SliceContext context = SliceContext::from(sps[p.seq_parameter_set_id], p);
            bitstream::BitReader r(unit + 1, n.size - 1, bitstream::Emulation::Drop);
            SliceHeader header;
            ++out.read;
            out.pictures += start.first_mb_in_slice == 0;
            if (parseSliceHeader(r, type, context, header, problem) == bitstream::ParseResult::Ok &&
                sliceHeaderTailHolds(r, unit[0], context, header))
                ++out.holding;
        }
    }
    return out;
}

}  // namespace

TEST_P(WholeSliceHeader, EverySliceOfTheEncoderHolds) {
    const Settings& settings = GetParam();
    const auto s = bitstest::loadStream(std::string("bits_h264_header_") + settings.name + ".h264",
                                        std::string("-f lavfi -i testsrc2=size=256x144:rate=25 -frames:v 40 ") +
                                            settings.encode);
    ASSERT_FALSE(s.path.empty());
    const Slices slices = judgeSlices(s);
    EXPECT_GE(slices.pictures, 40u);
    EXPECT_EQ(slices.holding, slices.read);
}

INSTANTIATE_TEST_SUITE_P(
    X264, WholeSliceHeader,
    ::testing::Values(
        Settings{"cabac_pyramid_weights", "-c:v libx264 -bf 3 -x264-params b-pyramid=normal:weightp=2:weightb=1"},
        Settings{"cavlc_slices_deblock", "-c:v libx264 -coder 0 -bf 2 -x264-params slices=3:deblock=-3,2"},
        Settings{"fields", "-c:v libx264 -bf 2 -flags +ildct -x264-params interlaced=1:tff=1"},
        Settings{"high10_422", "-pix_fmt yuv422p10le -c:v libx264 -bf 2 -x264-params weightp=1"},
        Settings{"high444_no_deblock", "-pix_fmt yuv444p -c:v libx264 -bf 1 -x264-params no-deblock=1"},
        Settings{"baseline_refs", "-c:v libx264 -profile:v baseline -x264-params ref=4"}),
    [](const auto& info) { return std::string(info.param.name); });

// A slice's own first fields with random bytes behind them: what a chance
// "slice" in sound looks like once its first fields pass.
TEST(WholeSliceHeader, RandomBytesBehindTheFirstFieldsRarelyHold) {
    const auto s = bitstest::loadStream("bits_h264_header_cabac_pyramid_weights.h264",
                                        "-f lavfi -i testsrc2=size=256x144:rate=25 -frames:v 40 -c:v libx264 -bf 3 "
                                        "-x264-params b-pyramid=normal:weightp=2:weightb=1");
    ASSERT_FALSE(s.path.empty());
    SequenceParameterSet sps;
    PictureParameterSet pps;
    std::string problem;
    for (const bitstest::Stream::Nal& n : s.nals) {
        if (nalType(s.data(n)[0]) == SPS)
            parseSequenceParameterSet(s.data(n), n.size, sps, problem);
        if (nalType(s.data(n)[0]) == PPS)
            parsePictureParameterSet(s.data(n), n.size, pps, problem);
    }
    const SliceContext context = SliceContext::from(sps, pps);
    std::mt19937 rng(5);
    size_t holding = 0;
    constexpr size_t kTries = 20000;
    for (size_t i = 0; i < kTries; ++i) {
        // A B slice at macroblock 0 naming PPS 0, as the header byte 0x01 and
        // the bits 1 00111 1 say; then chance.
        uint8_t unit[64] = {0x01, 0x9E};
        for (size_t k = 2; k < sizeof unit; ++k)
            unit[k] = uint8_t(rng());
        bitstream::BitReader r(unit + 1, sizeof unit - 1, bitstream::Emulation::Drop);
        SliceHeader header;
        if (parseSliceHeader(r, 1, context, header, problem) == bitstream::ParseResult::Ok &&
            sliceHeaderTailHolds(r, unit[0], context, header))
            ++holding;
    }
    EXPECT_LT(holding, kTries / 20);
}
