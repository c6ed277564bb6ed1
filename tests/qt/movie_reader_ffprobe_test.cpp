// The reader against ffprobe (codec, sizes, timescales, sample counts, every
// sample's offset and size) and reader + writer against ffmpeg (every sample
// copied through QTOpen/QTAddSamples gives the same packets and timestamps),
// on one movie per distinct description and table path.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_media.h"
#include "support/test_support.h"

namespace {

struct Case {
    const char* name;
    std::string (*make)();
};

// AVC with ctts and esds audio; HEVC; ProRes with 16-bit PCM (sowt) and
// with big-endian PCM (twos) and the moov first; MPEG-2 with 24-bit PCM (in24,
// wave and enda) and with 96 kHz PCM (version 2 lpcm description).
const Case kCases[] = {
    {"h264_aac", testmedia::h264AacMp4},
    {"hevc_aac", testmedia::hevcAacMp4},
    {"prores_sowt", testmedia::proresPcmMov},
    {"prores_twos_faststart",
     [] { return testmedia::movie("prores_twos.mov", "-c:v prores -profile:v 0 -c:a pcm_s16be -movflags +faststart"); }},
    {"mpeg2_in24", [] { return testmedia::movie("mpeg2_in24.mov", "-c:v mpeg2video -c:a pcm_s24le"); }},
    {"mpeg2_lpcm96k", [] { return testmedia::movie("mpeg2_lpcm.mov", "-c:v mpeg2video -c:a pcm_s24le -ar 96000"); }},
};

class MovieVsFfmpeg : public ::testing::TestWithParam<Case> {};

TEST_P(MovieVsFfmpeg, ReaderMatchesFfprobe) {
    const std::string file = GetParam().make();
    ASSERT_FALSE(file.empty()) << "ffmpeg could not make " << GetParam().name;
    MovieFile* movie = QTOpen(file, 0, true);
    ASSERT_NE(movie, nullptr);
    const auto streams = testmedia::probeStreams(file);
    std::map<int, std::vector<testmedia::Packet>> packets;
    for (const auto& p : testmedia::probePackets(file))
        packets[p.stream].push_back(p);
    ASSERT_EQ(int(streams.size()), movie->m_trackCount);
    EXPECT_NE(movie->m_mdatOffset, 0u);
    for (int i = 0; i < movie->m_trackCount; ++i) {
        SCOPED_TRACE("track " + std::to_string(i));
        const MovieTrack& t = movie->m_tracks[i];
        const auto& s = streams[i];
        EXPECT_EQ(fourccString(t.m_codec), s.at("codec_tag_string"));
        EXPECT_EQ("1/" + std::to_string(t.m_mediaTimescale), s.at("time_base"));
        const auto& p = packets.at(i);
        if (s.at("codec_type") == "video") {
            EXPECT_EQ(movie->m_videoTrack, &t);
            EXPECT_EQ(std::to_string(t.m_width), s.at("width"));
            EXPECT_EQ(std::to_string(t.m_height), s.at("height"));
        } else {
            EXPECT_EQ(std::to_string(t.m_audioChannels), s.at("channels"));
            // The audio timescale is the rate, and so is the description's
            // rate, 96 kHz included (from the version-2 description).
            EXPECT_EQ(std::to_string(t.m_mediaTimescale), s.at("sample_rate"));
            EXPECT_EQ(std::to_string(t.m_audioSampleRate), s.at("sample_rate"));
        }
        if (t.m_fixedSampleSize == 0) {
            // One packet per sample.
            ASSERT_EQ(p.size(), t.m_sampleCount);
            for (uint32_t n = 1; n <= t.m_sampleCount; ++n) {
                ASSERT_EQ(QTGetSampleOffset(&t, n), uint64_t(p[n - 1].pos)) << "sample " << n;
                ASSERT_EQ(QTGetSampleSize(&t, n), uint64_t(p[n - 1].size)) << "sample " << n;
            }
            continue;
        }
        // ffmpeg cuts fixed-size audio chunks into packets: every chunk
        // starts a packet and the packets cover all samples.
        uint64_t packetBytes = 0;
        std::set<uint64_t> starts;
        for (const auto& packet : p) {
            packetBytes += uint64_t(packet.size);
            starts.insert(uint64_t(packet.pos));
        }
        uint64_t samples = 0;
        for (uint32_t ch = 1; ch <= t.m_chunkOffsets.size(); ++ch) {
            ASSERT_EQ(starts.count(t.m_chunkOffsets[ch - 1]), 1u) << "chunk " << ch;
            ASSERT_EQ(QTGetSampleOffset(&t, uint32_t(samples + 1)), t.m_chunkOffsets[ch - 1]);
            samples += QTGetSamplesPerChunk(&t, ch);
        }
        EXPECT_EQ(packetBytes, samples * t.m_fixedSampleSize);
        EXPECT_EQ(samples, t.m_sampleCount);
    }
    QTClose(movie);
}

TEST_P(MovieVsFfmpeg, CopyKeepsPacketsAndTimestamps) {
    const std::string src = GetParam().make();
    ASSERT_FALSE(src.empty());
    const std::string dst = testsupport::scratchDir(std::string("roundtrip_") + GetParam().name) + "/copy" +
                            src.substr(src.rfind('.'));
    ASSERT_TRUE(qttest::copyMovie(src, dst));
    const auto expected = testsupport::framemd5(src);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(testsupport::framemd5(dst), expected);
    const auto probe = testsupport::runCommand("ffprobe -v error -show_streams " + testsupport::quote(dst), true);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.output.find("rror"), std::string::npos) << probe.output.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, MovieVsFfmpeg, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The dump command prints what the reader found.
TEST(QtDumpCommand, PrintsTheMovie) {
    const std::string file = testmedia::h264AacMp4();
    ASSERT_FALSE(file.empty());
    const auto dump = testsupport::runFramend("-i " + testsupport::quote(file) + " -dump");
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_NE(dump.output.find("---------------- QTDump -------------\n"), std::string::npos);
    EXPECT_NE(dump.output.find("    trackcount: 2\n"), std::string::npos);
}

}  // namespace
