#include "app/entropy_map.h"

#include "scan/scan_buffer.h"
#include "log/logger.h"
#include "platform/calendar_time.h"

#include <algorithm>
#include <climits>
#include <iomanip>

void runEntropyMap(const std::string& inputFileName, int32_t blockKiB, const ProgressCallback& progress) {
    if (blockKiB <= 0)
        return;
    ScanBuffer buffer;
    if (!buffer.open(inputFileName))
        return;
    const int64_t size = buffer.fileSize();
    // Blocks larger than 2 GiB cannot be read in one go; the map does not need them.
    const int64_t block = std::min<int64_t>(int64_t(blockKiB) * 1024, INT32_MAX);
    std::time_t t0 = platform::calendarTime();
    for (int64_t offset = 0;; offset += block) {
        const float e = buffer.entropy(offset, static_cast<int32_t>(block));
        if (buffer.lastReadCount() <= 0)
            break;
        const double percent = size > 0 ? double(offset) / double(size) * 100.0 : 100.0;
        if (logEnabled(LogLevel::Notice)) {
            FLOG(LogLevel::Notice) << "entropy " << std::setw(10) << offset / 1024 << " - " << std::setw(10)
                                   << (offset + block) / 1024 << " -- " << std::setw(8) << e;
            const std::time_t now = platform::calendarTime();
            if (platform::secondsBetween(now, t0) >= 1.0) {
                logProgress(offset, percent);
                t0 = now;
            }
        }
        if (progress && progress(percent)) {
            FLOG(LogLevel::Notice) << "stopped: user cancel request";
            break;
        }
    }
}
