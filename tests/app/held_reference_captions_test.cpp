// Captions beside PCM, repaired with a reference whose first frame is held
// for two seconds (a phone that starts slowly): the reference's video then
// runs two seconds behind its frame count, and a caption chunk placed by
// that count showed its cues seconds late.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A cue may start this far off its moment (a tick of the caption clock).
constexpr double kCueSlack = 0.05;

std::string recording(const std::string& name, const char* video, const char* filter) {
    return testsupport::fixture(
        name, "-f lavfi -i " + std::string(video) + "=size=320x240:rate=60" +
                  " -f lavfi -i sine=frequency=440:sample_rate=32000,aformat=channel_layouts=stereo -i " +
                  testsupport::quote(testmedia::captionCues(15)) +
                  " -map 0:v -map 1:a -map 2:s -c:v libx264 -preset veryfast -profile:v high -pix_fmt yuv420p"
                  " -bf 2 -g 250 " + filter + " -c:a pcm_s16be -c:s mov_text -chunk_duration 580000 -t 4");
}

}  // namespace

TEST(HeldReferenceCaptions, CuesKeepTheirMoments) {
    const std::string original = recording("held_ref_captions.mov", "testsrc2", "");
    const std::string reference =
        recording("held_ref_captions_ref.mov", "mandelbrot", "-vf \"setpts='if(eq(N,0),0,PTS+2/TB)'\" -fps_mode vfr");
    const repairrun::Outcome o =
        repairrun::repair("HeldReferenceCaptions", reference, repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    const std::vector<testmedia::Cue> before = testmedia::shownCues(original), after = testmedia::shownCues(o.repaired);
    ASSERT_GE(before.size(), 8u);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_NEAR(after[i].start, before[i].start, kCueSlack) << "cue " << i + 1;
}
