// New clip detection: a clip split needs 30 samples and then five atom
// signatures with no new sample in between; the driver writes the clip.

#include "analysers/core/clip_sink.h"
#include "analysers/core/mdat_analyser.h"
#include "scan/scan_buffer.h"
#include "support/output_test_util.h"
#include "output/sample_collection.h"
#include "reference/reference_info.h"
#include "support/test_support.h"
#include "support/recording_clip_sink.h"

#include <gtest/gtest.h>


using namespace outtest;

TEST(MDATAnalyser, TakesPartOnlyWithNewClipDetection) {
    RepairState state;
    ScanInfo info;
    MDATAnalyser analyser(&state, &info, nullptr);
    EXPECT_FALSE(analyser.accepts());
    info.newClipDetection = true;
    EXPECT_TRUE(analyser.accepts());
    // Which types it stops at is the search test's below (findCandidate asks
    // check() at every hit); a signature cut off is none.
    EXPECT_FALSE(analyser.check(0, reinterpret_cast<const uint8_t*>("ftyp"), 3));
}

TEST(MDATAnalyser, SplitsAfterThirtySamplesAndFiveSignatures) {
    const std::string source = h264AacMp4();
    LogCapture log(LogLevel::Debug);
    const std::string dir = testsupport::scratchDir("MDATAnalyserSplit");
    auto state = stateFromReference(source, dir + "/clip.mp4");
    const std::vector<MediaSample> found = state->m_reference->videoSamples();
    ASSERT_GE(found.size(), 25u);
    ScanBuffer reader;
    ASSERT_TRUE(reader.open(source));
    ScanInfo info;
    info.newClipDetection = true;
    info.setGapStart(1);
    info.setAudioEnd(2);
    info.setFrameStart(3);
    info.setFrameEnd(4);
    RecordingClipSink clips(*state);
    MDATAnalyser analyser(state.get(), &info, &clips);
    ASSERT_TRUE(analyser.accepts());

    auto add = [&](size_t i) {
        const MediaSample& s = found[i % found.size()];
        add_video_samples(*state, reader, s.offset, s.size, s.extra);
    };
    for (size_t i = 0; i < 29; ++i)
        add(i);
    for (int hit = 0; hit < 12; ++hit)
        EXPECT_FALSE(analyser.analyse(1000 + hit, reader));
    EXPECT_TRUE(log.messages(LogLevel::Info, "nfd at ").empty()) << "fewer than 30 samples";

    add(29);
    for (int hit = 0; hit < 5; ++hit) {  // the first call only notices the new sample
        analyser.analyse(2000 + hit, reader);
        analyser.analyse(2000 + hit, reader);  // the scan offers a position again after a hit
    }
    EXPECT_TRUE(log.messages(LogLevel::Info, "nfd at ").empty()) << "a repeated position counted as a new signature";
    EXPECT_TRUE(clips.clipSizes.empty());
    EXPECT_FALSE(analyser.analyse(3000, reader));
    EXPECT_TRUE(log.has(LogLevel::Info, "nfd at 3000 samples 30"));
    ASSERT_EQ(clips.clipSizes, std::vector<size_t>{30});
    EXPECT_TRUE(log.has(LogLevel::Info, "nfd reset 0"));
    EXPECT_TRUE(state->m_samples.empty());
    EXPECT_EQ(info.gapStart() + info.audioEnd() + info.frameStart() + info.frameEnd(), 0u);

    // The next split again needs 30 new samples.
    for (int hit = 0; hit < 10; ++hit)
        analyser.analyse(4000 + hit, reader);
    EXPECT_EQ(log.messages(LogLevel::Info, "nfd at ").size(), 1u);
    for (size_t i = 0; i < 30; ++i)
        add(i);
    for (int hit = 0; hit < 6; ++hit)
        analyser.analyse(5000 + hit, reader);
    EXPECT_EQ(log.messages(LogLevel::Info, "nfd at ").size(), 2u);
    EXPECT_EQ(clips.clipSizes, (std::vector<size_t>{30, 30}));
}

TEST(MDATAnalyser, FindsTheFirstSignatureAtAnyPositionAndNoneCutOff) {
    RepairState state;
    ScanInfo info;
    MDATAnalyser analyser(&state, &info, nullptr);
    // Near misses all around: first letters, second letters and "stts".
    const std::string filler = "sttsfxmtcdst-ftyxmdaxstc";
    for (const char* type : {"ftyp", "mdat", "ctts", "stsc", "stco", "stsz"})
        for (int32_t at = 0; at < 40; ++at) {
            std::string bytes;
            while (bytes.size() < 64)
                bytes += filler;
            bytes.replace(size_t(at), 4, type);
            const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
            EXPECT_EQ(analyser.findCandidate(0, data, 64, 64), at) << type << " at " << at;
            // Not before the start of the range asked for, nor past its count.
            EXPECT_EQ(analyser.findCandidate(0, data, at, 64), at) << type << " at " << at;
            // A signature the available bytes cut off is not one.
            EXPECT_EQ(analyser.findCandidate(0, data, 64, at + 3), 64) << type << " at " << at;
        }
}
