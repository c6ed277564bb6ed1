// MPEG audio frame headers read from real encoder output, with ffprobe's
// packets as the outside judge of each frame's length and duration.

#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace bitstream;

namespace {

struct Case {
    const char* name;
    const char* args;
    MpegAudioVersion version;
};

// Each MPEG version and both layers ffmpeg can encode; 44.1 kHz makes the
// encoder pad every other frame, 11.025 kHz is an MPEG-2.5 rate.
// No Xing/Info frame and no ID3 tag in the MP3 files: they hold frames only.
const Case kCases[] = {
    {"mpa_mp3_44k_stereo.mp3", "-ar 44100 -ac 2 -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0",
     MpegAudioVersion::Mpeg1},
    {"mpa_mp3_22k_mono.mp3", "-ar 22050 -ac 1 -c:a libmp3lame -b:a 64k -write_xing 0 -id3v2_version 0",
     MpegAudioVersion::Mpeg2},
    {"mpa_mp3_11k_mono.mp3", "-ar 11025 -ac 1 -c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0",
     MpegAudioVersion::Mpeg25},
    {"mpa_mp2_48k_stereo.mp2", "-ar 48000 -ac 2 -c:a mp2 -b:a 192k", MpegAudioVersion::Mpeg1},
    {"mpa_mp2_24k_mono.mp2", "-ar 24000 -ac 1 -c:a mp2 -b:a 64k", MpegAudioVersion::Mpeg2},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string fixture(const Case& c) {
    return testsupport::fixture(c.name, std::string("-f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.5 ") + c.args);
}

std::vector<uint8_t> load(const Case& c) {
    return testsupport::readFile(fixture(c));
}

}  // namespace

class MpegAudioStream : public ::testing::TestWithParam<Case> {};

TEST_P(MpegAudioStream, EveryFrameHeaderMatchesFfprobe) {
    const Case& c = GetParam();
    const std::string path = fixture(c);
    const std::vector<uint8_t> bytes = testsupport::readFile(path);
    const auto streams = testmedia::probeStreams(path);
    ASSERT_EQ(streams.size(), 1u);
    const auto& stream = streams[0];
    const int64_t sampleRate = std::stoll(stream.at("sample_rate"));
    long long tbNum = 0, tbDen = 0;
    ASSERT_EQ(std::sscanf(stream.at("time_base").c_str(), "%lld/%lld", &tbNum, &tbDen), 2);
    const auto packets = testmedia::probePackets(path);
    ASSERT_GT(packets.size(), 5u);

    for (const testmedia::Packet& k : packets) {
        ASSERT_TRUE(k.pos >= 0 && size_t(k.pos) + 4 <= bytes.size());
        const auto h = parseMpegAudioHeader(bytes.data() + k.pos);
        ASSERT_TRUE(h) << "frame at " << k.pos;
        EXPECT_EQ(h->m_frameLength, k.size) << "frame at " << k.pos;
        EXPECT_EQ(mpegAudioFrameLength(bytes.data() + k.pos), k.size);
        // The packet's duration in time-base units, as samples.
        EXPECT_EQ(h->m_samplesPerFrame * tbDen, k.duration * tbNum * sampleRate);
        EXPECT_EQ(h->m_sampleRate, sampleRate);
        EXPECT_EQ(h->m_channels, std::stoll(stream.at("channels")));
        EXPECT_EQ(h->m_bitrate * 1000, std::stoll(stream.at("bit_rate")));
        EXPECT_EQ(h->m_layer, stream.at("codec_name") == "mp3" ? 3 : 2);
        EXPECT_EQ(h->m_version, c.version);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, MpegAudioStream, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return testsupport::testNameOf(info.param.name); });

// A real header with one field damaged at a time.
TEST(MpegAudioHeader, DamagedFieldsAreRejected) {
    const std::vector<uint8_t> bytes = load(kCases[0]);
    ASSERT_GE(bytes.size(), 4u);
    const uint8_t* real = bytes.data();
    ASSERT_TRUE(parseMpegAudioHeader(real));

    auto damaged = [&](int byte, uint8_t mask, uint8_t value) {
        uint8_t h[4] = {real[0], real[1], real[2], real[3]};
        h[byte] = uint8_t((h[byte] & ~mask) | value);
        return parseMpegAudioHeader(h).has_value() || mpegAudioFrameLength(h) != 0;
    };
    EXPECT_FALSE(damaged(0, 0xFF, 0xFE));  // syncword
    EXPECT_FALSE(damaged(1, 0xE0, 0xC0));  // syncword
    EXPECT_FALSE(damaged(1, 0x18, 0x08));  // reserved version
    EXPECT_FALSE(damaged(1, 0x06, 0x00));  // reserved layer
    EXPECT_FALSE(damaged(2, 0xF0, 0xF0));  // forbidden bitrate index
    EXPECT_FALSE(damaged(2, 0xF0, 0x00));  // free format: no length
    EXPECT_FALSE(damaged(2, 0x0C, 0x0C));  // reserved sample rate
}

// ffmpeg has no layer I encoder: a real layer II header relabelled as layer I
// reads the layer I bitrate table and 4-byte slots.
TEST(MpegAudioHeader, LayerOneUsesItsOwnTableAndSlots) {
    const std::vector<uint8_t> bytes = load(kCases[3]);
    ASSERT_GE(bytes.size(), 4u);
    uint8_t h[4] = {bytes[0], uint8_t(bytes[1] | 0x06), bytes[2], bytes[3]};
    ASSERT_EQ((h[2] >> 4) & 15, 10);  // 192 kbit/s in layer II, 320 kbit/s in layer I
    const auto r = parseMpegAudioHeader(h);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->m_layer, 1);
    EXPECT_EQ(r->m_bitrate, 320);
    EXPECT_EQ(r->m_samplesPerFrame, 384);
    EXPECT_EQ(r->m_frameLength, 320);  // 80 slots of 4 bytes at 48 kHz
}
