#pragma once
// A run of video samples found in the damaged input that forms one chunk of
// the reference's kind: where it starts and where each sample lies in it.

#include <cstdint>
#include <vector>

struct ChunkCandidate {
    int64_t offset = 0;  // file offset of the first sample
    int64_t size = 0;    // from the chunk offset to the end of the last sample
    struct Sample {
        int64_t start = 0;  // relative to the chunk offset
        int32_t size = 0;
        int32_t ppsId = -1;  // parameter set the first slice names, -1 when unreadable or none
    };
    std::vector<Sample> samples;
};
