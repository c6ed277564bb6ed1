#pragma once
// The byte range a scan covers, from the -start/-stop percentages or the
// absolute -startofs/-stopofs offsets.

#include <cstdint>
#include <optional>

struct ScanRange {
    int64_t start = 0;
    int64_t stop = 0;  // 0: no limit (scan to the end)
};

// Percentages are of fileSize (product in 64 bits, divided in double and
// truncated); given offsets replace them; both ends are clamped to
// [0, fileSize].
ScanRange computeScanRange(int64_t fileSize, int32_t startPercent, int32_t stopPercent,
                           std::optional<int64_t> startOffset, std::optional<int64_t> stopOffset);
