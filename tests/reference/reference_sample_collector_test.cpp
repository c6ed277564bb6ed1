#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "reference/reference_sample_collector.h"
#include "support/log_capture.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::LogCapture;

namespace {

std::vector<testmedia::Packet> streamPackets(const std::string& file, int stream) {
    std::vector<testmedia::Packet> out;
    for (const auto& p : testmedia::probePackets(file))
        if (p.stream == stream)
            out.push_back(p);
    std::sort(out.begin(), out.end(),
              [](const testmedia::Packet& a, const testmedia::Packet& b) { return a.pos < b.pos; });
    return out;
}

}  // namespace

// Fixed-size PCM: one sample per chunk covering the whole chunk.
TEST(ReferenceSampleCollector, PcmOneSamplePerChunk) {
    const std::string file = testmedia::h264PcmMov();
    auto info = ReferenceInfo::build(file, false);
    ASSERT_TRUE(info->isOpen());
    LogCapture quiet(LogLevel::Warning);
    info->collectSamples();
    std::vector<testmedia::Run> chunks;
    for (const auto& r : testmedia::fileOrderRuns(testmedia::probePackets(file)))
        if (r.stream == 1)
            chunks.push_back(r);
    ASSERT_EQ(info->audioSamples().size(), chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(info->audioSamples()[i].offset, chunks[i].start);
        EXPECT_EQ(info->audioSamples()[i].size, chunks[i].bytes);
    }
    EXPECT_EQ(info->videoSamples().size(), streamPackets(file, 0).size());
    // Collecting again starts from empty lists.
    info->collectSamples();
    EXPECT_EQ(info->audioSamples().size(), chunks.size());
}

// A sample table claiming billions of fixed-size samples in one chunk gives
// no more samples than the size table counts.
TEST(ReferenceSampleCollector, HostileSampleToChunkIsBounded) {
    std::unique_ptr<MovieFile> movie(new MovieFile());
    MovieTrack& t = movie->m_tracks[0];
    movie->m_trackCount = 1;
    movie->m_videoTrack = &t;
    movie->m_audioTrackCount = 1;
    movie->m_audioTracks[0] = &t;
    t.m_handlerType = makeFourcc("vide");
    t.m_fixedSampleSize = 1000;
    t.m_sampleCount = 5;
    t.m_sampleToChunk.push_back({1, 0xFFFFFFFFu, 1});
    t.m_chunkOffsets.push_back(64);
    std::vector<MediaSample> video, audio;
    LogCapture quiet(LogLevel::Warning);
    collectMovieSamples(*movie, video, audio);
    EXPECT_EQ(video.size(), 5u);
    EXPECT_EQ(video[4].offset, 4064);
    EXPECT_TRUE(audio.empty());  // 4 billion x 1000 bytes cannot be one sample
}
