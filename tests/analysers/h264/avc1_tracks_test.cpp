// Recordings with more than one sound track: each comes back as a track of
// its own, judged by ffmpeg's packet checksums against the intact original.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using testsupport::quote;

namespace {

// Video with two tones: a stereo 48 kHz track and a second one of the given
// rate and channels (a camera's main and commentary microphones); the tracks
// whose bits are set in `muted` (1: the first) are digital silence instead,
// a muted microphone, whose AAC frames are a few bytes each.
std::string twoToneMovie(const std::string& name, int seconds, int low, int high, int rate, int channels,
                         const std::string& mux, int muted = 0) {
    const std::string d = std::to_string(seconds);
    return testsupport::fixture(
        name, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=" + d +
                  " -f lavfi -i sine=frequency=" + std::to_string(low) + ":sample_rate=48000:duration=" + d + (muted & 1 ? ",volume=0" : "") +
                  " -f lavfi -i sine=frequency=" + std::to_string(high) + ":sample_rate=" + std::to_string(rate) +
                  ":duration=" + d + (muted & 2 ? ",volume=0" : "") +
                  " -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -b:a 96k"
                  " -ac:a:0 2 -ac:a:1 " + std::to_string(channels) + " " + mux);
}

// Packet checksums of one stream; every stream is mapped, not just ffmpeg's
// pick of one per kind.
std::multiset<std::string> checksums(const std::string& file, int stream) {
    const auto sums = repairrun::mappedChecksums(file, std::to_string(stream));
    return {sums.begin(), sums.end()};
}

struct Layout {
    const char* name;
    const char* ext;
    const char* mux;
    int rate;      // of the second track
    int channels;  // of the second track
    int mutedOriginal;   // tracks of digital silence (bit 0: the first)
    int mutedReference;
};

void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

class Avc1TwoSoundTracks : public ::testing::TestWithParam<Layout> {};

// ffmpeg alternates the tracks frame by frame by default (and where both
// have the same settings only the order tells them apart), in half-second
// chunks with -chunk_duration (and then in either order, by decode time).
TEST_P(Avc1TwoSoundTracks, EachTrackComesBackOnItsOwn) {
    const Layout& l = GetParam();
    const std::string ext = l.ext;
    const std::string ref =
        twoToneMovie(std::string("two_tone_ref_") + l.name + ext, 2, 330, 660, l.rate, l.channels, l.mux,
                     l.mutedReference);
    const std::string original =
        twoToneMovie(std::string("two_tone_") + l.name + ext, 3, 440, 880, l.rate, l.channels, l.mux, l.mutedOriginal);
    const auto o = repairrun::repair(std::string("Avc1TwoSoundTracks.") + l.name, ref,
                                     repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_GE(o.video.percent(), 99.0);

    const auto streams = testmedia::probeStreams(o.repaired);
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[1].at("channels"), "2");
    EXPECT_EQ(streams[2].at("channels"), std::to_string(l.channels));
    EXPECT_EQ(streams[2].at("sample_rate"), std::to_string(l.rate));

    for (int s : {1, 2}) {
        const auto want = checksums(original, s);
        const auto other = checksums(original, 3 - s);
        const auto got = checksums(o.repaired, s);
        ASSERT_FALSE(want.empty());
        size_t recovered = 0, foreign = 0;
        for (const std::string& md5 : std::set<std::string>(want.begin(), want.end()))
            recovered += std::min(want.count(md5), got.count(md5));
        // A frame of the other track that this track never had.
        for (const std::string& md5 : got)
            foreign += other.count(md5) > 0 && want.count(md5) == 0;
        EXPECT_GE(100.0 * double(recovered) / double(want.size()), 97.0) << "stream " << s;
        EXPECT_EQ(foreign, 0u) << "stream " << s;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Avc1TwoSoundTracks,
                         ::testing::Values(Layout{"alternating", ".mp4", "", 44100, 1, 0, 0},
                                           Layout{"alternating_muted", ".mp4", "", 44100, 1, 2, 1},
                                           Layout{"alternating_same", ".mp4", "", 48000, 2, 0, 0},
                                           Layout{"halfsecond", ".mov", "-chunk_duration 500000", 44100, 1, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
