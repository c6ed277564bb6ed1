#include "reference/audio_frame_duration.h"

#include "qt/movie_track.h"
#include "qt/qt_types.h"

#include <gtest/gtest.h>

namespace {

MovieTrack mpegTrack(const char (&codec)[5], uint32_t rate, uint32_t commonDuration, uint8_t objectType = 0) {
    MovieTrack t;
    t.m_codec = makeFourcc(codec);
    t.m_audioSampleRate = rate;
    t.m_mediaTimescale = rate;
    t.m_sampleDuration = commonDuration;
    t.m_esds.m_objectType = objectType;
    return t;
}

}  // namespace

// A muxer on a millisecond clock writes MPEG audio frames of 1152 samples at
// 44.1 kHz as 1147 mostly (1190 now and then): the repaired track would run
// 0.4% short. The codec's frame is what each frame lasts.
TEST(AudioFrameDuration, MpegFramesOnAMillisecondClockLastWholeFrames) {
    EXPECT_EQ(audioFrameDuration(mpegTrack(".mp3", 44100, 1147), 44100), 1152u);
    EXPECT_EQ(audioFrameDuration(mpegTrack("mp4a", 22050, 573, 0x69), 22050), 576u);  // MPEG-2 layer III
    EXPECT_EQ(audioFrameDuration(mpegTrack(".mp3", 44100, 1147), 90000), 2351u);  // in another clock
    EXPECT_EQ(audioFrameDuration(mpegTrack(".mp3", 48000, 1152), 48000), 1152u);
    // Off by more than a rounding clock: the table stands.
    EXPECT_EQ(audioFrameDuration(mpegTrack(".mp3", 44100, 1100), 44100), 1100u);
    // Not MPEG audio: the table's common entry stands whatever it is near.
    EXPECT_EQ(audioFrameDuration(mpegTrack("samr", 8000, 1147), 8000), 1147u);
}
