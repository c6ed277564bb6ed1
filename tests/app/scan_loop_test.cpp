#include "app/scan_loop.h"
#include "app/scan_range.h"

#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "analysers/core/stream_analyser.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Byte at offset o of the test input.
uint8_t patternAt(int64_t o) { return static_cast<uint8_t>((o * 7 + (o >> 13)) % 251); }

std::string makeInput(const std::string& test, int64_t size) {
    std::vector<uint8_t> data(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        data[size_t(i)] = patternAt(i);
    return testsupport::writeScratch(test, "input.bin", data);
}

// Records every position it is offered and checks that the bytes it is shown
// are the file's bytes at that position.
class ProbeAnalyser : public StreamAnalyser {
public:
    ProbeAnalyser(ScanInfo* info, int64_t size) : StreamAnalyser(nullptr, info), seen(size_t(size), 0) {}
    bool check(int64_t offset, const uint8_t* data, int32_t available) override {
        if (offset >= 0 && offset < int64_t(seen.size()) && seen[size_t(offset)] < 255)
            ++seen[size_t(offset)];
        if (available < 1 || data[0] != patternAt(offset) || data[available - 1] != patternAt(offset + available - 1))
            ++wrongBytes;
        // A structure that starts just before a window's end is judged with
        // the overlap in sight, or it is never seen whole.
        if (available < std::min<int64_t>(kWindowOverlap, int64_t(seen.size()) - offset))
            ++shortSight;
        maxOffset = std::max(maxOffset, offset);
        return fireAt >= 0 && offset == fireAt;
    }
    bool analyse(int64_t offset, ScanBuffer& buffer) override {
        ++analyses;
        // Read far away, as real analysers do, so the window is refilled.
        buffer.get(buffer.fileSize() / 2 + 12345, 100);
        if (moveTo >= 0)
            m_scanInfo->currentOffset = moveTo;
        else
            m_scanInfo->currentOffset = offset + 1000;
        fireAt = -1;
        return consume;
    }
    void prepare() override { ++prepared; }
    void finish(ScanBuffer&) override { ++finished; }
    bool accepts() override { return true; }
    std::string name() const override { return "ProbeAnalyser"; }

    std::vector<uint8_t> seen;
    int64_t wrongBytes = 0;
    int64_t shortSight = 0;
    int64_t maxOffset = -1;
    int64_t fireAt = -1;
    int64_t moveTo = -1;
    bool consume = true;
    int analyses = 0, prepared = 0, finished = 0;
};

// Runs one probe over a fresh input of `size` bytes, from start% to stop%
// (a stop of 0% means no limit), after `setup` has armed the probe.
struct ProbeRun {
    ProbeRun(const std::string& test, int64_t size, int32_t startPercent, int32_t stopPercent,
             const std::function<void(ProbeAnalyser&)>& setup = nullptr)
        : probe(&info, size) {
        EXPECT_TRUE(buffer.open(makeInput(test, size)));
        if (setup)
            setup(probe);
        const ScanRange range = computeScanRange(size, startPercent, stopPercent, std::nullopt, std::nullopt);
        info.currentOffset = range.start;
        info.stopOffset = range.stop;
        runScanLoop(buffer, info, {&probe}, nullptr);
    }
    ScanBuffer buffer;
    ScanInfo info;
    ProbeAnalyser probe;
};

}  // namespace

TEST(ScanLoop, EveryPositionOnceAcrossOverlappingWindows) {
    const int64_t size = 20 * 1000 * 1000;  // several 8 MiB windows
    ProbeRun run("ScanLoopEvery", size, 0, 0);
    EXPECT_EQ(run.probe.wrongBytes, 0);
    EXPECT_EQ(run.probe.shortSight, 0);
    EXPECT_EQ(run.probe.prepared, 1);
    EXPECT_EQ(run.probe.finished, 1);
    int64_t twice = 0, never = 0;
    for (int64_t i = 0; i < size; ++i) {
        twice += run.probe.seen[size_t(i)] > 1;
        never += run.probe.seen[size_t(i)] == 0;
    }
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(never, 0);
}

