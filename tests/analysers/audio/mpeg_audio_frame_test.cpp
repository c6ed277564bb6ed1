// MPEG audio frame chains over real MP3 data.

#include "analysers/audio/mpeg_audio_frame.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"

#include "scan/scan_buffer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

TEST(MpegAudioFrame, ChainFollowsRealMp3AndStopsAtForeignData) {
    const std::string mp3 = testsupport::fixture(
        "mpeg_audio_chain.mp3", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 -c:a libmp3lame -b:a 128k "
                                "-write_xing 0 -id3v2_version 0");
    std::vector<uint8_t> bytes = testsupport::readFile(mp3);
    ASSERT_GT(bytes.size(), 1000u);
    ASSERT_GT(bitstream::mpegAudioFrameLength(bytes.data()), 0);
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
    const int32_t first = bitstream::mpegAudioFrameLength(bytes.data());
    EXPECT_EQ(mp3FrameChain(input, 0, first * 2 + 3, chain), first * 2);
    EXPECT_EQ(frameCount(chain), 2u);
}
