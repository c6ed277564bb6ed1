// Chunk profiles learnt from the reference's chunk table, judged against the
// runs of video packets ffprobe finds in the file.

#include "reference/reference_info.h"
#include "reference/video_chunk_profiles.h"
#include "support/log_capture.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using testsupport::LogCapture;

namespace {

// Profiles from ffprobe's video runs, in the order their counts first appear.
std::vector<ChunkProfile> probedProfiles(const std::string& file, int videoStream) {
    std::vector<ChunkProfile> out;
    for (const testmedia::Run& r : testmedia::fileOrderRuns(testmedia::probePackets(file))) {
        if (r.stream != videoStream)
            continue;
        const uint32_t k = uint32_t(r.packets);
        const uint64_t size = uint64_t(r.bytes);
        auto it = std::find_if(out.begin(), out.end(), [k](const ChunkProfile& p) { return p.samples == k; });
        if (it == out.end()) {
            out.push_back(ChunkProfile{k, size, size, 1});
        } else {
            it->minSize = std::min(it->minSize, size);
            it->maxSize = std::max(it->maxSize, size);
            ++it->chunks;
        }
    }
    return out;
}

std::string text(const std::vector<ChunkProfile>& profiles) {
    std::ostringstream s;
    for (size_t i = 0; i < profiles.size(); ++i)
        s << (i ? "," : "") << profiles[i].samples << "x:" << profiles[i].minSize << ".." << profiles[i].maxSize << "/"
          << profiles[i].chunks;
    return s.str();
}

}  // namespace

TEST(VideoChunkProfiles, MatchTheVideoRunsFfprobeSeesLargestFirst) {
    // Chunks of 0.42 s: 10 and 11 frames, the 10 met first, and a longer
    // first and a shorter last chunk.
    const std::string file = testsupport::fixture(
        "video_chunk_profiles.mov", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 "
                                    "-t 4 -c:v libx264 -g 50 -c:a aac -chunk_duration 420000");
    auto info = ReferenceInfo::build(file, false);
    ASSERT_TRUE(info->isOpen());
    info->collectSamples();
    ASSERT_NE(info->videoTrack(), nullptr);
    const std::vector<ChunkProfile> probed = probedProfiles(file, 0);
    // Only an order that differs from the one the counts are met in shows the sorting.
    std::vector<ChunkProfile> sorted = probed;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ChunkProfile& a, const ChunkProfile& b) { return a.samples > b.samples; });
    ASSERT_NE(text(sorted), text(probed));

    LogCapture log(LogLevel::Info);
    size_t tested = 0;
    // The bytes handed over are the sample's: they begin with the length of
    // a NAL unit that fits in it.
    const auto whole = [&](const uint8_t* data, int64_t size) {
        ++tested;
        const int64_t unit = (int64_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
        return unit > 0 && unit + 4 <= size;
    };
    const auto learnt = learnVideoChunkProfiles(*info->videoTrack(), info->videoSamples(), file, whole, "TEST");
    EXPECT_EQ(tested, info->videoSamples().size());
    EXPECT_TRUE(log.has(LogLevel::Info, "TEST reference chunk profiles=" + text(probed)));
    EXPECT_EQ(text(learnt), text(sorted));

    // Without a test the samples are taken by their sizes alone.
    EXPECT_EQ(text(learnVideoChunkProfiles(*info->videoTrack(), info->videoSamples(), file, nullptr, "TEST")),
              text(sorted));

    // A sample that fails the test takes its chunk out, and only that chunk.
    size_t calls = 0;
    const auto rejectFirst = [&](const uint8_t*, int64_t) { return calls++ != 0; };
    const auto withoutFirst =
        learnVideoChunkProfiles(*info->videoTrack(), info->videoSamples(), file, rejectFirst, "TEST");
    uint32_t chunks = 0, expectedChunks = 0;
    for (const ChunkProfile& p : withoutFirst)
        chunks += p.chunks;
    for (const ChunkProfile& p : probed)
        expectedChunks += p.chunks;
    EXPECT_EQ(chunks, expectedChunks - 1);
}
