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
