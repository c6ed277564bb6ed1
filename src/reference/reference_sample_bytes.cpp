#include "reference/reference_sample_bytes.h"

#include "scan/scan_buffer.h"

#include <algorithm>

bool visitReferenceSamples(const std::string& fileName, const std::vector<MediaSample>& samples, size_t limit,
                           int64_t minSize, int64_t maxSize,
                           const std::function<void(const uint8_t* data, int64_t size)>& visit) {
    ScanBuffer file;
    if (!file.open(fileName, kReferenceReadWindow))
        return false;
    const size_t count = std::min(samples.size(), limit);
    for (size_t i = 0; i < count; ++i) {
        const int64_t size = samples[i].size;
        if (size < minSize || size > maxSize)
            continue;
        const uint8_t* data = file.get(samples[i].offset, int32_t(size));
        if (!data || file.available() < size)
            continue;
        visit(data, size);
    }
    return true;
}

bool visitReferenceFirstBytes(const std::string& fileName, const std::vector<MediaSample>& samples,
                              const std::function<void(uint8_t first)>& visit) {
    // A sound chunk's frames share one such window.
    constexpr uint64_t kFirstByteWindow = 16 * 1024;
    ScanBuffer file;
    if (!file.open(fileName, kFirstByteWindow))
        return false;
    for (const MediaSample& s : samples) {
        // Only what a whole-sample read would take: in the file, within the window size.
        if (s.size < 1 || uint64_t(s.size) > kReferenceReadWindow || s.offset < 0 ||
            s.offset > file.fileSize() - s.size)
            continue;
        const uint8_t* data = file.get(s.offset, 1);
        if (data && file.available() >= 1)
            visit(data[0]);
    }
    return true;
}
