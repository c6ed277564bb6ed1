// A recording whose pictures or sound start later than the movie (an empty
// edit in front of the track, as Apple's writers make): the repaired track
// started at zero, and picture and sound were out of step by the delay.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Delay {
    const char* name;
    int stream;         // the delayed one
    const char* video;  // options of the video input and output
    const char* sound;
};

class DelayedTrackRepair : public ::testing::TestWithParam<Delay> {};

std::string recording(const Delay& d, const std::string& name, const char* pattern, int tone, int seconds) {
    const std::string t = std::to_string(seconds);
    return testsupport::fixture(name, "-f lavfi -i " + std::string(pattern) + "=size=320x240:rate=25:duration=" + t +
                                          " " + d.sound + " -f lavfi -i sine=frequency=" + std::to_string(tone) +
                                          ":sample_rate=48000:duration=" + t +
                                          " -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -ac 1 " + d.video + " -t " + t);
}

}  // namespace

TEST_P(DelayedTrackRepair, KeepsTheReferencesDelay) {
    const Delay& d = GetParam();
    const std::string original = recording(d, std::string("delayed_") + d.name + ".mov", "testsrc2", 440, 4);
    const std::string reference = recording(d, std::string("delayed_") + d.name + "_ref.mov", "testsrc", 880, 2);
    const repairrun::Outcome o = repairrun::repair(std::string("DelayedTrackRepair.") + d.name, reference,
                                                   repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    const auto before = testmedia::probeStreams(original);
    const auto after = testmedia::probeStreams(o.repaired);
    ASSERT_EQ(after.size(), 2u);
    const double delay = std::stod(before[size_t(d.stream)].at("start_time"));
    EXPECT_GT(delay, 0.2);
    EXPECT_NEAR(std::stod(after[size_t(d.stream)].at("start_time")), delay, 0.002);
    EXPECT_NEAR(std::stod(after[size_t(1 - d.stream)].at("start_time")), 0, 0.002);
}

INSTANTIATE_TEST_SUITE_P(Tracks, DelayedTrackRepair,
                         ::testing::Values(Delay{"pictures", 0, "-bsf:v setts=pts=PTS+3200:dts=DTS+3200", ""},
                                           Delay{"sound", 1, "", "-itsoffset 0.25"}),
                         [](const ::testing::TestParamInfo<Delay>& info) { return std::string(info.param.name); });
