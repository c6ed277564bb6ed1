#include "reference/reference_info.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

// A phone's clock puts every frame a little early or late. Over a short
// reference the mean of the middle durations still carries how early or
// late its first and last frames came (here 0.6% too long, which every
// repaired frame then inherits); the recorder's rate is the pace the frames
// keep over the whole of the middle.
TEST(VideoFrameDuration, JitteringClockGivesTheRecordersRate) {
    const std::string file = testsupport::fixture(
        "duration_jitter24.mp4", "-f lavfi -i testsrc=size=160x120:rate=24:duration=3 "
                                 "-vf \"settb=1/1000,setpts='(N+0.4*sin(N))/24/TB'\" -fps_mode vfr -enc_time_base 1:1000 "
                                 "-c:v libx264 -bf 0 -g 24");
    auto info = ReferenceInfo::build(file, false);
    ASSERT_TRUE(info->isOpen());
    ASSERT_EQ(info->video().m_timescale, 16000u);
    EXPECT_NEAR(double(info->video().m_sampleDuration), 16000.0 / 24, 1.0);
}
