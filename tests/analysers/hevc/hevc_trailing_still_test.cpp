// A motion photo keeps its still as a second video track whose one chunk
// the phone writes behind the last picture of the clip. The still is no
// picture of the clip: it comes back as a track of its own, bit-exact,
// and the clip keeps only its own pictures.

#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

TEST(HevcTrailingStill, ComesBackAsItsOwnTrack) {
    const std::string original = testsupport::fixture(
        "hevc_trailing_still.mp4",
        "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i mandelbrot=size=640x480:rate=25 -filter_complex "
        "\"[1:v]trim=end_frame=1,setpts=PTS+1.96/TB[s]\" -map 0:v -map \"[s]\" -t 2 -c:v libx265 -preset ultrafast "
        "-x265-params log-level=error -tag:v hvc1 -fps_mode:v:1 passthrough");
    const repairrun::Outcome o =
        repairrun::repair("HevcTrailingStill.Repair", original, repairrun::withoutIndex(original));
    EXPECT_EQ(o.exitCode, 0) << o.log;
    EXPECT_EQ(repairrun::mappedChecksums(o.repaired, "0"), repairrun::mappedChecksums(original, "0"));
    EXPECT_EQ(repairrun::mappedChecksums(o.repaired, "1"), repairrun::mappedChecksums(original, "1"));
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
}
