// The reader against ffprobe: codec, sizes, timescales, sample counts and the
// per-sample offsets and sizes of ffmpeg-made movies of every supported kind.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_support.h"

namespace {

struct ProbeCase {
    const char* name;
    const char* encodeArgs;
};

using Fields = std::map<std::string, std::string>;

std::vector<Fields> probeStreams(const std::string& file) {
    const auto r = testsupport::runCommand("ffprobe -v error -show_streams " + testsupport::quote(file));
    std::vector<Fields> streams;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "[STREAM]")
            streams.emplace_back();
        const auto eq = line.find('=');
        if (eq != std::string::npos && !streams.empty())
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

struct Packet {
    uint64_t pos;
    uint32_t size;
};

std::map<int, std::vector<Packet>> probePackets(const std::string& file) {
    const auto r = testsupport::runCommand("ffprobe -v error -show_entries packet=stream_index,pos,size -of csv=p=0 " +
                                           testsupport::quote(file));
    std::map<int, std::vector<Packet>> packets;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        int stream = 0;
        unsigned long long pos = 0;
        unsigned size = 0;
        if (std::sscanf(line.c_str(), "%d,%u,%llu", &stream, &size, &pos) == 3)
            packets[stream].push_back({pos, size});
    }
    return packets;
}

class MovieReaderVsFfprobe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(MovieReaderVsFfprobe, TracksAndSampleTablesAgree) {
    const ProbeCase& c = GetParam();
    const std::string file = qttest::sourceFixture(c.name, c.encodeArgs);
    ASSERT_FALSE(file.empty()) << "ffmpeg could not make " << c.name;

    const auto dump = testsupport::runFramend("-i " + testsupport::quote(file) + " -dump");
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_NE(dump.output.find("---------------- QTDump -------------"), std::string::npos);
    EXPECT_NE(dump.output.find("    trackcount: 2\n"), std::string::npos);

    MovieFile* movie = QTOpen(file, 0, true);
    ASSERT_NE(movie, nullptr);
    const auto streams = probeStreams(file);
    const auto packets = probePackets(file);
    ASSERT_EQ(int(streams.size()), movie->m_trackCount);
    EXPECT_NE(movie->m_mdatOffset, 0u);
    if (std::string(c.name) == "faststart.mp4") {
        EXPECT_LT(movie->m_moovOffset, movie->m_mdatOffset);
    }
    for (int i = 0; i < movie->m_trackCount; ++i) {
        SCOPED_TRACE("track " + std::to_string(i));
        const MovieTrack& t = movie->m_tracks[i];
        const Fields& s = streams[i];
        EXPECT_EQ(fourccString(t.m_codec), s.at("codec_tag_string"));
        EXPECT_EQ("1/" + std::to_string(t.m_mediaTimescale), s.at("time_base"));
        const std::vector<Packet>& p = packets.at(i);
        if (s.at("codec_type") == "video") {
            EXPECT_EQ(movie->m_videoTrack, &t);
            EXPECT_EQ(std::to_string(t.m_width), s.at("width"));
            EXPECT_EQ(std::to_string(t.m_height), s.at("height"));
        } else {
            EXPECT_EQ(std::to_string(t.m_audioChannels), s.at("channels"));
            // The audio timescale is the rate; the 16-bit rate field cannot hold 96000.
            EXPECT_EQ(std::to_string(t.m_mediaTimescale), s.at("sample_rate"));
            EXPECT_EQ(t.m_audioSampleRate, uint16_t(std::stoul(s.at("sample_rate"))));
        }
        if (t.m_fixedSampleSize == 0) {
            // One packet per sample.
            EXPECT_EQ(std::to_string(t.m_sampleCount), s.at("nb_frames"));
            ASSERT_EQ(p.size(), t.m_sampleCount);
            for (uint32_t n = 1; n <= t.m_sampleCount; ++n) {
                ASSERT_EQ(QTGetSampleOffset(&t, n), p[n - 1].pos) << "sample " << n;
                ASSERT_EQ(QTGetSampleSize(&t, n), p[n - 1].size) << "sample " << n;
            }
        } else {
            // ffmpeg cuts fixed-size audio chunks into packets: every chunk
            // starts a packet and the packets cover all samples.
            uint64_t packetBytes = 0;
            std::set<uint64_t> starts;
            for (const Packet& packet : p) {
                packetBytes += packet.size;
                starts.insert(packet.pos);
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
    }
    QTClose(movie);
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, MovieReaderVsFfprobe,
    ::testing::Values(ProbeCase{"h264_aac.mp4", "-c:v libx264 -bf 2 -c:a aac -ac 2"},
                      ProbeCase{"h264_sowt.mov", "-c:v libx264 -c:a pcm_s16le"},
                      ProbeCase{"h264_twos.mov", "-c:v libx264 -c:a pcm_s16be"},
                      ProbeCase{"h264_in24.mov", "-c:v libx264 -c:a pcm_s24le"},
                      ProbeCase{"h264_lpcm.mov", "-c:v libx264 -c:a pcm_s24le -ar 96000"},
                      ProbeCase{"hevc_aac.mp4", "-c:v libx265 -tag:v hvc1 -x265-params log-level=error -c:a aac -ac 2"},
                      ProbeCase{"apcn_pcm.mov", "-c:v prores_ks -profile:v 2 -c:a pcm_s16le"},
                      ProbeCase{"ap4h_pcm.mov", "-c:v prores_ks -profile:v 4 -pix_fmt yuv444p10le -c:a pcm_s16le"},
                      ProbeCase{"mpeg2_pcm.mov", "-c:v mpeg2video -c:a pcm_s16le"},
                      ProbeCase{"mp4v_aac.mp4", "-c:v mpeg4 -c:a aac -ac 2"},
                      ProbeCase{"mjpeg_pcm.mov", "-c:v mjpeg -c:a pcm_s16le"},
                      ProbeCase{"dv_pcm.mov", "-t 1 -c:v dvvideo -s 720x576 -pix_fmt yuv420p -c:a pcm_s16le"},
                      ProbeCase{"faststart.mp4", "-c:v libx264 -c:a aac -ac 2 -movflags +faststart"}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return testsupport::testNameOf(info.param.name); });

}  // namespace
