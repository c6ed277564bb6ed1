// -pcm end to end on H.264 with 16-bit PCM in half-second chunks, three
// seconds of tone and one of digital silence, its index lost. With a
// reference that shows where the sound sits, every chunk comes back whole,
// the silent ones too; with a reference without sound the sound is found by
// how it behaves, in pieces of the original's sound and never in the silence.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int64_t kFrameBytes = 4;  // 16-bit stereo

std::string toneThenSilence() {
    return testsupport::fixture(
        "pcm_tone_silence.mov",
        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 "
        "-f lavfi -i \"aevalsrc=exprs=if(lt(t\\,3)\\,0.3*sin(2*PI*440*t)\\,0):s=48000:d=4\" "
        "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a pcm_s16le -ac 2 -chunk_duration 500000");
}

std::string rawSound(const std::string& movie) {
    const std::vector<uint8_t> bytes = testsupport::streamBytes(movie, "0:a", "s16le");
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(PcmFilter, ChunksWhereTheReferencePlacesSound) {
    const std::string original = toneThenSilence();
    const repairrun::Bytes damaged = repairrun::withoutIndex(original);
    const repairrun::Outcome o =
        repairrun::repair("PcmFilter.Chunks", testmedia::h264PcmMov(), damaged, "-pcm", original);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    const std::vector<std::string> want = repairrun::checksums(original, 1);
    ASSERT_GT(want.size(), 8u);
    EXPECT_EQ(repairrun::checksums(o.repaired, 1), want);

    // -pcmcut drops that many sample frames at the start of every chunk.
    int chunks = 0;
    for (const testmedia::Run& r : testmedia::fileOrderRuns(testmedia::probePackets(original)))
        chunks += r.stream == 1;
    const repairrun::Outcome cut =
        repairrun::repair("PcmFilter.Cut", testmedia::h264PcmMov(), damaged, "-pcm -pcmcut 100", original);
    EXPECT_EQ(rawSound(cut.repaired).size() + size_t(chunks) * 100 * kFrameBytes, rawSound(original).size());
}

TEST(PcmFilter, RunsOfSoundWithoutALayout) {
    const std::string original = toneThenSilence();
    const repairrun::Outcome o = repairrun::repair("PcmFilter.Runs", testmedia::h264OnlyMov(),
                                                   repairrun::withoutIndex(original),
                                                   "-pcm -af sowt -ac 2 -ab 16 -ar 48000", original);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    const std::string want = rawSound(original);
    const std::string got = rawSound(o.repaired);
    // Without a reference sound track a sample is 5000 frames.
    const size_t piece = 5000 * kFrameBytes;
    ASSERT_EQ(got.size() % piece, 0u);
    // The sound lasts what its frames last at 48 kHz.
    const auto streams = testmedia::probeStreams(o.repaired);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_NEAR(std::stod(streams[1].at("duration")), double(got.size()) / kFrameBytes / 48000, 0.01);
    const size_t pieces = got.size() / piece;
    // Six chunks of tone hold four whole pieces each; the silence none.
    EXPECT_GE(pieces, 20u);
    EXPECT_LE(pieces, 24u);
    for (size_t i = 0; i < pieces; ++i) {
        const std::string p = got.substr(i * piece, piece);
        const size_t at = want.find(p);
        EXPECT_TRUE(at != std::string::npos && at % kFrameBytes == 0) << "piece " << i << " is not the original's";
        EXPECT_NE(p.find_first_not_of('\0'), std::string::npos) << "piece " << i << " is silence";
    }
}
