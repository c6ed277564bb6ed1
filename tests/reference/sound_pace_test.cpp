// Pictures of a varying rate measured by the sound written beside them.

#include "reference/sound_pace.h"
#include "reference/video_frame_duration.h"
#include "qt/movie_track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include <vector>

namespace {

// One chunk of a recording: pictures, or blocks of sound, each with its
// duration in its track's units.
struct Chunk {
    bool video;
    std::vector<uint32_t> durations;
};

void add(MovieTrack& track, const Chunk& chunk, uint64_t offset) {
    track.m_chunkOffsets.push_back(offset);
    track.m_sampleToChunk.push_back(
        {uint32_t(track.m_chunkOffsets.size()), uint32_t(chunk.durations.size()), 1});
    for (uint32_t d : chunk.durations) {
        track.m_timeToSample.push_back({1, d});
        ++track.m_sampleCount;
    }
}

struct Recording {
    MovieTrack video, sound;
};

// Video at 1000 units a second, sound at 48 kHz in blocks of 1024.
Recording record(const std::vector<Chunk>& chunks) {
    Recording r;
    r.video.m_mediaTimescale = 1000;
    r.sound.m_mediaTimescale = 48000;
    uint64_t offset = 100;
    for (const Chunk& c : chunks) {
        add(c.video ? r.video : r.sound, c, offset);
        offset += 10000;
    }
    return r;
}

Chunk pictures(std::vector<uint32_t> durations) { return {true, std::move(durations)}; }
Chunk sound(size_t blocks) { return {false, std::vector<uint32_t>(blocks, 1024)}; }

// The chunk's pictures share `ms` evenly, a few milliseconds apart.
std::vector<uint32_t> spread(size_t n, uint32_t ms) {
    std::vector<uint32_t> out(n, ms / uint32_t(n));
    out[0] += ms - out[0] * uint32_t(n);
    for (size_t i = 1; i + 1 < n; i += 2) {
        out[i] += 3;
        out[i + 1] -= 3;
    }
    return out;
}

}  // namespace

// Chunks of `pictures` each, each followed by `seconds` of sound, behind
// `lead` seconds of sound.
SoundPace chunks(const std::vector<int>& pictures, double seconds, double lead = 0) {
    SoundPace pace(true);
    pace.sound(lead);
    for (int n : pictures) {
        for (int i = 0; i < n; ++i)
            pace.picture();
        pace.sound(seconds);
    }
    return pace;
}

TEST(SoundPace, SoundBesideTheChunksGivesTheirPace) {
    // Chunks of 10, 5 and 20 pictures, each a second long, each followed by
    // its second of sound; the sound in front of the first chunk and behind
    // the last is left out, as is the last chunk (behind) or the first (in
    // front).
    const SoundPace pace = chunks({10, 5, 20, 8}, 1.0, 3.0);
    EXPECT_DOUBLE_EQ(pace.secondsPerPicture(SoundPaceMeasure::Behind), 3.0 / 35);
    EXPECT_DOUBLE_EQ(pace.secondsPerPicture(SoundPaceMeasure::InFront), 3.0 / 33);
    EXPECT_EQ(pace.secondsPerPicture(SoundPaceMeasure::None), 0);
    // Two chunks of pictures, or less than a second of sound between the
    // first and the last, say too little.
    EXPECT_EQ(chunks({10, 10}, 1.0).secondsPerPicture(SoundPaceMeasure::Behind), 0);
    EXPECT_EQ(chunks({10, 10, 10}, 0.4).secondsPerPicture(SoundPaceMeasure::Behind), 0);
}

TEST(SoundPace, StretchesFollowARateThatChanges) {
    // Twelve chunks of 30 pictures, then twelve of 15, each a second long
    // and followed (behind) or preceded (in front) by its second of sound,
    // behind two seconds written ahead of the first pictures: one pace for
    // all ran three seconds ahead of the sound at the change.
    std::vector<int> pictures(12, 30);
    pictures.resize(24, 15);
    const SoundPace pace = chunks(pictures, 1.0, 2.0);
    for (const SoundPaceMeasure measure : {SoundPaceMeasure::Behind, SoundPaceMeasure::InFront}) {
        const std::vector<PaceStretch> stretches = pace.stretches(measure);
        ASSERT_GE(stretches.size(), 3u);
        double seconds = 0, atChange = 0;
        uint64_t seen = 0;
        for (const PaceStretch& s : stretches) {
            if (seen == 360)
                atChange = seconds;
            seen += s.pictures;
            seconds += double(s.pictures) * s.secondsPerPicture;
        }
        EXPECT_EQ(seen, 540u);
        // In front, the last chunk's sound lies in front of it; behind, the
        // last chunk takes the pace of the ones in front of it.
        EXPECT_NEAR(atChange, 12, 1e-9);
        EXPECT_NEAR(seconds, 24, 1e-9);
    }
    // Stretches need one to compare with, and a pace that keeps starts.
    EXPECT_TRUE(chunks({10, 10, 10}, 1.0).stretches(SoundPaceMeasure::Behind).empty());
    SoundPace untold;
    for (int i = 0; i < 100; ++i) {
        untold.picture();
        untold.sound(1);
    }
    EXPECT_TRUE(untold.stretches(SoundPaceMeasure::Behind).empty());
}

