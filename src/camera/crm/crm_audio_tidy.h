#pragma once
// The last touches to a CRM audio track before it is written: audio recorded
// ahead of the first video chunk goes, the track ends with the video, and a
// noisy tail left by the damage that ended the recording fades out.

#include "camera/crm/crm_box_reader.h"

#include <cstdint>
#include <vector>

namespace crm {

using ChunkBytes = std::vector<Bytes>;

// Drops chunks from the front while there are more than video chunks.
void dropPreRoll(ChunkBytes& chunks, uint64_t videoChunks, size_t track);

struct VideoTiming {
    uint64_t samples = 0;
    uint32_t sampleDelta = 1;
    uint32_t timescale = 0;
};

// Cuts the track to the video's duration, in whole frames.
void trimToVideo(ChunkBytes& chunks, uint32_t frameBytes, uint32_t audioTimescale, uint32_t audioDelta,
                 const VideoTiming& video, size_t track);

// Fades the last half second out when the track ends loud and noisy.
void fadeNoisyTail(ChunkBytes& chunks, uint32_t channels, size_t track);

}  // namespace crm
