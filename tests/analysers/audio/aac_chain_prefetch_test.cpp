// The measures taken on the second thread stand in for the decoder's own:
// from a frame start of a real AAC track they must give the frame sizes the
// movie's index records, and a gap starting elsewhere must find nothing
// there nor cost the pending measure. The gaps expected behind the requested
// one are measured by whichever thread is free first, with the same result.

#include "analysers/audio/aac_chain_prefetch.h"

#include "output/repair_state.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

TEST(AacChainPrefetch, MeasuresTheFramesTheIndexRecords) {
    const std::string movie = testsupport::fixture(
        "aac_run.mp4", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -c:a aac -ac 2 -b:a 96k");
    auto ref = ReferenceInfo::build(movie, false);
    ASSERT_TRUE(ref->isOpen());
    ref->analyseChunks();
    ref->collectSamples();
    const auto& frames = ref->audioSamples();
    ASSERT_GT(frames.size(), 20u);
    AacChainConfig config;
    config.decoderConfig = ref->audio().m_esds.m_decoderInfo;
    config.decoderConfigLength = ref->audio().m_esds.m_decoderInfoLength;

    AacChainPrefetch prefetch(config, movie);
    prefetch.request(frames[3].offset);
    std::vector<uint32_t> lengths;
    EXPECT_FALSE(prefetch.take(frames[2].offset, lengths));
    ASSERT_TRUE(prefetch.take(frames[3].offset, lengths));
    // The run may go on into the bytes behind the track; up to there every
    // frame is the index's.
    ASSERT_GE(lengths.size(), frames.size() - 3);
    for (size_t k = 3; k < frames.size(); ++k)
        EXPECT_EQ(int64_t(lengths[k - 3]), int64_t(frames[k].size)) << "frame " << k;
    EXPECT_FALSE(prefetch.take(frames[3].offset, lengths));  // used up

    // Runs queue behind the request; taking one drops those in front of
    // it, which the scan has passed.
    prefetch.request(frames[5].offset);
    for (const size_t k : {9u, 12u, 15u})
        prefetch.expectNext(frames[k].offset);
    EXPECT_TRUE(prefetch.expects(frames[9].offset));
    EXPECT_EQ(prefetch.pending(), frames[5].offset);
    ASSERT_TRUE(prefetch.take(frames[5].offset, lengths));
    EXPECT_EQ(prefetch.pending(), -1);
    for (size_t first : {12u, 15u}) {
        std::vector<uint32_t> next;
        ASSERT_TRUE(prefetch.take(frames[first].offset, next));
        ASSERT_GE(next.size(), frames.size() - first);
        for (size_t k = first; k < frames.size(); ++k)
            EXPECT_EQ(int64_t(next[k - first]), int64_t(frames[k].size)) << "frame " << k;
    }
    EXPECT_FALSE(prefetch.expects(frames[9].offset));
    EXPECT_FALSE(prefetch.take(frames[9].offset, lengths));
}
