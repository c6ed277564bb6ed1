#pragma once
// Divides the audio runs found between CRM video chunks into one chunk per
// audio track, as the reference recorded them: from the end of each run, or
// where the reference put its audio behind the matching video chunk.

#include "camera/crm/crm_payload_scan.h"
#include "camera/crm/crm_reference.h"

#include <cstdint>
#include <vector>

namespace crm {

// Per audio track (the reference's sound tracks in order), its chunks in
// payload order.
using TrackChunks = std::vector<std::vector<AudioRun>>;

// Bytes of the reference track's chunk `index` (the last chunk's size past
// the end of its table; 0 without a table).
uint64_t referenceChunkBytes(const CrmRefTrack& track, uint64_t index);

// Every run that can hold one chunk of each track gives one, taken from the
// run's end.
TrackChunks partitionRunsFromTail(const CrmReference& ref, const std::vector<AudioRun>& runs);

// Leading damage leaves chunks shorter than the camera writes: drops the
// chunks before the first one whose sample count matches the reference's
// first chunk. Throws when that leaves nothing.
void dropLeadingPartialChunks(const CrmReference& ref, std::vector<uint32_t>& sampleSizes,
                              std::vector<uint32_t>& chunkSampleCounts, std::vector<uint64_t>& chunkOffsets);

// The gaps around the given chunks in a payload of `payloadLength` bytes.
std::vector<AudioRun> runsAroundChunks(const std::vector<uint32_t>& sampleSizes,
                                       const std::vector<uint32_t>& chunkSampleCounts,
                                       const std::vector<uint64_t>& chunkOffsets, uint64_t payloadLength);

// Matches the runs, from the last one back, with the reference's chunks
// (aligned by the video chunk sizes) and places each track's chunk where the
// reference has it relative to the end of the video chunk before it.
TrackChunks partitionRunsWithDonorLayout(const CrmReference& ref, const std::vector<AudioRun>& runs,
                                         const std::vector<uint32_t>& sampleSizes,
                                         const std::vector<uint32_t>& chunkSampleCounts);

}  // namespace crm
