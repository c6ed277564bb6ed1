// The shared scan record.

#include "analysers/core/scan_info.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

TEST(ScanInfo, StartsUnlimitedAndResetsOnlyCounters) {
    // A new clip restarts the boundary counters, not the scan position or the modes.
    testsupport::LogCapture log(LogLevel::Debug);
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
    EXPECT_EQ(log.text(), "[DEBUG] ScanInfo::reset\n");
}