TEST(SoundPace, SlopeFollowsSoundThatGrowsWithThePictures) {
    // One picture every 50 ms, with sound interleaved at other moments
    // than the pictures' chunks: the sound in front of each picture grows by
    // 50 ms a picture, whatever the chunking.
    SoundPace pace;
    double written = 0;
    for (int picture = 0; picture < 200; ++picture) {
        const double now = picture * 0.05;
        while (written + 0.3 <= now) {
            pace.sound(0.3);
            written += 0.3;
        }
        pace.picture();
    }
    EXPECT_NEAR(pace.secondsPerPicture(SoundPaceMeasure::Slope), 0.05, 0.0005);
    // Sound this regular gives the same pace by every measure.
    EXPECT_NEAR(pace.secondsPerPicture(SoundPaceMeasure::Agreed), 0.05, 0.001);
    EXPECT_EQ(SoundPace().secondsPerPicture(SoundPaceMeasure::Agreed), 0);
}

// Seconds of 25 pictures each (eleven, by default), each second's pictures a
// chunk, and a
// picture held two seconds: the first (pictures written in front of their
// sound) or the last (sound written first). Each chunk's sound lasts as long
// as the chunk (`blocks` blocks a second); `steady` holds no picture.
Recording heldPicture(bool soundFirst, size_t blocks, bool steady = false, int seconds = 12) {
    std::vector<Chunk> chunks;
    for (int k = 0; k < seconds; ++k) {
        const bool held = !steady && k == (soundFirst ? seconds - 1 : 0);
        if (soundFirst)
            chunks.push_back(sound(held ? 2 * blocks : blocks));
        chunks.push_back(pictures(held     ? std::vector<uint32_t>{2000}
                                  : steady ? std::vector<uint32_t>(25, 40)
                                           : spread(25, 1000)));
        if (!soundFirst)
            chunks.push_back(sound(held ? 2 * blocks : blocks));
    }
    return record(chunks);
}

TEST(SoundPace, ReferenceTellsWhichSoundTimesItsPictures) {
    // 47 blocks of 1024 at 48 kHz last a second, to 0.3%. The held picture
    // is in the first chunk or the last: only the sound on the right side
    // of the chunks counts its two seconds with it.
    const Recording behind = heldPicture(false, 47);
    EXPECT_FALSE(videoRateSteady(behind.video));
    EXPECT_EQ(learnSoundPace(behind.video, behind.sound), SoundPaceMeasure::Behind);
    const Recording inFront = heldPicture(true, 47);
    EXPECT_EQ(learnSoundPace(inFront.video, inFront.sound), SoundPaceMeasure::InFront);
    // Sound that lasts half the pictures' time times nothing.
    const Recording half = heldPicture(false, 23);
    EXPECT_EQ(learnSoundPace(half.video, half.sound), SoundPaceMeasure::None);
    // Five chunks are too few to tell: the recording's own measures decide.
    const Recording brief = heldPicture(false, 47, false, 5);
    EXPECT_EQ(learnSoundPace(brief.video, brief.sound), SoundPaceMeasure::Agreed);
    // A steady rate's sound times its pictures as well.
    const Recording steady = heldPicture(false, 47, true);
    EXPECT_TRUE(videoRateSteady(steady.video));
    EXPECT_NE(learnSoundPace(steady.video, steady.sound), SoundPaceMeasure::None);
}

TEST(VideoRateSteady, OneDurationForNearlyEveryFrame) {
    MovieTrack track;
    // A held first picture and a short last one around a steady rate.
    track.m_timeToSample.push_back({1, 2000});
    track.m_timeToSample.push_back({98, 40});
    track.m_timeToSample.push_back({1, 7});
    track.m_sampleCount = 100;
    EXPECT_TRUE(videoRateSteady(track));
    // Six pictures of every ten kept: the sixth lasts five periods.
    MovieTrack dropped;
    for (int i = 0; i < 20; ++i) {
        dropped.m_timeToSample.push_back({5, 40});
        dropped.m_timeToSample.push_back({1, 200});
    }
    dropped.m_sampleCount = 120;
    EXPECT_FALSE(videoRateSteady(dropped));
}

TEST(SoundPace, TablesThatLieAreReadInTheirEntriesNotTheirCounts) {
    // Sound chunks that claim four billion blocks each, and a time table of
    // a thousand entries as large: walked block by block, learning took
    // hours. A video table that claims as many pictures is not read at all.
    Recording r = heldPicture(false, 47);
    r.sound.m_sampleToChunk[0].m_samplesPerChunk = UINT32_MAX;
    r.sound.m_sampleToChunk.push_back({2, UINT32_MAX, 1});
    for (int i = 0; i < 1000; ++i)
        r.sound.m_timeToSample.push_back({UINT32_MAX, 1024});
    r.sound.m_sampleCount = UINT32_MAX;
    EXPECT_EQ(learnSoundPace(r.video, r.sound), SoundPaceMeasure::None);
    r.video.m_sampleCount = UINT32_MAX;
    EXPECT_EQ(learnSoundPace(r.video, r.sound), SoundPaceMeasure::None);
}
