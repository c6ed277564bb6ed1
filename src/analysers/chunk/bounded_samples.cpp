#include "analysers/chunk/bounded_samples.h"

namespace {

int64_t leadingSamples(const SampleCodec& codec, const uint8_t* data, int64_t n, size_t maxSamples,
                       std::vector<int32_t>& sizes) {
    sizes.clear();
    int64_t pos = 0;
    while (pos < n && sizes.size() < maxSamples) {
        const int64_t size = codec.measureBoundedSample(data + pos, n - pos);
        if (size <= 0 || size > n - pos)
            break;
        sizes.push_back(int32_t(size));
        pos += size;
    }
    return pos;
}

}  // namespace

int64_t leadingBoundedSamples(const SampleCodec& codec, const uint8_t* data, int64_t n, size_t maxSamples) {
    std::vector<int32_t> sizes;
    return leadingSamples(codec, data, n, maxSamples, sizes);
}

bool tileBoundedSamples(const SampleCodec& codec, const uint8_t* data, int64_t n, size_t maxSamples,
                        std::vector<int32_t>& sizes) {
    if (leadingSamples(codec, data, n, maxSamples, sizes) != n)
        sizes.clear();
    return !sizes.empty();
}
