// MPEG audio frame lengths and frame chains over real MP3 data.

#include "analysers/audio/mpeg_audio_frame.h"

#include "scan/scan_buffer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>

namespace {

int32_t lengthOf(std::array<uint8_t, 4> h) { return mpegAudioFrameLength(h.data()); }

}  // namespace

TEST(MpegAudioFrame, LengthFromHeader) {
    // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 144000 * 128 / 44100 = 417.
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0x90, 0x64}), 417);
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0x92, 0x64}), 418);  // padding bit
    // MPEG-1 layer III at 48 kHz: 144000 * 128 / 48000 = 384.
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0x94, 0x64}), 384);
    // MPEG-2 layer III, 64 kbit/s, 24 kHz: 72000 * 64 / 24000 = 192.
    EXPECT_EQ(lengthOf({0xFF, 0xF3, 0x84, 0x00}), 192);
    // MPEG-1 layer II, 192 kbit/s, 48 kHz: 144000 * 192 / 48000 = 576.
    EXPECT_EQ(lengthOf({0xFF, 0xFD, 0xA4, 0x00}), 576);
    // MPEG-1 layer I, 384 kbit/s, 48 kHz: (12000 * 384 / 48000) * 4 = 384.
    EXPECT_EQ(lengthOf({0xFF, 0xFF, 0xC4, 0x00}), 384);
}

TEST(MpegAudioFrame, InvalidHeadersGiveZero) {
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0xF0, 0x64}), 0);  // bitrate index 15
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0x00, 0x64}), 0);  // bitrate index 0 (free format)
    EXPECT_EQ(lengthOf({0xFF, 0xFB, 0x9C, 0x64}), 0);  // sample rate index 3
    EXPECT_EQ(lengthOf({0xFF, 0xEB, 0x90, 0x64}), 0);  // reserved version
    EXPECT_EQ(lengthOf({0xFF, 0xF9, 0x90, 0x64}), 0);  // reserved layer
    EXPECT_EQ(lengthOf({0xFE, 0xFB, 0x90, 0x64}), 0);  // no sync
    EXPECT_EQ(lengthOf({0xFF, 0xDB, 0x90, 0x64}), 0);
}

TEST(MpegAudioFrame, ChainFollowsRealMp3AndStopsAtForeignData) {
    const std::string mp3 = testsupport::fixture(
        "mpeg_audio_chain.mp3", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a libmp3lame -b:a 128k "
                                "-write_xing 0 -id3v2_version 0");
    ASSERT_FALSE(mp3.empty());
    std::vector<uint8_t> bytes = testsupport::readFile(mp3);
    ASSERT_GT(bytes.size(), 1000u);
    ASSERT_GT(mpegAudioFrameLength(bytes.data()), 0);
    const size_t expected = testsupport::framemd5(mp3).size();

    FrameChain chain;
    EXPECT_EQ(mp3FrameChain(bytes.data(), int32_t(bytes.size()), 1000, chain), int64_t(bytes.size()));
    EXPECT_EQ(frameCount(chain), expected);
    EXPECT_EQ(chain.front(), 1000);

    // Garbage behind the frames ends the chain at the last whole frame; a
    // cut-off last frame is not part of it.
    const int64_t lastStart = chain[chain.size() - 2] - 1000;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + lastStart + 10);
    cut.insert(cut.end(), 64, 0x55);
    EXPECT_EQ(mp3FrameChain(cut.data(), int32_t(cut.size()), 0, chain), lastStart);
    EXPECT_EQ(frameCount(chain), expected - 1);

    // Through the input reader, limited by the byte count (48 kHz at
    // 128 kbit/s gives frames of one size).
    ScanBuffer input;
    ASSERT_TRUE(input.open(mp3));
    const int32_t first = mpegAudioFrameLength(bytes.data());
    EXPECT_EQ(mp3FrameChain(input, 0, first * 2 + 3, chain), first * 2);
    EXPECT_EQ(frameCount(chain), 2u);
}
