// The output writer against ffmpeg's judgement. (A movie assembled from an
// intact file's own samples is compared packet by packet through the binary:
// SimRoundTrip in the app tests.)

#include "output/output_writer.h"
#include "output/sample_collection.h"
#include "support/output_test_util.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace outtest;

namespace {

uint64_t videoBytes(const std::string& file) {
    MovieFile* movie = QTOpen(file, 0, true);
    uint64_t bytes = 0;
    if (movie && movie->m_videoTrack)
        for (uint32_t size : movie->m_videoTrack->m_sampleSizes)
            bytes += size;
    QTClose(movie);
    return bytes;
}

}  // namespace

TEST(OutputWriter, SavePortionStopsHalfway) {
    const std::string source = h264AacMp4();
    LogCapture log(LogLevel::Notice);
    const std::string out = testsupport::scratchDir("OutputWriterSave") + "/half.mp4";
    auto state = stateFromReference(source, out);
    importReferenceSamples(*state);
    state->m_savePortion = 50;
    const uint64_t total = state->m_totalVideoSize;
    uint32_t largest = 0;
    for (const MediaSample& s : state->m_samples)
        if (s.isVideo())
            largest = std::max<uint32_t>(largest, uint32_t(s.size));
    dumpSamples(*state);
    reset_clip(*state, false);
    EXPECT_TRUE(log.has(LogLevel::Notice, "save portion reached"));
    EXPECT_TRUE(log.has(LogLevel::Notice, "dumping total video size: " + std::to_string(total * 50 / 100)));
    const uint64_t written = videoBytes(out);
    EXPECT_GE(written, total / 2);
    EXPECT_LT(written, total / 2 + largest);
    // Fewer frames than the reference: its timing table does not apply.
    EXPECT_FALSE(log.contains("preserved reference video timing table"));
    EXPECT_FALSE(testsupport::framemd5(out).empty());
}

TEST(OutputWriter, RawVideoStreamIsAnnexBThatDecodes) {
    struct Case {
        std::string source;
        std::string demuxer;
        int firstNalType;  // the stream starts with this parameter set
    };
    for (const Case& c : {Case{h264AacMp4(), "h264", 7}, Case{hevcAacMp4(), "hevc", 32}}) {
        SCOPED_TRACE(c.source);
        LogCapture log(LogLevel::Notice);
        const std::string dir = testsupport::scratchDir("OutputWriterRaw");
        const std::string video = dir + "/video." + c.demuxer;
        // Raw streams only, no movie.
        auto state = stateFromReference(c.source, "");
        setOutputNames(*state, "", dir + "/audio.raw", video);
        reset_clip(*state, true);
        importReferenceSamples(*state);
        const uint64_t frames = state->videoSampleCount();
        const uint64_t audioBytes = state->m_totalAudioSize;
        dumpSamples(*state);
        state.reset();  // closes the raw streams

        const std::vector<uint8_t> raw = testsupport::readFile(video);
        ASSERT_GT(raw.size(), 5u);
        EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
        EXPECT_EQ(c.demuxer == "h264" ? raw[4] & 0x1F : (raw[4] >> 1) & 0x3F, c.firstNalType);
        const std::string input = " -f " + c.demuxer + " -i " + testsupport::quote(video);
        const auto decoded = testsupport::runCommand(
            "ffmpeg -nostdin -hide_banner -v error" + input + " -f framemd5 - 2>/dev/null | grep -vc '^#';" +
            " ffmpeg -nostdin -hide_banner -v error" + input + " -f null - 2>&1 | wc -c");
        std::istringstream in(decoded.output);
        uint64_t decodedFrames = 0, errorBytes = 1;
        in >> decodedFrames >> errorBytes;
        EXPECT_EQ(decodedFrames, frames);
        EXPECT_EQ(errorBytes, 0u) << "decoder complained";
        if (c.demuxer == "h264") {
            EXPECT_EQ(testsupport::readFile(dir + "/audio.raw").size(), audioBytes);
        }
    }
}

TEST(OutputWriter, UncompressedAudioWithoutReferenceTrackIsTimedPerSample) {
    LogCapture log(LogLevel::Warning);
    const std::string dir = testsupport::scratchDir("OutputWriterPcm");
    RepairState state;
    state.m_reference = ReferenceInfo::build(dir + "/missing.mov", false);
    state.m_audio->m_codec = "sowt";
    state.m_audio->m_sampleSize = 16;
    state.m_audio->m_channels = 2;
    state.m_audio->m_sampleRate = 48000;
    state.m_audio->m_audioTracks = 2;
    state.m_reference->layout().m_audioChunkSize = 400;
    setOutputNames(state, dir + "/pcm.mov", "", "");
    reset_clip(state, true);
    ensure_created(state);
    ASSERT_NE(state.m_outputMovie, nullptr);
    create_video_track(state);  // no video codec: no track
    create_audio_tracks(state);
    EXPECT_EQ(state.m_audioSampleDuration, 1u);
    EXPECT_EQ(state.m_audioFixedSampleSize, 4u);  // a sample frame
    ASSERT_EQ(state.m_outputMovie->m_audioTrackCount, 2);
    EXPECT_EQ(state.m_outputMovie->m_videoTrack, nullptr);

    // Three chunks' worth of interleaved audio for two tracks: one chunk
    // each, the third is dropped.
    std::vector<uint8_t> block(1200, 0x11);
    dump_audio_samples(state, block.data(), uint32_t(block.size()), 1000, -1);
    EXPECT_EQ(state.m_outputMovie->m_audioTracks[0]->m_sampleCount, 100u);
    EXPECT_EQ(state.m_outputMovie->m_audioTracks[1]->m_sampleCount, 100u);
    // A valid track index sends the whole block there.
    dump_audio_samples(state, block.data(), 400, 2000, 1);
    EXPECT_EQ(state.m_outputMovie->m_audioTracks[1]->m_sampleCount, 200u);
    reset_clip(state, false);
    EXPECT_EQ(testsupport::ffprobe(dir + "/pcm.mov", "-show_entries stream=codec_type -of csv=p=0"), "audio\naudio\n");
}
