// PCM chunks as one sample each are judged through -sim (SimRoundTrip
// writes the collected samples of ProRes and MPEG-2 movies with PCM, packet
// for packet) and -verify (Verify.IntactH264PcmScannedAgainstItself...).

#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "reference/reference_sample_collector.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

using testsupport::LogCapture;

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
