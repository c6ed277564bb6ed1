// -check compares each written audio sample with the reference and pauses on
// a mismatch; without a terminal the pause must not block.

#include "output/output_writer.h"
#include "output/sample_check.h"
#include "output/sample_collection.h"
#include "support/output_test_util.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace outtest;

TEST(SampleCheck, MismatchesAreReportedWithoutBlockingOnStdin) {
    const std::string source = h264AacMp4();
    // Whatever the test runner's stdin is, the pause sees no terminal.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    const std::string dir = testsupport::scratchDir("SampleCheck");

    {
        LogCapture log(LogLevel::Error);
        auto state = stateFromReference(source, dir + "/same.mp4");
        state->m_check = true;
        importReferenceSamples(*state);
        dumpSamples(*state);
        EXPECT_TRUE(log.messages(LogLevel::Error, "*** CHECK").empty());
    }
    {
        LogCapture log(LogLevel::Error);
        auto state = stateFromReference(source, dir + "/shifted.mp4");
        state->m_check = true;
        importReferenceSamples(*state);
        // Without the first audio block every later one is compared with its
        // predecessor in the reference.
        FoundSampleList shifted;
        bool dropped = false;
        for (const MediaSample& s : state->m_samples) {
            if (s.isAudio() && !dropped) {
                dropped = true;
                continue;
            }
            shifted.push_back(s);
        }
        state->m_samples = shifted;
        dumpSamples(*state);
        EXPECT_FALSE(log.messages(LogLevel::Error, "*** CHECK: INVALID SIZE sample=1, sz=").empty());
    }
    {
        LogCapture log(LogLevel::Error);
        RepairState state;
        state.m_check = true;
        checkAudioSample(state, nullptr, 0, 0);
        EXPECT_TRUE(log.has(LogLevel::Error, "*** CHECK: FAILED - no reffile!"));
    }
}