TEST(ScanLoop, EveryByteUpToTheEndIsOffered) {
    // A still scene's picture of a dozen bytes may end the input.
    for (int64_t size : {1, 12, 32, 33}) {
        ProbeRun run("ScanLoopTail" + std::to_string(size), size, 0, 0);
        EXPECT_EQ(run.probe.maxOffset, size - 1);
        EXPECT_EQ(run.info.currentOffset, size);
    }
}

TEST(ScanLoop, StopOffsetEndsTheScanAfterProbingUpToIt) {
    testsupport::LogCapture log(LogLevel::Debug);
    ProbeRun run("ScanLoopStop", 1000000, 0, 50);
    EXPECT_EQ(run.probe.maxOffset, 500000);
    EXPECT_NE(log.text().find("[NOTICE] stopped: maxofs reached\n"), std::string::npos);
}

TEST(ScanLoop, ConsumingAnalyserRestartsAtItsOffsetWithFreshWindowData) {
    ProbeRun run("ScanLoopConsume", 12 * 1000 * 1000, 0, 0, [](ProbeAnalyser& p) { p.fireAt = 4000; });
    EXPECT_EQ(run.probe.analyses, 1);
    EXPECT_EQ(run.probe.wrongBytes, 0);
    // The 999 positions the analyser consumed are skipped.
    EXPECT_EQ(run.probe.seen[4500], 0);
    EXPECT_EQ(run.probe.seen[5000], 1);
}

TEST(ScanLoop, NonConsumingAnalyserThatRefillsTheWindowDoesNotCorruptLaterChecks) {
    ProbeRun run("ScanLoopRefill", 12 * 1000 * 1000, 0, 0, [](ProbeAnalyser& p) {
        p.fireAt = 100;
        p.consume = false;
        p.moveTo = 8000000;
    });
    EXPECT_EQ(run.probe.analyses, 1);
    EXPECT_EQ(run.probe.wrongBytes, 0);
}

TEST(ScanLoop, BackwardMoveDoesNotHang) {
    const int64_t size = 300000;
    ProbeRun run("ScanLoopBackward", size, 0, 0, [](ProbeAnalyser& p) {
        p.fireAt = 2000;
        p.moveTo = 0;  // a buggy analyser rewinding to the start
    });
    EXPECT_EQ(run.probe.finished, 1);
    EXPECT_EQ(run.probe.maxOffset, size - 1);
}

TEST(ScanLoop, CancelStopsTheScan) {
    testsupport::LogCapture log(LogLevel::Debug);
    ScanInfo info;
    info.stopOffset = 0;
    ScanBuffer buffer;
    const int64_t size = 100000;
    ASSERT_TRUE(buffer.open(makeInput("ScanLoopCancel", size)));
    // A slow analyser makes the one-second progress step come round.
    struct Slow : ProbeAnalyser {
        using ProbeAnalyser::ProbeAnalyser;
        bool analyse(int64_t o, ScanBuffer& b) override {
            ::sleep(1);
            ::usleep(100000);
            return ProbeAnalyser::analyse(o, b);
        }
    } slow(&info, size);
    slow.fireAt = 10;
    slow.consume = true;
    runScanLoop(buffer, info, {&slow}, [](double) { return true; });
    EXPECT_NE(log.text().find("stopped: user cancel request"), std::string::npos);
    EXPECT_NE(log.text().find("progress ofs="), std::string::npos);
    EXPECT_EQ(slow.finished, 1);
}

TEST(ScanRange, PercentagesOffsetsAndClamping) {
    auto r = computeScanRange(1000000, 0, 100, std::nullopt, std::nullopt);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.stop, 1000000);
    r = computeScanRange(1000, 10, 50, std::nullopt, std::nullopt);
    EXPECT_EQ(r.start, 100);
    EXPECT_EQ(r.stop, 500);
    r = computeScanRange(999, 33, 200, std::nullopt, std::nullopt);
    EXPECT_EQ(r.start, 329);  // truncated
    EXPECT_EQ(r.stop, 999);   // clamped to the size
    r = computeScanRange(1000, 10, 50, int64_t(-5), int64_t(5000));
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.stop, 1000);
    r = computeScanRange(int64_t(1) << 40, 50, 0, std::nullopt, std::nullopt);
    EXPECT_EQ(r.start, int64_t(1) << 39);
    EXPECT_EQ(r.stop, 0);  // 0 = no limit
}
