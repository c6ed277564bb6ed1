// The analyser base and the shared scan record.

#include "analysers/core/scan_info.h"
#include "analysers/core/stream_analyser.h"

#include "log/log_stream_sink.h"
#include "log/logger.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// The smallest possible analyser: fires on 'A' and moves the scan past it.
class LetterAnalyser : public StreamAnalyser {
public:
    using StreamAnalyser::StreamAnalyser;
    bool check(int64_t, const uint8_t* data, int32_t available) override { return available > 0 && *data == 'A'; }
    bool analyse(int64_t offset, ScanBuffer&) override {
        m_scanInfo->currentOffset = offset + 1;
        return true;
    }
    bool accepts() override { return true; }
    std::string name() const override { return "LetterAnalyser"; }
};

}  // namespace

TEST(ScanInfo, StartsUnlimitedAndResetsOnlyCounters) {
    Logger logger;
    std::ostringstream log;
    logger.setLevel(LogLevel::Debug);
    logger.addSink(new LogStreamSink(&log, false), LogLevel::Debug);

    ScanInfo info;
    EXPECT_EQ(info.stopOffset, -1);
    EXPECT_EQ(info.currentOffset, 0);
    EXPECT_EQ(info.gapStart() + info.audioEnd() + info.frameStart() + info.frameEnd(), 0u);
    EXPECT_FALSE(info.newClipDetection || info.sonyRsvMode || info.canonCrmMode || info.qtReconstruction);

    info.setGapStart(1);
    info.setAudioEnd(2);
    info.setFrameStart(3);
    info.setFrameEnd(4);
    info.currentOffset = 99;
    info.newClipDetection = true;
    info.resetCounters();
    EXPECT_EQ(info.gapStart() + info.audioEnd() + info.frameStart() + info.frameEnd(), 0u);
    EXPECT_EQ(info.currentOffset, 99);
    EXPECT_TRUE(info.newClipDetection);
    EXPECT_EQ(log.str(), "[DEBUG] ScanInfo::reset\n");
}

TEST(StreamAnalyser, BaseKeepsSharedPointersAndDefaultsDoNothing) {
    ScanInfo info;
    auto* state = reinterpret_cast<RepairState*>(&info);  // only stored, never used by the base
    LetterAnalyser a(state, &info);
    StreamAnalyser& base = a;
    EXPECT_EQ(base.repairState(), state);
    EXPECT_EQ(base.scanInfo(), &info);
    base.prepare();
    const uint8_t text[] = "xA";
    EXPECT_FALSE(base.check(0, text, 2));
    EXPECT_TRUE(base.check(1, text + 1, 1));
    EXPECT_FALSE(base.check(2, text + 2, 0));
    EXPECT_EQ(base.name(), "LetterAnalyser");
}
