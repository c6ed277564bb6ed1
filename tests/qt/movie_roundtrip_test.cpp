// Reader + writer against ffmpeg: every sample of an ffmpeg-made movie copied
// through QTOpen/QTAddSamples must give the same packets and timestamps.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_support.h"

namespace {

struct RoundTripCase {
    const char* name;
    const char* encodeArgs;
};

class MovieRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(MovieRoundTrip, PacketsAndTimestampsSurviveCopy) {
    const RoundTripCase& c = GetParam();
    const std::string src = qttest::sourceFixture(c.name, c.encodeArgs);
    ASSERT_FALSE(src.empty()) << "ffmpeg could not make " << c.name;
    std::string ext = c.name;
    ext = ext.substr(ext.rfind('.'));
    const std::string dst = testsupport::scratchDir(std::string("roundtrip_") + c.name) + "/copy" + ext;
    ASSERT_TRUE(qttest::copyMovie(src, dst));

    const auto expected = testsupport::framemd5(src);
    const auto actual = testsupport::framemd5(dst);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, actual);
    const auto probe = testsupport::runCommand("ffprobe -v error -show_streams " + testsupport::quote(dst) + " 2>&1");
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.output.find("rror"), std::string::npos) << probe.output.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, MovieRoundTrip,
    ::testing::Values(RoundTripCase{"rt_h264_aac.mp4", "-c:v libx264 -bf 2 -c:a aac -ac 2"},
                      RoundTripCase{"rt_hevc_aac.mp4", "-c:v libx265 -tag:v hvc1 -x265-params log-level=error -c:a aac -ac 2"},
                      RoundTripCase{"rt_prores_pcm.mov", "-c:v prores_ks -profile:v 2 -c:a pcm_s16le"},
                      RoundTripCase{"rt_h264_in24.mov", "-c:v libx264 -c:a pcm_s24le"},
                      // Rates above 65535 Hz make ffmpeg write a version-2 lpcm description.
                      RoundTripCase{"rt_h264_lpcm96k.mov", "-c:v libx264 -c:a pcm_s24le -ar 96000"},
                      RoundTripCase{"rt_h264_twos.mov", "-c:v libx264 -c:a pcm_s16be"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) { return testsupport::testNameOf(info.param.name); });

}  // namespace
