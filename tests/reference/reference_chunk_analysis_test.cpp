#include "qt/movie_file.h"
#include "reference/hex_text.h"
#include "reference/reference_chunk_analysis.h"
#include "reference/reference_info.h"
#include "support/log_capture.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using testsupport::LogCapture;

namespace {

// The layout numbers as the runs of ffprobe's packets in file order show them.
struct Expected {
    uint32_t videoPerChunk = 0, videoGap = 0, sizeMax = 0, sizeMin = 0;
    int64_t lastAudioStart = -1, lastAudioBytes = 0;
};

Expected expectFromPackets(const std::string& file, int videoStream) {
    const auto packets = testmedia::probePackets(file);
    const auto runs = testmedia::fileOrderRuns(packets);
    Expected e;
    bool first = true;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].stream == videoStream && first) {
            first = false;
            e.videoPerChunk = uint32_t(runs[i].packets);
            if (i + 1 < runs.size())
                e.videoGap = uint32_t(runs[i + 1].start - (runs[i].start + runs[i].bytes));
        }
        if (runs[i].stream != videoStream) {
            e.lastAudioStart = runs[i].start;
            e.lastAudioBytes = runs[i].bytes;
        }
    }
    for (const auto& p : packets)
        if (p.stream == videoStream) {
            e.sizeMax = std::max(e.sizeMax, uint32_t(p.size));
            e.sizeMin = e.sizeMin ? std::min(e.sizeMin, uint32_t(p.size)) : uint32_t(p.size);
        }
    return e;
}

uint8_t byteAt(const std::string& file, int64_t offset) {
    const auto data = testsupport::readFile(file);
    return offset >= 0 && size_t(offset) < data.size() ? data[size_t(offset)] : 0;
}

std::unique_ptr<ReferenceInfo> analysed(const std::string& file) {
    auto info = ReferenceInfo::build(file, false);
    EXPECT_TRUE(info->isOpen());
    info->analyseChunks();
    return info;
}

// "alltrksz" of every CHUNK line, with the handler type it names.
std::vector<std::pair<std::string, uint64_t>> cycleTotals(const LogCapture& log) {
    static const std::regex line(
        "CHUNK  start= *[0-9]{1,10}  stop= *[0-9]+  scnt= *[0-9]+  ssz= *[0-9]+  avail= *[0-9]+  stopgap= *-?[0-9]+  "
        "alltrksz= *([0-9]+)  track=[0-9]+ \\((....)\\)  [0-9A-F,]* - [0-9A-F,]*");
    std::vector<std::pair<std::string, uint64_t>> out;
    for (const std::string& m : log.messages(LogLevel::Info, "CHUNK")) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(m, match, line)) << m;
        if (match.size() == 3)
            out.emplace_back(match[2].str(), std::stoull(match[1].str()));
    }
    return out;
}

}  // namespace

// V A V A ...: each audio chunk closes a cycle; the numbers come from the
// first chunks, the cycle size from the largest audio chunk.
TEST(ReferenceChunkAnalysis, VideoAndPcmInterleave) {
    const std::string file = testmedia::h264PcmMov();
    LogCapture log(LogLevel::Info);
    auto info = analysed(file);
    const Expected e = expectFromPackets(file, 0);
    const ReferenceChunkLayout& l = info->layout();
    EXPECT_EQ(l.m_videoSamplesPerChunk, e.videoPerChunk);
    EXPECT_EQ(l.m_videoSamplesPerChunk, 12u);  // 0.5 s at 25 fps
    EXPECT_EQ(l.m_videoChunksStopGap, e.videoGap);
    EXPECT_EQ(l.m_videoSampleSizeMax, e.sizeMax);
    EXPECT_EQ(l.m_videoSampleSizeMin, e.sizeMin);
    // Fixed-size PCM: samples are 4-byte stereo frames.
    EXPECT_EQ(l.m_audioSamplesPerChunk, uint32_t(e.lastAudioBytes / 4));
    EXPECT_EQ(l.m_audioChunkSize, uint32_t(e.lastAudioBytes));
    EXPECT_EQ(l.m_audioChunksStopGap, 0u);
    uint64_t largest = 0;
    for (const testmedia::Run& r : testmedia::fileOrderRuns(testmedia::probePackets(file)))
        if (r.stream == 1)
            largest = std::max<uint64_t>(largest, uint64_t(r.bytes));
    EXPECT_EQ(l.m_audioChunksSizeAll, largest);
    EXPECT_EQ(info->audio().m_audioDataStart, byteAt(file, e.lastAudioStart));

    EXPECT_TRUE(log.has(LogLevel::Info, "trkcount=2"));
    const auto totals = cycleTotals(log);
    ASSERT_FALSE(totals.empty());
    for (size_t i = 0; i < totals.size(); ++i) {
        if (totals[i].first == "soun") {
            EXPECT_GT(totals[i].second, 0u) << i;
        } else if (i + 1 < totals.size()) {
            EXPECT_EQ(totals[i].second, 0u) << i;  // video opens the cycle
        }
    }
}

