// AAC found between H.264 chunks, end to end: recordings whose index was
// lost, repaired with a reference of the same settings but other sound, must
// give back exactly the original's AAC packets (ffmpeg packet checksums, in
// order, no more and no fewer).

#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recording {
    const char* name;
    int rate;              // video frames per second
    const char* video;     // video encoder settings
    const char* audio;     // lavfi source of the original
    const char* encode;    // audio encoder settings
    const char* mux;       // muxer settings
    const char* ext;
    int seconds;
};

void PrintTo(const Recording& r, std::ostream* os) { *os << r.name; }

std::string make(const Recording& r, const std::string& audioSource, int seconds, const std::string& suffix) {
    return testsupport::fixture(std::string("aacgap_") + r.name + suffix + "." + r.ext,
                                "-f lavfi -i testsrc2=size=320x240:rate=" + std::to_string(r.rate) + " -f lavfi -i " +
                                    audioSource + " -t " + std::to_string(seconds) + " -c:v libx264 " + r.video +
                                    " -c:a aac " + r.encode + " " + r.mux);
}

}  // namespace

class AacBetweenChunks : public ::testing::TestWithParam<Recording> {};

TEST_P(AacBetweenChunks, EveryFrameComesBackOnce) {
    const Recording& r = GetParam();
    const std::string original = make(r, r.audio, r.seconds, "");
    // Digital silence is recorded with a silent reference (a screen
    // recorder's settings); a tone with a reference of noise, and noise
    // (larger frames than any the reference shows) with one of a tone.
    const std::string source = r.audio;
    const std::string rate = source.substr(source.find("r="));
    std::string refSound = source;
    if (source.rfind("sine", 0) == 0)
        refSound = "anoisesrc=a=0.3:" + rate;
    else if (source.rfind("anoisesrc", 0) == 0)
        refSound = "sine=frequency=880:" + rate;
    const std::string ref = make(r, refSound, 3, "_ref");
    const repairrun::Outcome o = repairrun::repair(std::string("AacBetweenChunks.") + r.name, ref,
                                                   repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    const std::vector<std::string> want = repairrun::checksums(original, 1);
    ASSERT_GT(want.size(), 50u);
    EXPECT_EQ(repairrun::checksums(o.repaired, 1), want);
}

// Camera-like chunks of mono sound, whose frames' first byte follows the
// loudness; 5.1 (every frame opens with the centre channel), once with an
// encoder's first frame smaller than any of the reference's, once with a
// first audio chunk longer than any of the reference's, so that its sound
// starts before where it is looked for; 96 kHz in two-second chunks;
// digital silence (6-byte frames, the audio of a frame or two between video
// frames); the encoder's first frame in front of the first video chunk
// (24 fps baseline).
INSTANTIATE_TEST_SUITE_P(
    Recordings, AacBetweenChunks,
    ::testing::Values(
        Recording{"mono22k_chunks", 25, "-bf 2", "sine=frequency=440:r=22050",
                  "-ac 1 -b:a 64k", "-chunk_duration 875000", "mp4", 4},
        Recording{"surround51_noise_chunks", 25, "-bf 1", "anoisesrc=a=0.2:r=32000,aformat=channel_layouts=5.1",
                  "-b:a 256k", "-chunk_duration 729000", "mp4", 4},
        Recording{"surround51_first_small", 24, "-bf 0", "sine=frequency=440:r=48000,aformat=channel_layouts=5.1",
                  "-b:a 256k", "-chunk_duration 317000", "mp4", 3},
        Recording{"rate96k_chunks2s", 30, "-bf 1", "sine=frequency=440:r=96000", "-ac 2 -b:a 128k",
                  "-chunk_duration 2000000", "mp4", 5},
        Recording{"silence", 30, "-bf 2", "anullsrc=r=48000:cl=stereo", "-b:a 128k", "", "mp4", 4},
        Recording{"baseline24", 24, "-profile:v baseline", "sine=frequency=440:r=48000", "-ac 2",
                  "", "mp4", 5}),
    [](const auto& info) { return std::string(info.param.name); });
