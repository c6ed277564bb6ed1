#pragma once
// What a video analyser learns of the reference's samples, in terms every
// length-prefixed codec shares: samples grouped by the type of their first
// slice, with the ranges they span, and byte strings that begin samples.

#include <algorithm>
#include <cstdint>
#include <vector>

// Reference samples whose first slice has one type.
struct SampleClass {
    uint8_t key = 0;  // type of the first slice
    uint32_t minSize = 0, maxSize = 0;
    uint32_t minFirstSlice = 0, maxFirstSlice = 0;
    uint32_t minUnits = 0, maxUnits = 0;
    uint32_t samples = 0;

    // Takes one more sample into the ranges.
    void add(uint32_t size, uint32_t firstSlice, uint32_t units) {
        if (samples == 0) {
            minSize = maxSize = size;
            minFirstSlice = maxFirstSlice = firstSlice;
            minUnits = maxUnits = units;
        } else {
            minSize = std::min(minSize, size);
            maxSize = std::max(maxSize, size);
            minFirstSlice = std::min(minFirstSlice, firstSlice);
            maxFirstSlice = std::max(maxFirstSlice, firstSlice);
            minUnits = std::min(minUnits, units);
            maxUnits = std::max(maxUnits, units);
        }
        ++samples;
    }
};

// A byte string that begins reference samples.
struct SampleAnchor {
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
};
