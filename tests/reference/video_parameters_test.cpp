// The working video record: command line, input and reference merged.

#include "reference/video_parameters.h"

#include <gtest/gtest.h>

TEST(VideoParameters, WithoutAVideoSourceTheTimescaleIs600) {
    // -fps 25 with no reference, or with one of sound alone: the frames are
    // timed at 600 units a second, 24 each, not at a timescale of 0.
    VideoParameters working;
    working.m_fps = 25;
    working.mergeFrom(VideoParameters());
    working.mergeFrom(VideoParameters());
    EXPECT_EQ(working.m_timescale, 600u);
    EXPECT_EQ(working.m_sampleDuration, 24u);

    // A source with a timescale of its own still wins over the default.
    VideoParameters reference;
    reference.m_timescale = 12800;
    reference.m_timescaleIsDefault = false;
    working.mergeFrom(reference);
    EXPECT_EQ(working.m_timescale, 12800u);
    EXPECT_EQ(working.m_sampleDuration, 512u);
}
