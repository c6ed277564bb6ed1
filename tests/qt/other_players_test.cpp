// Repaired movies read by a player that is not ffmpeg: GStreamer's demuxer
// takes a QuickTime sound description more literally, so a box that ffmpeg
// shrugs off shows here.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(OtherPlayers, GStreamerDecodesTheMp3OfARepairedQuickTimeMovieToTheEnd) {
    const std::string mov = testmedia::movie("players_mp3.mov", "-c:v libx264 -bf 2 -g 50 -crf 30 -pix_fmt yuv420p "
                                                                "-c:a libmp3lame -ac 2 -b:a 128k");
    const auto o = repairrun::repair("OtherPlayers.Mp3", mov, repairrun::withoutIndex(mov));
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
    const auto gst = testsupport::runCommand("gst-launch-1.0 filesrc location=" + testsupport::quote(o.repaired) +
                                                 " ! qtdemux name=d d.audio_0 ! queue ! decodebin ! fakesink",
                                             true);
    EXPECT_EQ(gst.exitCode, 0) << gst.output;
    EXPECT_EQ(gst.output.find("ERROR"), std::string::npos) << gst.output;
    EXPECT_NE(gst.output.find("Got EOS"), std::string::npos) << gst.output;
}

}  // namespace
