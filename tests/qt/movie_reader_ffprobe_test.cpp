// Reader + writer against ffmpeg (every sample copied through
// QTOpen/QTAddSamples gives the same packets and timestamps), on one movie
// per distinct description and table path.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_media.h"
#include "support/test_support.h"

namespace {

struct Case {
    const char* name;
    std::string (*make)();
};

// ProRes with big-endian PCM (twos) and the moov first; MPEG-2 with 24-bit
// PCM (in24, wave and enda) and with 96 kHz PCM (version 2 lpcm
// description). AVC with ctts and esds audio, HEVC and ProRes with sowt go
// through the writer in SimRoundTrip, judged by the same checksums.
const Case kCases[] = {
    {"prores_twos_faststart",
     [] { return testmedia::movie("prores_twos.mov", "-c:v prores -profile:v 0 -c:a pcm_s16be -movflags +faststart"); }},
    {"mpeg2_in24", [] { return testmedia::movie("mpeg2_in24.mov", "-c:v mpeg2video -c:a pcm_s24le"); }},
    {"mpeg2_lpcm96k", [] { return testmedia::movie("mpeg2_lpcm.mov", "-c:v mpeg2video -c:a pcm_s24le -ar 96000"); }},
};

class MovieVsFfmpeg : public ::testing::TestWithParam<Case> {};

TEST_P(MovieVsFfmpeg, CopyKeepsPacketsAndTimestamps) {
    const std::string src = GetParam().make();
    const std::string dst = testsupport::scratchDir(std::string("roundtrip_") + GetParam().name) + "/copy" +
                            src.substr(src.rfind('.'));
    ASSERT_TRUE(qttest::copyMovie(src, dst));
    const auto expected = testsupport::framemd5(src);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(testsupport::framemd5(dst), expected);
    // The copy keeps the raw description; the picture size repairs declare
    // is the reader's.
    const qttest::Movie movie = qttest::open(src);
    ASSERT_TRUE(movie && movie->m_videoTrack);
    const auto video = testmedia::probeStreams(src).at(size_t(movie->m_videoTrack - movie->m_tracks));
    EXPECT_EQ(std::to_string(movie->m_videoTrack->m_width) + "x" + std::to_string(movie->m_videoTrack->m_height),
              video.at("width") + "x" + video.at("height"));
    const auto probe = testsupport::runCommand("ffprobe -v error -show_streams " + testsupport::quote(dst), true);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.output.find("rror"), std::string::npos) << probe.output.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, MovieVsFfmpeg, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The dump command prints what the reader found.
TEST(QtDumpCommand, PrintsTheMovie) {
    const std::string file = testmedia::h264AacMp4();
    const auto dump = testsupport::runFramend("-i " + testsupport::quote(file) + " -dump");
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_NE(dump.output.find("---------------- QTDump -------------\n"), std::string::npos);
    EXPECT_NE(dump.output.find("    trackcount: 2\n"), std::string::npos);
}

}  // namespace
