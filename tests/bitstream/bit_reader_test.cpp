// The bit readers' limits that real streams do not reach: reads across the
// end, counts above 32 bits, the longest Exp-Golomb codes, emulation
// prevention next to the end; SEI payloads that lie about their size.

#include "bitstream/common/bit_reader.h"
#include "bitstream/common/nal_span.h"
#include "bitstream/h264/h264_bit_reader.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/sei.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using bitstream::BitReader;
using bitstream::Emulation;

namespace {

// Heap copy of exactly n bytes, so AddressSanitizer sees any read past it.
std::unique_ptr<uint8_t[]> exact(std::initializer_list<uint8_t> bytes) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), p.get());
    return p;
}

TEST(BitReader, OverReadYieldsZerosAndIsCounted) {
    auto buf = exact({0xFF, 0xFF});
    BitReader r(buf.get(), 2);
    EXPECT_EQ(r.readBits(12), 0xFFFu);
    EXPECT_EQ(r.readBits(8), 0xF0u);  // four real bits, four missing
    EXPECT_TRUE(r.overRead());
    EXPECT_EQ(r.bitsLeft(), -4);
    EXPECT_EQ(r.readBits(32), 0u);
    EXPECT_EQ(r.bitsLeft(), -36);
    EXPECT_FALSE(r.ok());
    r.skipBits(1000);
    EXPECT_EQ(r.bitsLeft(), -1036);

    BitReader empty(nullptr, 10);
    EXPECT_EQ(empty.readUE(), 0u);
    EXPECT_FALSE(empty.ok());
}

TEST(BitReader, BitCountAbove32AndLongGolombCodesAreInvalid) {
    auto buf = exact({0, 0, 0, 0, 0x80, 0, 0, 0, 0});
    BitReader r(buf.get(), 9);
    EXPECT_EQ(r.readBits(33), 0u);
    EXPECT_TRUE(r.invalid());

    // 32 leading zeros: more than a 32-bit code can hold.
    BitReader g(buf.get(), 9);
    EXPECT_EQ(g.readUE(), 0u);
    EXPECT_TRUE(g.invalid());
    EXPECT_FALSE(g.overRead());

    // 31 zeros is the longest valid code: 2^31 - 1 + suffix.
    auto max = exact({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE});
    BitReader m(max.get(), 8);
    EXPECT_EQ(m.readUE(), 0xFFFFFFFEu);
    EXPECT_TRUE(m.ok());
}

TEST(BitReader, DropsEmulationPreventionBytes) {
    auto buf = exact({0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00, 0x03});
    BitReader keep(buf.get(), 11);
    EXPECT_EQ(keep.readBits(32), 0x00000301u);
    BitReader drop(buf.get(), 11, Emulation::Drop);
    EXPECT_EQ(drop.readBits(24), 0x000001u);
    // 0x03 after a single zero is data.
    auto one = exact({0xFF, 0x00, 0x03, 0x01});
    EXPECT_EQ(BitReader(one.get(), 4, Emulation::Drop).readBits(32), 0xFF000301u);
    // The second 0x03 after a dropped one follows no zeros and is data.
    EXPECT_EQ(drop.readBits(24), 0x000003u);
    EXPECT_EQ(drop.readBits(16), 0x0000u);
    // A trailing 0x03 is skipped as well; the reader then stands at the end.
    EXPECT_EQ(drop.bitsLeft(), 0);
    EXPECT_TRUE(drop.ok());
}

TEST(H264SpsPayload, OnlyTwoZerosMakeAnEscape) {
    // The SPS is unescaped into a copy before it is parsed; 00 03 after a
    // non-zero byte is data there too.
    const uint8_t sps[] = {0x64, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01, 0x80};
    uint8_t rbsp[8] = {};
    ASSERT_EQ(H264::unescapeSpsPayload(sps, sizeof sps, rbsp, sizeof rbsp), 7u);
    EXPECT_EQ(std::vector<uint8_t>(rbsp, rbsp + 7), (std::vector<uint8_t>{0x64, 0x00, 0x03, 0x00, 0x00, 0x01, 0x80}));
}

TEST(H264BitReader, TakesALengthInBits) {
    auto buf = exact({0x80, 0x00, 0xFF});
    H264BitReader r(buf.get(), 16);
    EXPECT_EQ(r.readUe(), 0u);
    EXPECT_EQ(r.readBits(15), 0u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.readBits(1), 0u);  // the third byte lies outside the given length
    EXPECT_FALSE(r.ok());
}

