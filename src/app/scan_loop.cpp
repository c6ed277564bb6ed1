#include "app/scan_loop.h"

#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "analysers/core/stream_analyser.h"
#include "log/logger.h"
#include "platform/calendar_time.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <vector>

void logProgress(int64_t offset, double percent) {
    FLOG(LogLevel::Notice) << "progress ofs=" << std::setw(12) << offset << " - " << percent << "%";
}

namespace {

constexpr std::chrono::milliseconds kProgressInterval{250};

bool pastStop(int64_t stop, int64_t offset) { return stop != 0 && stop < offset; }

// An analyser's last candidate search, in file offsets: no candidate in
// [from, at), and `at` is its candidate or where the search stopped. It was
// made over the window that began at windowOffset with windowLength bytes:
// in that same window every position sees the same bytes and the same
// number of bytes behind it, so the answer holds for a walk that starts
// again inside [from, at] until the analyser's own analyse() runs. An
// analyser that takes a frame restarts the walk just behind it, and the
// others need not search the rest of the window again each time.
struct CandidateSearch {
    int64_t from = -1;
    int64_t at = -1;
    int64_t windowOffset = -1;
    int32_t windowLength = -1;
};

}  // namespace

void runScanLoop(ScanBuffer& buffer, ScanInfo& info, const std::vector<StreamAnalyser*>& active,
                 const ProgressCallback& progress, const std::function<void()>& afterWindow) {
    for (StreamAnalyser* a : active)
        a->prepare();
    std::time_t t0 = platform::calendarTime();
    auto lastTick = std::chrono::steady_clock::now();
    const int64_t fileSize = buffer.fileSize();
    int64_t previousWindow = -1;
    std::vector<int32_t> nextCandidate;
    std::vector<CandidateSearch> searches(active.size());

    for (;;) {
        int64_t cur = info.currentOffset;
        const int64_t stop = info.stopOffset;
        // An analyser that moved the scan backwards (or not at all) would make
        // the walk repeat itself forever; a window always starts further on.
        if (cur <= previousWindow) {
            FLOG(LogLevel::Debug) << "scan offset " << cur << " did not advance past " << previousWindow;
            cur = previousWindow + 1;
            info.currentOffset = cur;
        }
        if (pastStop(stop, cur)) {
            FLOG(LogLevel::Notice) << "stopped: maxofs reached (" << stop << ")";
            break;
        }
        const uint8_t* data = buffer.get(cur, kWindowMinimum);
        const int32_t avail = buffer.available();
        // The last few bytes are probed too: a still scene codes a whole
        // picture in a dozen bytes, and the recording may end behind one.
        if (avail <= 0) {
            info.currentOffset = cur;
            break;
        }
        previousWindow = cur;
        const int32_t limit = avail - kWindowOverlap > kWindowTail ? avail - kWindowOverlap : avail;
        info.currentOffset = cur + limit;

        // Positions up to here may be probed; beyond the stop offset nothing is.
        int32_t probeEnd = limit;
        if (stop != 0 && stop - cur + 1 < probeEnd)
            probeEnd = static_cast<int32_t>(std::max<int64_t>(stop - cur + 1, 0));

        // Each analyser's next candidate position in this window. check()
        // depends only on the analyser's own state, so a candidate stays valid
        // until that analyser's analyse() runs; only then is it looked up again.
        std::vector<int32_t>& next = nextCandidate;
        next.assign(active.size(), -1);
        for (size_t j = 0; j < active.size(); ++j) {
            const CandidateSearch& s = searches[j];
            if (s.windowOffset == buffer.windowOffset() && s.windowLength == buffer.windowLength() && s.from <= cur &&
                cur <= s.at && s.at <= cur + probeEnd)
                next[j] = int32_t(s.at - cur);
        }
        bool windowDone = false;
        int32_t i = 0;
        while (i < probeEnd && !windowDone) {
            int32_t fire = probeEnd;
            for (size_t j = 0; j < active.size(); ++j) {
                if (next[j] < i) {
                    next[j] = i + active[j]->findCandidate(cur + i, data + i, probeEnd - i, avail - i);
                    searches[j] = {cur + i, cur + next[j], buffer.windowOffset(), buffer.windowLength()};
                }
                fire = std::min(fire, next[j]);
            }
            if (fire >= probeEnd)
                break;
            i = fire;
            // Offer the previous position again as well as this one.
            for (int32_t k = std::max(i - 1, 0); k <= i && !windowDone; ++k) {
                for (size_t j = 0; j < active.size(); ++j) {
                    StreamAnalyser* a = active[j];
                    if (!a->check(cur + k, data + k, avail - k))
                        continue;
                    next[j] = -1;
                    searches[j] = CandidateSearch();
                    const bool consumed = a->analyse(cur + k, buffer);
                    // analyse may have refilled the window: the pointer into it
                    // must be taken again before the next check.
                    data = buffer.get(cur, avail);
                    if (consumed) {
                        if (info.currentOffset <= cur + k)
                            info.currentOffset = cur + k + 1;
                        windowDone = true;
                        break;
                    }
                }
            }
            ++i;
        }
        if (!windowDone && probeEnd < limit)
            FLOG(LogLevel::Notice) << "stopped: maxofs reached";
        if (afterWindow)
            afterWindow();

        // The log gets one progress line a second; the caller hears more
        // often, so that a live display on a terminal moves smoothly.
        const auto tick = std::chrono::steady_clock::now();
        if (tick - lastTick >= kProgressInterval) {
            lastTick = tick;
            const double percent = fileSize > 0 ? double(info.currentOffset) / double(fileSize) * 100.0 : 100.0;
            const std::time_t now = platform::calendarTime();
            if (platform::secondsBetween(now, t0) >= 1.0) {
                logProgress(info.currentOffset, percent);
                t0 = now;
            }
            if (Logger* logger = Logger::instance())
                logger->flush();
            if (progress && progress(percent)) {
                FLOG(LogLevel::Notice) << "stopped: user cancel request";
                break;
            }
        }
    }
    for (StreamAnalyser* a : active)
        a->finish(buffer);
    // What the scan logged is out before the output is written.
    if (Logger* logger = Logger::instance())
        logger->flush();
}
