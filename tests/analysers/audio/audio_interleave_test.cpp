// The AAC run rule of the stand-alone audio analyser. (The arithmetic that
// keeps audio in step with video is held by the repairs of damaged
// recordings: a wrong expectation, tolerance or padding rule fails them.)

#include "analysers/audio/aac_analyser.h"
#include "scan/scan_buffer.h"
#include "output/repair_state.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

TEST(AACAnalyser, RunMustBeLongerThanHalfAChunk) {
    const std::string movie = testsupport::fixture(
        "aac_run.mp4", "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -c:a aac -ac 2 -b:a 96k");
    RepairState state;
    state.m_reference = ReferenceInfo::build(movie, false);
    ASSERT_TRUE(state.m_reference->isOpen());
    state.m_reference->analyseChunks();
    state.m_reference->collectSamples();
    const auto& audio = state.m_reference->audioSamples();
    ASSERT_GT(audio.size(), 20u);
    // One track of audio is one chunk, which begins with the encoder's
    // first frame; every later frame begins with 0x21 (a channel pair).
    state.m_reference->audio().m_audioDataStart = 0x21;
    ScanInfo info;
    info.aacFilter = true;
    AACAnalyser aac(&state, &info);
    ASSERT_TRUE(aac.accepts());
    ScanBuffer input;
    ASSERT_TRUE(input.open(movie));

    // How many offsets the analyser's 5000-byte chain holds at the second frame.
    const int64_t at = audio[1].offset;
    FrameChain chain;
    ASSERT_GT(aac.aacFrameChain(input, at, 5000, chain), 0);
    const size_t offsets = chain.size();
    ASSERT_GT(offsets, 3u);

    // Exactly half a chunk in offsets is not enough ...
    state.m_reference->layout().m_audioSamplesPerChunk = uint32_t(2 * offsets);
    uint8_t first = 0;
    input.read(&first, at, 1);
    EXPECT_TRUE(aac.check(at, &first, 1));
    EXPECT_FALSE(aac.analyse(at, input));
    EXPECT_EQ(state.m_samples.size(), 0u);
    // ... one offset more is.
    state.m_reference->layout().m_audioSamplesPerChunk = uint32_t(2 * offsets - 2);
    EXPECT_FALSE(aac.analyse(at, input));
    ASSERT_EQ(state.m_samples.size(), offsets - 1);
    EXPECT_EQ(state.m_samples[0].offset, at);
    EXPECT_EQ(state.m_samples[0].size, audio[1].size);
    EXPECT_EQ(state.m_samples[0].extra, -1);
    EXPECT_EQ(state.m_audio->m_codec, "mp4a");
    // The run is taken once: its bytes are not offered again.
    EXPECT_FALSE(aac.check(at + 1, &first, 1));
}
