// The arithmetic of the CRM audio partition and repair on hand-made PCM.

#include "camera/crm/crm_audio_partition.h"
#include "camera/crm/crm_audio_repair.h"
#include "camera/crm/crm_audio_tidy.h"
#include "camera/crm/pcm24.h"
#include "support/repair_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace crm;

namespace {

Bytes tone(size_t frames, uint32_t channels, double amplitude, double hz, size_t first = 0, int32_t offset = 0) {
    Bytes b(frames * channels * 3);
    for (size_t f = 0; f < frames; ++f)
        for (uint32_t ch = 0; ch < channels; ++ch)
            storePcm(&b[(f * channels + ch) * 3],
                     std::lround(amplitude * std::sin(2 * M_PI * hz * double(first + f) / 48000.0)) + offset);
    return b;
}

CrmReference twoTrackReference(uint32_t framesPerChunk) {
    CrmReference ref;
    CrmRefTrack video;
    video.handler = "vide";
    ref.tracks.push_back(video);
    ref.videoTrack = 0;
    for (int t = 0; t < 2; ++t) {
        CrmRefTrack a;
        a.handler = "soun";
        a.frameBytes = 6;
        a.samplesPerChunk = {framesPerChunk};
        ref.tracks.push_back(a);
    }
    return ref;
}

}  // namespace

TEST(CrmAudioPartition, ChunksComeFromTheEndOfEachRun) {
    const CrmReference ref = twoTrackReference(800);  // 4800 bytes per track
    const TrackChunks chunks = partitionRunsFromTail(ref, {{0, 10000}, {20000, 9000}});
    ASSERT_EQ(chunks.size(), 2u);
    ASSERT_EQ(chunks[0].size(), 1u);  // the second run is too short
    EXPECT_EQ(chunks[0][0].offset, 400u);
    EXPECT_EQ(chunks[1][0].offset, 5200u);
    EXPECT_EQ(chunks[1][0].length, 4800u);
}

TEST(CrmAudioPartition, LeadingPartialChunksGo) {
    CrmReference ref = twoTrackReference(800);
    ref.tracks[0].samplesPerChunk = {30, 30};
    std::vector<uint32_t> sizes(67, 10), counts{7, 30, 30};
    std::vector<uint64_t> offsets{0, 500, 900};
    dropLeadingPartialChunks(ref, sizes, counts, offsets);
    EXPECT_EQ(counts, (std::vector<uint32_t>{30, 30}));
    EXPECT_EQ(offsets, (std::vector<uint64_t>{500, 900}));
    EXPECT_EQ(sizes.size(), 60u);
    // The damaged start and the dropped chunk become the first run.
    const std::vector<AudioRun> runs = runsAroundChunks(sizes, counts, offsets, 1500);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].length, 500u);
    EXPECT_EQ(runs[2].offset, 1200u);

    std::vector<uint32_t> shortCounts{7, 8}, shortSizes(15, 10);
    std::vector<uint64_t> shortOffsets{0, 100};
    EXPECT_THROW(dropLeadingPartialChunks(ref, shortSizes, shortCounts, shortOffsets), std::runtime_error);
}

TEST(CrmAudioRepair, ByteShiftIsFound) {
    Bytes shifted{0x5A};
    const Bytes t = tone(4000, 2, 100000, 440);
    shifted.insert(shifted.end(), t.begin(), t.end());
    EXPECT_EQ(chooseByteShift(t.data(), t.size()), 0);
    EXPECT_EQ(chooseByteShift(shifted.data(), shifted.size()), 1);
}

// Continuous audio must pass a splice untouched; a step gets a ramp.
TEST(CrmAudioRepair, OnlyASteppedSpliceIsSmoothed) {
    Bytes a = tone(1000, 2, 100000, 440), b = tone(1000, 2, 100000, 440, 1000);
    const Bytes a0 = a, b0 = b;
    EXPECT_FALSE(smoothSplice(a, b, 2));
    EXPECT_EQ(a, a0);
    EXPECT_EQ(b, b0);
    Bytes c = tone(1000, 2, 100000, 440, 1000, 300000);
    EXPECT_TRUE(smoothSplice(a, c, 2));
    // The ramp runs from the previous chunk's value 129 frames before the
    // end to the next chunk's at frame 128; both channels alike.
    const int32_t last = pcmValue(&a[(999 * 2) * 3]), first = pcmValue(&c[0]);
    EXPECT_LT(std::abs(first - last), 5000);
    EXPECT_EQ(last, pcmValue(&a[(999 * 2 + 1) * 3]));
}

TEST(CrmAudioRepair, NoisyFirstChunkIsMutedAToneIsNot) {
    Bytes noise = repairrun::noise(36000, 7);
    EXPECT_TRUE(muteNoisyFirstChunk(noise, 2));
    EXPECT_EQ(noise, Bytes(36000, 0));
    Bytes loud = tone(6000, 2, 8000000, 100);
    EXPECT_FALSE(muteNoisyFirstChunk(loud, 2));
}

TEST(CrmAudioRepair, ClickInEveryTrackGoesAClickInOneStays) {
    std::vector<std::vector<Bytes>> tracks{{tone(100, 1, 1000, 440)}, {tone(100, 1, 1000, 440)}};
    const Bytes clean = tracks[0][0];
    storePcm(&tracks[0][0][50 * 3], pcmValue(&clean[50 * 3]) + 600000);
    storePcm(&tracks[1][0][50 * 3], pcmValue(&clean[50 * 3]) + 600000);
    EXPECT_EQ(removeCommonClicks(tracks, {1, 1}), 1u);
    EXPECT_LT(std::abs(pcmValue(&tracks[0][0][50 * 3]) - pcmValue(&clean[50 * 3])), 100);
    storePcm(&tracks[0][0][60 * 3], 600000);
    EXPECT_EQ(removeCommonClicks(tracks, {1, 1}), 0u);
}

TEST(CrmAudioTidy, TrimKeepsTheVideoDuration) {
    // 240 frames of 1001/24000 s hold 480480 samples of 48 kHz audio.
    ChunkBytes chunks(11, Bytes(48000 * 6));
    trimToVideo(chunks, 6, 48000, 1, {240, 1001, 24000}, 0);
    size_t total = 0;
    for (const Bytes& c : chunks)
        total += c.size();
    EXPECT_EQ(total, 480480u * 6);
    EXPECT_EQ(chunks.size(), 11u);
}
