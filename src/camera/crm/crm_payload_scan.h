#pragma once
// Splits a CRM media payload into video chunks (runs of samples that follow
// one another without a gap) and the audio runs between them.

#include <cstdint>
#include <string>
#include <vector>

namespace crm {

// A stretch of payload: an audio run between video chunks, or one audio
// chunk of one track. Offsets are relative to the payload start.
struct AudioRun {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct CrmPayloadScan {
    std::vector<uint32_t> sampleSizes;        // length + 872 per sample, in file order
    std::vector<uint32_t> chunkSampleCounts;  // per video chunk
    std::vector<uint64_t> chunkOffsets;       // relative to the payload start
    std::vector<AudioRun> audioRuns;          // the gaps, in file order
};

// Throws "damaged open failed", "invalid Canon CRM video sample marker",
// "empty video chunk" or "no Canon CRM video samples found".
CrmPayloadScan scanCrmPayload(const std::string& fileName, uint64_t payloadStart);

}  // namespace crm
