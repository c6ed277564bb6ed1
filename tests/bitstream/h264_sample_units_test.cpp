// H.264 samples as a movie stores them (length-prefixed NAL units), picture
// order counts, checked on real x264 output with ffmpeg
// and ffprobe as the outside judges.

#include "bitstream/common/bit_reader.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/picture_order_count.h"
#include "bitstream/h264/sample_units.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"
#include "bitstream/stream_fixtures.h"
#include "support/nal_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace H264;

namespace {

using testsupport::Bytes;

// A 4-byte length and a NAL unit of `length` bytes (header included).
Bytes nal(uint8_t header, uint32_t length) {
    Bytes unit(length, 0x5A);
    unit[0] = header;
    return testsupport::lengthPrefixed({unit});
}

bool passes(const Bytes& b, int64_t n = -1) {
    NalUnitCheck c;
    return nalUnitCheck(b.data(), n < 0 ? int64_t(b.size()) : n, c);
}

// x264 with B-frames, two slices per picture and two IDR periods, in an MP4
// (whose packet timestamps say when each picture is shown) and as the raw
// stream taken out of it, without x264's version SEI (which sits in front
// of the first access unit delimiter).
struct PocFixture {
    std::string mp4;
    bitstest::Stream raw;
};

PocFixture pocFixture() {
    PocFixture f;
    f.mp4 = testsupport::fixture("bits_h264_poc.mp4",
                                 "-f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 40 -c:v libx264 -crf 12 -bf 3 "
                                 "-x264-params aud=1:slices=2:keyint=20:min-keyint=20:scenecut=0");
    f.raw = bitstest::loadStream("bits_h264_poc.h264",
                                     "-i " + testsupport::quote(f.mp4) + " -c copy -bsf:v h264_mp4toannexb,filter_units=remove_types=6");
    return f;
}

}  // namespace

TEST(H264SampleUnits, NalUnitTestBounds) {
    EXPECT_FALSE(passes(nal(0x41, 31)));  // slice below 32 bytes
    EXPECT_TRUE(passes(nal(0x41, 32)));
    EXPECT_TRUE(passes(nal(0x65, 1499999)));
    EXPECT_FALSE(passes(nal(0x65, 1500000)));
    EXPECT_TRUE(passes(nal(0x06, 799)));  // SEI
    EXPECT_FALSE(passes(nal(0x06, 800)));
    EXPECT_TRUE(passes(nal(13, 2)));
    // The short units keep their fixed syntax: a delimiter is one byte of
    // primary_pic_type and stop bit, the end markers are a header alone, and
    // none of them (nor an SEI) has nal_ref_idc set. Audio bytes that end in
    // 00 00 00 06 6B looked like a 6-byte end of stream before.
    EXPECT_TRUE(passes(Bytes{0, 0, 0, 2, 0x09, 0x10}));
    EXPECT_TRUE(passes(Bytes{0, 0, 0, 2, 0x09, 0xF0}));
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 2, 0x09, 0x11}));
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 3, 0x09, 0x10, 0x00}));
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 2, 0x29, 0x10}));
    for (uint8_t type : {10, 11}) {
        EXPECT_TRUE(passes(Bytes{0, 0, 0, 1, type})) << int(type);
        EXPECT_FALSE(passes(Bytes{0, 0, 0, 2, type, 0x80})) << int(type);
    }
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 6, 0x6B, 0xFA, 0x6D, 0x2E, 0xAC, 0xDC}));
    EXPECT_FALSE(passes(nal(0x26, 40)));  // SEI with nal_ref_idc
    // In-band parameter sets, data partitions, filler and auxiliary slices
    // never make a sample.
    for (uint8_t type : {2, 3, 4, 7, 8, 12, 19, 14, 0})
        EXPECT_FALSE(passes(nal(uint8_t(0x60 | type), 40))) << int(type);
    EXPECT_FALSE(passes(nal(0xC1, 40)));  // forbidden_zero_bit
    // The unit must fit the bytes available; a zero length never passes.
    const Bytes b = nal(0x41, 100);
    EXPECT_FALSE(passes(b, 103));
    EXPECT_TRUE(passes(b, 104));
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 0, 0x41, 1, 2, 3}));
    EXPECT_FALSE(passes(Bytes{0, 0, 0, 1}));
}

TEST(H264SampleUnits, RealSamplesTileAndInBandParameterSetsDoNot) {
    const PocFixture f = pocFixture();
    const auto samples = bitstest::lengthPrefixedSamples(f.raw, false);
    ASSERT_EQ(samples.size(), 40u);
    for (const auto& s : samples) {
        const SampleTiling t = tileSample(s.data(), int64_t(s.size()));
        EXPECT_TRUE(t.exact);
        EXPECT_EQ(t.slices, 2u);
        EXPECT_EQ(t.firstUnitType, AUD);
        EXPECT_EQ(firstSlicePpsId(s.data(), int64_t(s.size())), 0);
        // One byte short of the units' end is no tiling.
        EXPECT_FALSE(tileSample(s.data(), int64_t(s.size()) - 1).exact);
    }
    // The IDR access units carry SPS and PPS in the raw stream; a sample
    // holding them is not one a movie stores.
    const auto withSets = bitstest::lengthPrefixedSamples(f.raw, false, true);
    EXPECT_FALSE(tileSample(withSets[0].data(), int64_t(withSets[0].size())).exact);
}

TEST(H264PictureOrderCount, FollowsTheLsbAcrossItsWrap) {
    // MaxPicOrderCntLsb 16: reference pictures at 0, 6, 12; lsb 2 of a
    // non-reference picture then is 18, but it moves no base: lsb 10 behind
    // it is 10, not 26. Lsb 4 of the next reference picture is 20, and lsb
    // 14 behind that (half a cycle or more back) is 14, shown before it.
    SequenceParameterSet sps;
    sps.pic_order_cnt_type = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 0;
    PictureOrderCount order(sps);
    auto next = [&](bool idr, bool reference, uint32_t lsb) {
        SliceHeader sh;
        sh.pic_order_cnt_lsb = lsb;
        return order.next(idr, reference, sh);
    };
    EXPECT_EQ(next(true, true, 0), 0);
    EXPECT_EQ(next(false, true, 6), 6);
    EXPECT_EQ(next(false, true, 12), 12);
    EXPECT_EQ(next(false, false, 2), 18);
    EXPECT_EQ(next(false, false, 10), 10);
    EXPECT_EQ(next(false, true, 4), 20);
    EXPECT_EQ(next(false, false, 14), 14);
    // An IDR picture starts over.
    EXPECT_EQ(next(true, true, 4), 4);
}
