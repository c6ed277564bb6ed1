#include "qt/movie_file.h"
#include "reference/reference_interleave_cycle.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A track of one sample per chunk, the chunks of the given sizes.
void oneSamplePerChunk(MovieTrack& track, Fourcc handler, const std::vector<uint32_t>& sizes, uint64_t offset) {
    track.m_handlerType = handler;
    track.m_mediaTimescale = 1000;
    track.m_sampleDuration = 40;
    ASSERT_TRUE(track.m_sampleToChunk.push_back({1, 1, 1}));
    for (uint32_t size : sizes) {
        ASSERT_TRUE(track.m_chunkOffsets.push_back(offset));
        ASSERT_TRUE(track.m_sampleSizes.push_back(size));
        offset += 100000;
        ++track.m_sampleCount;
    }
}

}  // namespace

// An action camera opens its descriptor track with two chunks of its own
// (576 and 152 bytes) and writes 16 bytes in front of every picture after
// that. Later in a recording a chunk is one of the later sizes: a 152-byte
// piece there would take the head of the sound frame behind a descriptor.
TEST(ReferenceInterleaveCycle, MetadataChunksBehindTheOpeningKeepTheirOwnSizes) {
    auto movie = std::make_unique<MovieFile>();
    movie->m_trackCount = 2;
    oneSamplePerChunk(movie->m_tracks[0], makeFourcc("vide"), std::vector<uint32_t>(8, 5000), 1000);
    std::vector<uint32_t> descriptors{576, 152};
    descriptors.resize(8, 16);
    oneSamplePerChunk(movie->m_tracks[1], makeFourcc("meta"), descriptors, 100);

    ReferenceInterleaveCycle cycle;
    cycle.learn(*movie);
    ASSERT_EQ(cycle.metadataTracks().size(), 1u);
    const InterleaveTrack& track = cycle.metadataTracks()[0];
    EXPECT_EQ(track.chunkSizes, (std::vector<uint32_t>{16, 152, 576}));
    EXPECT_EQ(track.laterChunkSizes, (std::vector<uint32_t>{16}));
}
