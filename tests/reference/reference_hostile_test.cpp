#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "support/atom_builder.h"
#include "support/log_capture.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Every path of the analysis at the most verbose level. Whatever the tables
// say, the sample lists hold placed samples only, and no more of them than
// the size tables count.
void analyseEverything(const std::string& file) {
    testsupport::LogCapture quiet(LogLevel::Trace);
    testing::internal::CaptureStdout();
    auto info = ReferenceInfo::build(file, true);
    info->analyseChunks();
    info->collectSamples();
    info->print();
    testing::internal::GetCapturedStdout();
    uint64_t videoCount = info->videoTrack() ? info->videoTrack()->m_sampleCount : 0, audioCount = 0;
    for (int i = 0; info->audioTrack(i); ++i)
        audioCount += info->audioTrack(i)->m_sampleCount;
    EXPECT_LE(info->videoSamples().size(), videoCount);
    EXPECT_LE(info->audioSamples().size(), audioCount);
    for (const auto* list : {&info->videoSamples(), &info->audioSamples()})
        for (const MediaSample& s : *list)
            ASSERT_GT(s.offset, 0);
}

}  // namespace

// Damaged sample tables in the reference: random bytes of the moov overwritten.
// Nothing may crash, hang or read out of bounds (run under the sanitizers).
TEST(ReferenceHostile, CorruptedMoovTables) {
    const std::string source = testmedia::h264AacMp4();
    const std::vector<uint8_t> clean = testsupport::readFile(source);
    const size_t moov = testsupport::findType(clean, "moov");
    ASSERT_NE(moov, std::string::npos);
    const std::string file = testsupport::scratchDir("reference_hostile") + "/damaged.mp4";
    std::mt19937 random(20261205);
    for (int round = 0; round < 80; ++round) {
        std::vector<uint8_t> data = clean;
        const int changes = 1 + int(random() % 16);
        for (int i = 0; i < changes; ++i) {
            const size_t at = moov + random() % (data.size() - moov);
            data[at] = (random() % 3 == 0) ? 0xFF : uint8_t(random());
        }
        ASSERT_TRUE(testsupport::writeFile(file, data));
        analyseEverything(file);
    }
}

// Chunk offsets far beyond the end of the file and above 2^63.
TEST(ReferenceHostile, ChunkOffsetsBeyondTheFile) {
    const std::string source = testmedia::h264OnlyMov();
    // stco: type, version and flags, entry count, then the first offset.
    const std::string far = testmedia::patchedCopy(source, "far.mov", "stco", 12, {0xFF, 0xFF, 0xFF, 0x00});
    analyseEverything(far);

    auto info = ReferenceInfo::build(testmedia::h264PcmMov(), false);
    ASSERT_TRUE(info->isOpen());
    MovieTrack* video = info->videoTrack();
    ASSERT_NE(video, nullptr);
    ASSERT_GE(video->m_chunkOffsets.size(), 2u);
    video->m_chunkOffsets[1] = 0xFFFFFFFFFFFFFF00ull;
    testsupport::LogCapture quiet(LogLevel::Warning);
    info->analyseChunks();
    info->collectSamples();
    // Its samples cannot be placed in the file: the list ends before them.
    EXPECT_EQ(info->layout().m_videoSamplesPerChunk, 12u);
    EXPECT_EQ(info->videoSamples().size(), 12u);
}
