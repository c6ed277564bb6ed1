// Verification by reference and of the written output.

#include "output/output_verifier.h"
#include "output/output_writer.h"
#include "output/reference_verifier.h"
#include "output/sample_collection.h"
#include "support/atom_builder.h"
#include "support/output_test_util.h"
#include "support/test_support.h"

#include <gtest/gtest.h>


using namespace outtest;


TEST(ReferenceVerifier, IntactFileImportedAsFoundScoresFullMarks) {
    const std::string source = h264AacMp4();
    LogCapture log(LogLevel::Info);
    auto state = stateFromReference(source, "");
    importReferenceSamples(*state);
    const VerifyCounts counts = verifyByReference(*state);
    EXPECT_EQ(counts.videoMatches, counts.videoFound);
    EXPECT_EQ(counts.audioMatches, counts.audioFound);
    EXPECT_TRUE(log.has(LogLevel::Notice, "repair rate: 100"));
    EXPECT_EQ(log.messages(LogLevel::Notice, "**missing").size(), 0u);
    EXPECT_EQ(log.messages(LogLevel::Notice, "verify avcC SPS matches: 1 of 1").size(), 1u);
    EXPECT_EQ(log.messages(LogLevel::Warning).size(), 0u);
    EXPECT_TRUE(log.has(LogLevel::Notice, "verify complete"));

    // Drop the third video frame and shift the fifth: one missing, one misplaced.
    FoundSampleList damaged;
    int video = 0;
    for (const MediaSample& s : state->m_samples) {
        MediaSample copy = s;
        if (s.isVideo() && ++video == 3)
            continue;
        if (s.isVideo() && video == 5)
            copy.offset += 1;
        damaged.push_back(copy);
    }
    state->m_samples = damaged;
    const VerifyCounts after = verifyByReference(*state);
    EXPECT_EQ(after.videoMatches, after.videoFound - 1);
    EXPECT_LT(after.repairRate, 100.0);
    EXPECT_GE(log.messages(LogLevel::Notice, "**missing video sample** (").size(), 2u);
    EXPECT_FALSE(log.messages(LogLevel::Info, "verified video sample ").empty());
}

TEST(OutputVerifier, GoodOutputPassesBrokenTablesAndEmptyFilesFail) {
    const std::string source = proresPcmMov();
    LogCapture log(LogLevel::Notice);
    const std::string dir = testsupport::scratchDir("OutputVerifier");
    auto state = stateFromReference(source, dir + "/good.mov");

    // Nothing written yet.
    verifyOutput(*state);
    EXPECT_TRUE(log.has(LogLevel::Notice, "verify output container: skipped (no written output file)"));

    importReferenceSamples(*state);
    dumpSamples(*state);
    // verifyOutput closes the still open movie itself.
    const OutputVerifyResult good = verifyOutput(*state);
    EXPECT_TRUE(good.containerPassed);
    EXPECT_EQ(good.readableSamples, good.totalSamples);
    EXPECT_GT(good.totalSamples, 25u);
    EXPECT_EQ(good.formatPreserved, good.formatCompared);
    EXPECT_EQ(good.timingPassed, good.timingChecks);
    EXPECT_NEAR(double(good.videoMs), 2000.0, 1.0);
    EXPECT_TRUE(log.has(LogLevel::Notice, "verify output container: passed file=" + dir + "/good.mov"));
    EXPECT_TRUE(log.contains("verify output format: passed"));
    EXPECT_TRUE(log.contains("verify output timing: passed"));
    EXPECT_FALSE(log.contains("diff exceeds 500ms"));
    EXPECT_TRUE(log.has(LogLevel::Notice, "verify output complete"));

    // Point every chunk (video: sizes listed; PCM: fixed size) past the end.
    std::vector<uint8_t> bytes = testsupport::readFile(dir + "/good.mov");
    int patched = 0;
    for (size_t pos = testsupport::findType(bytes, "co64"); pos != std::string::npos;
         pos = testsupport::findType(bytes, "co64", pos + 4), ++patched) {
        const uint32_t entries = testsupport::be32(&bytes[pos + 8]);
        ASSERT_LE(pos + 12 + 8 * uint64_t(entries), bytes.size());
        for (uint8_t* p = &bytes[pos + 12]; p < &bytes[pos + 12] + 8 * entries; p += 8)
            testsupport::setBe64(p, testsupport::be64(p) + bytes.size());
    }
    ASSERT_EQ(patched, 2);
    testsupport::writeFile(dir + "/good.mov", bytes);
    LogCapture bad(LogLevel::Notice);
    const OutputVerifyResult broken = verifyOutput(*state);
    EXPECT_FALSE(broken.containerPassed);
    EXPECT_EQ(broken.readableSamples, 0u);
    EXPECT_EQ(broken.totalSamples, good.totalSamples);
    EXPECT_EQ(bad.messages(LogLevel::Warning, "verify output invalid sample: track=").size(), 10u);
    EXPECT_TRUE(bad.has(LogLevel::Notice, "verify output container: failed file=" + dir + "/good.mov"));

    testsupport::writeFile(dir + "/good.mov", {});
    LogCapture empty(LogLevel::Notice);
    EXPECT_FALSE(verifyOutput(*state).checked);
    EXPECT_TRUE(empty.has(LogLevel::Warning,
                          "verify output container: failed file=" + dir + "/good.mov reason=empty_or_unreadable"));

    RepairState none;
    LogCapture skipped(LogLevel::Notice);
    verifyOutput(none);
    EXPECT_TRUE(skipped.has(LogLevel::Notice, "verify output container: skipped (no output file)"));
}
