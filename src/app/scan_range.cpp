#include "app/scan_range.h"

static int64_t percentOf(int64_t size, int32_t percent) {
    // Long double keeps the 64-bit product exact for any realistic file size.
    return static_cast<int64_t>(static_cast<double>(static_cast<long double>(size) * percent) / 100.0);
}

static int64_t clampTo(int64_t v, int64_t size) {
    if (v < 0)
        return 0;
    return v > size ? size : v;
}

ScanRange computeScanRange(int64_t fileSize, int32_t startPercent, int32_t stopPercent,
                           std::optional<int64_t> startOffset, std::optional<int64_t> stopOffset) {
    ScanRange r;
    r.start = startOffset ? *startOffset : percentOf(fileSize, startPercent);
    r.stop = stopOffset ? *stopOffset : percentOf(fileSize, stopPercent);
    r.start = clampTo(r.start, fileSize);
    r.stop = clampTo(r.stop, fileSize);
    return r;
}
