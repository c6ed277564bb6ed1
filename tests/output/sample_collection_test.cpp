// Collecting found samples, clip naming and the output-name safety check.

#include "scan/scan_buffer.h"
#include "output/output_writer.h"
#include "output/sample_collection.h"
#include "support/output_test_util.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace outtest;

TEST(SampleCollection, SizesMustBeBelowTheInputSize) {
    LogCapture log(LogLevel::Debug);
    ScanBuffer reader;
    ASSERT_TRUE(reader.open(testsupport::writeScratch("CollectionSizes", "input.bin", std::vector<uint8_t>(1000, 0x42))));
    RepairState state;
    add_video_samples(state, reader, 10, 999, 1001);
    add_video_samples(state, reader, 10, 1000, 0);  // as large as the file
    add_video_samples(state, reader, 10, -5, 0);
    addAudioSample(state, reader, 20, 300, -1);
    addAudioSample(state, reader, 20, 1000, -1);
    ASSERT_EQ(state.m_samples.size(), 2u);
    EXPECT_EQ(state.m_samples[0].extra, 1001);
    EXPECT_EQ(state.m_samples[1].kind, SampleKind::Audio);
    EXPECT_EQ(state.m_samples[1].extra, -1);
    EXPECT_EQ(state.m_totalVideoSize, 999u);
    EXPECT_EQ(state.m_totalAudioSize, 300u);
    EXPECT_TRUE(log.has(LogLevel::Error, "add_video_samples: invalid size (1000)"));
    EXPECT_TRUE(log.has(LogLevel::Error, "add_video_samples: invalid size (-5)"));
    EXPECT_TRUE(log.has(LogLevel::Error, "addAudioSample: invalid size (1000)"));
    EXPECT_EQ(log.messages(LogLevel::Debug, "add_video_samples").size(), 3u);
}

// Trimming surplus audio removes audio entries from the end only, whatever
// video lies between them, and keeps the audio total right.
TEST(SampleCollection, RemovingTheLastAudioKeepsVideoAndTotals) {
    ScanBuffer reader;
    ASSERT_TRUE(reader.open(testsupport::writeScratch("CollectionRemoveAudio", "input.bin", std::vector<uint8_t>(1000, 0x42))));
    RepairState state;
    addAudioSample(state, reader, 0, 100, 0);
    add_video_samples(state, reader, 100, 50, 0);
    addAudioSample(state, reader, 150, 200, 1);
    add_video_samples(state, reader, 350, 50, 0);
    addAudioSample(state, reader, 400, 300, 0);
    EXPECT_EQ(removeLastAudioSamples(state, 2), 2u);
    ASSERT_EQ(state.m_samples.size(), 3u);
    EXPECT_EQ(state.m_samples[0].offset, 0);
    EXPECT_EQ(state.m_samples.count(SampleKind::Audio), 1u);
    EXPECT_EQ(state.m_samples.count(SampleKind::Video), 2u);
    EXPECT_EQ(state.m_totalAudioSize, 100u);
    EXPECT_EQ(removeLastAudioSamples(state, 5), 1u);
    EXPECT_EQ(state.m_totalAudioSize, 0u);
    EXPECT_EQ(state.m_samples.size(), 2u);
}

TEST(SampleCollection, ClipNumbersAdvanceOnlyWhenAMovieWasOpen) {
    LogCapture log(LogLevel::Debug);
    const std::string dir = testsupport::scratchDir("CollectionClips");
    ScanBuffer reader;
    const std::string input = dir + "/input.bin";
    testsupport::writeFile(input, std::vector<uint8_t>(4096, 0x42));
    ASSERT_TRUE(reader.open(input));
    RepairState state;
    state.m_inputFileName = input;
    setOutputNames(state, dir + "/movie.part.mov", "", "");
    EXPECT_EQ(state.m_outputBase, dir + "/movie.part");
    EXPECT_EQ(state.m_outputExtension, "mov");
    reset_clip(state, true);
    EXPECT_EQ(state.m_outputName, dir + "/movie.part.mov");  // the first clip keeps the given name
    reset_clip(state, true);  // nothing open: same clip
    EXPECT_EQ(state.m_outputName, dir + "/movie.part.mov");

    add_video_samples(state, reader, 0, 100, 0);
    ensure_created(state);
    ASSERT_NE(state.m_outputMovie, nullptr);
    nextClip(state);
    EXPECT_EQ(state.m_clipNumber, 1u);
    EXPECT_TRUE(state.m_samples.empty());
    EXPECT_EQ(state.m_totalVideoSize, 0u);
    EXPECT_TRUE(log.has(LogLevel::Info, "total video size: 100"));
    EXPECT_TRUE(log.has(LogLevel::Info, "next clip: " + dir + "/movie.part_1.mov"));
    EXPECT_GT(testsupport::readFile(dir + "/movie.part.mov").size(), 0u);

    // Closing without a new list keeps the samples.
    add_video_samples(state, reader, 0, 100, 0);
    reset_clip(state, false);
    EXPECT_EQ(state.m_samples.size(), 1u);

    std::string base, extension;
    splitOutputName("out", base, extension);
    EXPECT_EQ(base, "out");
    EXPECT_EQ(extension, "out");
}

TEST(SampleCollection, OutputNamesThatHitTheInputOrReferenceAreRefused) {
    LogCapture log(LogLevel::Fatal);
    const std::string dir = testsupport::scratchDir("CollectionRefuse");
    const std::string input = dir + "/input.bin";
    testsupport::writeFile(input, std::vector<uint8_t>(10, 0x42));
    const std::string reference = dir + "/ref.mov";
    testsupport::writeFile(reference, {1, 2, 3});
    const std::string clipInput = dir + "/take.mov";
    testsupport::writeFile(clipInput, {1});

    RepairState state;
    setOutputNames(state, dir + "/../CollectionRefuse/input.bin", "", "");
    EXPECT_FALSE(checkOutputNames(state, input, reference));
    EXPECT_TRUE(log.contains(" is the input file; refusing to overwrite it"));

    setOutputNames(state, dir + "/new.mov", "", reference);
    EXPECT_FALSE(checkOutputNames(state, input, reference));
    EXPECT_TRUE(log.contains("output file " + reference + " is the reference file; refusing to overwrite it"));

    setOutputNames(state, dir + "/new.mov", input, "");
    EXPECT_FALSE(checkOutputNames(state, input, reference));

    // -o take.mov writes take.mov, which here is the input.
    setOutputNames(state, dir + "/take.mov", "", "");
    EXPECT_FALSE(checkOutputNames(state, clipInput, reference));

    setOutputNames(state, dir + "/new.mov", dir + "/a.raw", dir + "/v.raw");
    EXPECT_TRUE(checkOutputNames(state, input, reference));
    EXPECT_EQ(testsupport::readFile(input).size(), 10u);
    EXPECT_EQ(testsupport::readFile(reference).size(), 3u);

    // The writer itself also refuses a clip name that is the input.
    setOutputNames(state, dir + "/take.mov", "", "");
    state.m_inputFileName = clipInput;
    reset_clip(state, true);
    ensure_created(state);
    EXPECT_EQ(state.m_outputMovie, nullptr);
    EXPECT_EQ(testsupport::readFile(clipInput).size(), 1u);
}
