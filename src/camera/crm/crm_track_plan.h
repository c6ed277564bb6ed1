#pragma once
// One track of the rebuilt CRM movie: which reference track it copies its
// description and timing from, and its new sample tables.

#include "camera/crm/crm_reference.h"

#include <cstdint>
#include <vector>

namespace crm {

struct CrmTrackPlan {
    const CrmRefTrack* reference = nullptr;
    // Samples of varying size, or (audio) `uniformCount` samples of
    // `uniformSize` bytes: a PCM track has a sample per frame, too many to
    // list one by one.
    std::vector<uint32_t> sampleSizes;
    uint32_t uniformSize = 0;
    uint64_t uniformCount = 0;
    std::vector<uint32_t> samplesPerChunk;
    std::vector<uint64_t> chunkOffsets;  // from the first byte of the output's media data
    Bytes appended;                      // sample bytes written behind the copied payload

    uint64_t sampleCount() const { return uniformSize ? uniformCount : sampleSizes.size(); }
    // Appends a chunk of `count` samples of `size` bytes each.
    void addUniformChunk(uint64_t offset, uint32_t count, uint32_t size) {
        chunkOffsets.push_back(offset);
        samplesPerChunk.push_back(count);
        uniformSize = size;
        uniformCount += count;
    }
};

}  // namespace crm
