// A recording of linear PCM in camera-like chunks, cut inside a picture of
// its last video chunk: the chunk search takes the pictures in front of the
// cut, and the cut-off picture behind them was taken as the last chunk of
// sound, making the sound track longer than its packets by a twentieth of
// a second. Judged by ffmpeg's packet checksums against the intact original.

#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string recording(const std::string& name, const char* video, int tone, int seconds) {
    return testsupport::fixture(name, std::string("-f lavfi -i ") + video + "=size=944x544:rate=25 -f lavfi -i "
                                          "sine=frequency=" + std::to_string(tone) +
                                          ":sample_rate=8000 -map 0:v -map 1:a -c:v libx264 -preset veryfast "
                                          "-profile:v high -pix_fmt yuv420p -bf 2 -g 18 -c:a pcm_s24be -ac 2 "
                                          "-chunk_duration 1737000 -t " + std::to_string(seconds));
}

}  // namespace

TEST(PcmCutPictureRepair, PictureCutOffAtTheEndIsNoSound) {
    const std::string original = recording("pcm_cut_picture.mov", "testsrc2", 440, 4);
    const std::string reference = recording("pcm_cut_picture_ref.mov", "mandelbrot", 880, 3);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(reference.empty());
    const repairrun::Outcome o = repairrun::repair("PcmCutPictureRepair", reference,
                                                   repairrun::withoutIndex(original, 0.6), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_TRUE(o.audio.timed()) << o.audio;
}