// V A1 A2 V A1 A2 ...: the audio bytes of one cycle are the sum of one chunk
// of each audio track.
TEST(ReferenceChunkAnalysis, TwoAudioTracksSumPerCycle) {
    const std::string file = testmedia::h264TwoPcmMov();
    LogCapture log(LogLevel::Info);
    auto info = analysed(file);
    EXPECT_EQ(info->audio().m_audioTracks, 2u);
    std::vector<int64_t> audio;
    for (const testmedia::Run& r : testmedia::fileOrderRuns(testmedia::probePackets(file)))
        if (r.stream != 0)
            audio.push_back(r.bytes);
    ASSERT_GE(audio.size(), 4u);
    int64_t largest = 0;
    for (size_t i = 0; i + 1 < audio.size(); i += 2)
        largest = std::max(largest, audio[i] + audio[i + 1]);
    EXPECT_EQ(info->layout().m_audioChunksSizeAll, uint64_t(largest));
    EXPECT_EQ(info->layout().m_audioChunkSize, uint64_t(audio.back()));
    // A cycle ends on its second audio chunk, not on the first.
    const auto totals = cycleTotals(log);
    ASSERT_GE(totals.size(), 6u);
    EXPECT_EQ(totals[0].second, 0u);
    EXPECT_EQ(totals[1].second, 0u);
    EXPECT_GT(totals[2].second, 0u);
}

TEST(ReferenceChunkAnalysis, AacInMp4AndFingerprint) {
    const std::string file = testmedia::h264AacMp4();
    LogCapture log(LogLevel::Notice);
    auto info = analysed(file);
    const Expected e = expectFromPackets(file, 0);
    EXPECT_EQ(info->layout().m_videoSamplesPerChunk, e.videoPerChunk);
    EXPECT_EQ(info->layout().m_videoSampleSizeMax, e.sizeMax);
    EXPECT_EQ(info->layout().m_videoSampleSizeMin, e.sizeMin);
    // An AAC chunk starts with a raw data block, never with an ADTS header.
    EXPECT_EQ(info->audio().m_audioDataStart, byteAt(file, e.lastAudioStart));
    EXPECT_TRUE(log.messages(LogLevel::Info).empty());  // chunk lines only at INFO

    const std::string& f = info->layout().m_fingerprint;
    EXPECT_EQ(f.rfind("v=1&vcls=avc1&vcod=avc1&acod=mp4a&vdim=320,240&esd=&avcc=01,", 0), 0u) << f;
    EXPECT_EQ(f.substr(f.size() - 6), "&hvcc=");  // no hvcC
    // avcC as its atom payload: version 1, profile (High = 0x64),
    // compatibility, then the level ffprobe reads from the SPS.
    const auto video = testmedia::probeStreams(file).at(0);
    ASSERT_EQ(video.at("profile"), "High");
    const uint8_t levelByte = uint8_t(std::stoi(video.at("level")));
    const std::string avcc = f.substr(f.find("&avcc=") + 6, 12);
    EXPECT_EQ(avcc.substr(0, 6), "01,64,");
    EXPECT_EQ(avcc.substr(9, 2), hexText(&levelByte, 1));
}

TEST(ReferenceChunkAnalysis, UnreadableFileLeavesZeros) {
    const std::string file =
        testsupport::writeScratch("reference_gone", "gone.mov", testsupport::readFile(testmedia::h264OnlyMov()));
    auto info = ReferenceInfo::build(file, false);
    ASSERT_TRUE(info->isOpen());
    std::remove(file.c_str());
    LogCapture log(LogLevel::Info);
    info->analyseChunks();
    EXPECT_TRUE(log.has(LogLevel::Error, "error opening reffile"));
    EXPECT_EQ(info->layout().m_videoSamplesPerChunk, 0u);
    EXPECT_EQ(info->layout().m_audioChunksSizeAll, 0u);
    EXPECT_EQ(info->layout().m_fingerprint, "");
}
