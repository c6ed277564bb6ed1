// AAC found between H.264 chunks, end to end: recordings whose index was
// lost, repaired with a reference of the same settings but other sound, must
// give back exactly the original's AAC packets (ffmpeg packet checksums, in
// order, no more and no fewer).

#include "support/repair_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

repairrun::Recording make(const std::string& file, int rate, const std::string& video, const std::string& audio,
                          const std::string& encode, int seconds) {
    return {file, "-f lavfi -i testsrc2=size=320x240:rate=" + std::to_string(rate) + " -f lavfi -i " + audio + " -t " +
                      std::to_string(seconds) + " -c:v libx264 " + video + " -c:a aac " + encode};
}

// Digital silence is recorded with a silent reference (a screen recorder's
// settings); a tone with a reference of noise, and noise (larger frames than
// any the reference shows) with one of a tone.
repairrun::Case gap(const std::string& name, int rate, const std::string& video, const std::string& audio,
                    const std::string& encode, int seconds) {
    const std::string r = audio.substr(audio.find("r="));
    const std::string other = audio.rfind("sine", 0) == 0        ? "anoisesrc=a=0.3:seed=11:" + r
                              : audio.rfind("anoisesrc", 0) == 0 ? "sine=frequency=880:" + r
                                                                 : audio;
    return {name, make("aacgap_" + name + ".mp4", rate, video, audio, encode, seconds),
            make("aacgap_" + name + "_ref.mp4", rate, video, other, encode, 3), repairrun::SoundExact};
}

}  // namespace

class AacBetweenChunks : public repairrun::Cases {};

TEST_P(AacBetweenChunks, EveryFrameComesBackOnce) { repairrun::expectRepaired(GetParam()); }

// Mono frames whose first byte follows the loudness; 5.1 (every frame opens
// with the centre channel), with a first frame smaller, or a first chunk
// longer, than any of the reference's; 96 kHz in two-second chunks; digital
// silence (6-byte frames); the first frame in front of the first video chunk.
INSTANTIATE_TEST_SUITE_P(
    Recordings, AacBetweenChunks,
    ::testing::Values(
        gap("mono22k_chunks", 25, "-bf 2", "sine=frequency=440:r=22050", "-ac 1 -b:a 64k -chunk_duration 875000", 4),
        gap("surround51_noise_chunks", 25, "-bf 1", "anoisesrc=a=0.2:seed=12:r=32000,aformat=channel_layouts=5.1",
            "-b:a 256k -chunk_duration 729000", 4),
        gap("surround51_first_small", 24, "-bf 0", "sine=frequency=440:r=48000,aformat=channel_layouts=5.1",
            "-b:a 256k -chunk_duration 317000", 3),
        gap("rate96k_chunks2s", 30, "-bf 1", "sine=frequency=440:r=96000", "-ac 2 -b:a 128k -chunk_duration 2000000", 5),
        gap("silence", 30, "-bf 2", "anullsrc=r=48000:cl=stereo", "-b:a 128k", 4),
        gap("baseline24", 24, "-profile:v baseline", "sine=frequency=440:r=48000", "-ac 2", 5)),
    repairrun::caseName);