TEST(HevcBitstreamReader, RaisesAtTheEndAndOnBadCounts) {
    auto buf = exact({0x00, 0x00, 0x03, 0x01});
    HEVC::BitstreamReader r(buf.get(), 4);
    EXPECT_EQ(r.showBits(24), 0x000001u);
    EXPECT_EQ(r.getBits(24), 0x000001u);  // 00 00 03 01 reads as 00 00 01
    try {
        r.getBit();
        FAIL() << "no error at the end";
    } catch (const HEVC::BitstreamError& e) {
        EXPECT_STREQ(e.what(), "BitstreamReader: not enought data");
    }
    HEVC::BitstreamReader n(buf.get(), 4);
    try {
        n.getBits(33);
        FAIL() << "no error for 33 bits";
    } catch (const HEVC::BitstreamError& e) {
        EXPECT_STREQ(e.what(), "BitstreamReader num=33");
    }
    EXPECT_EQ(n.getBits(0), 0u);

    auto zeros = exact({0, 0, 0, 0, 0xFF});
    HEVC::BitstreamReader z(zeros.get(), 5);
    EXPECT_EQ(z.getUe(), 0u);  // 32 leading zeros
}

TEST(HevcSei, LongPayloadTypeIsSkippedBySize) {
    // Prefix SEI: payloadType FF FF 05 = 515, size 2, its payload, then a
    // recovery point (type 6, size 1: recovery_poc_cnt 0 and both flags set,
    // bits 111) and the stop bit.
    auto nal = exact({0x4E, 0x01, 0xFF, 0xFF, 0x05, 0x02, 0xAB, 0xCD, 0x06, 0x01, 0xE0, 0x80});
    HEVC::ParameterSets maps;
    std::string error;
    auto unit = HEVC::parseNalUnit(maps, nal.get(), 12, &error);
    ASSERT_TRUE(unit) << error;
    auto sei = std::dynamic_pointer_cast<HEVC::SEI>(unit);
    ASSERT_TRUE(sei);
    ASSERT_EQ(sei->sei_message.size(), 2u);
    EXPECT_EQ(sei->sei_message[0].payloadType, 515u);
    EXPECT_EQ(sei->sei_message[0].payloadSize, 2u);
    EXPECT_FALSE(sei->sei_message[0].payload);
    auto rp = std::dynamic_pointer_cast<HEVC::RecoveryPoint>(sei->sei_message[1].payload);
    ASSERT_TRUE(rp);
    EXPECT_EQ(rp->recovery_poc_cnt, 0);
    EXPECT_TRUE(rp->exact_match_flag);
    EXPECT_TRUE(rp->broken_link_flag);
    EXPECT_FALSE(unit->hasProblems());
}

TEST(HevcSei, PayloadLargerThanTheUnitIsAProblem) {
    auto nal = exact({0x4E, 0x01, 0x05, 0x40, 0x01, 0x02, 0x80});
    HEVC::ParameterSets maps;
    std::string error;
    auto unit = HEVC::parseNalUnit(maps, nal.get(), 7, &error);
    ASSERT_TRUE(unit) << error;
    EXPECT_EQ(unit->problems(), "SEI: sei message payload size more then nal unit size (payloadSize=64); ");
}

TEST(NalSpans, LengthPrefixedWalkStopsAtAUnitThatDoesNotFit) {
    auto buf = exact({0, 0, 0, 2, 0x09, 0xF0, 0, 0, 0, 0, 0, 0, 0, 9, 0x41});
    bitstream::LengthPrefixedNals walk(buf.get(), 15);
    bitstream::NalSpan n;
    ASSERT_TRUE(walk.next(n));
    EXPECT_EQ(n.offset, 4u);
    EXPECT_EQ(n.size, 2u);
    ASSERT_TRUE(walk.next(n));  // a zero length is a (empty) unit
    EXPECT_EQ(n.size, 0u);
    EXPECT_FALSE(walk.next(n));  // 9 bytes claimed, 1 left
    EXPECT_TRUE(walk.stopped());

    auto annexb = exact({0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0x00, 0x00});
    const auto units = bitstream::splitAnnexB(annexb.get(), 12);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].size, 2u);
    EXPECT_EQ(units[1].size, 1u);  // trailing zeros belong to no unit
}

}  // namespace
