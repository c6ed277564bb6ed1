// One MP3 track beside a caption track, in camera-like chunks of 1.66 s:
// some gaps between the video chunks hold a caption chunk alone, others
// audio with captions behind it. Taken for damage, such a gap was padded
// with copies of the last MP3 frame and the sound outlasted the pictures.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string recording(const std::string& name, const char* video, int tone, int seconds) {
    return testsupport::fixture(
        name, "-f lavfi -i " + std::string(video) + "=size=320x240:rate=25:duration=" + std::to_string(seconds) +
                  " -f lavfi -i sine=frequency=" + std::to_string(tone) +
                  ":sample_rate=44100:duration=" + std::to_string(seconds) +
                  " -i " + testsupport::quote(testmedia::captionCues(15)) +
                  " -map 0:v -map 1:a -map 2:s -c:v libx264 -pix_fmt yuv420p -g 25 -c:a libmp3lame -ac 1 -b:a 128k "
                  "-c:s mov_text -chunk_duration 1661000 -t " + std::to_string(seconds));
}

}  // namespace

TEST(Mp3CaptionGapRepair, CaptionChunksAreNotDamage) {
    const std::string original = recording("mp3_caption_chunks.mp4", "testsrc2", 440, 6);
    const std::string reference = recording("mp3_caption_chunks_ref.mp4", "testsrc", 880, 2);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(reference.empty());
    const repairrun::Outcome o = repairrun::repair("Mp3CaptionGapRepair", reference,
                                                   repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_TRUE(o.audio.timed()) << o.audio;
    // No sound packet made up, and the captions back as well.
    EXPECT_EQ(repairrun::packetCounts(o.repaired), repairrun::packetCounts(original));
}
