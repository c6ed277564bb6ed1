// Pictures and captions without sound: the gaps between the video chunks
// hold caption chunks only, and the repaired movie lost its caption track.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string recording(const std::string& name, const char* video, int seconds) {
    return testsupport::fixture(
        name, "-f lavfi -i " + std::string(video) + "=size=320x240:rate=25:duration=" + std::to_string(seconds) +
                  " -i " + testsupport::quote(testmedia::captionCues(15)) +
                  " -map 0:v -map 1:s -c:v libx264 -pix_fmt yuv420p -g 25 -c:s mov_text -t " + std::to_string(seconds));
}

}  // namespace

TEST(CaptionOnlyGapRepair, CaptionsComeBackWithoutSound) {
    const std::string original = recording("caption_only.mov", "testsrc2", 6);
    const std::string reference = recording("caption_only_ref.mov", "testsrc", 3);
    const repairrun::Outcome o =
        repairrun::repair("CaptionOnlyGapRepair", reference, repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    const std::vector<std::string> before = repairrun::mappedChecksums(original, "s");
    std::vector<std::string> after = repairrun::mappedChecksums(o.repaired, "s");
    ASSERT_FALSE(before.empty());
    // A last empty caption the original's index lets ffmpeg drop may come back too.
    if (after.size() > before.size())
        after.resize(before.size());
    EXPECT_EQ(after, before);
}
