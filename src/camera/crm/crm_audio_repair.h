#pragma once
// Reads the audio chunks the partition chose and repairs what damage does to
// 24-bit PCM: chunks that start a byte or two off, a noisy first chunk,
// steps where two chunks meet, and clicks that hit every track at once.

#include "camera/crm/crm_audio_partition.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace crm {

struct RepairedAudio {
    // Per audio track, its chunks' bytes; chunk k is entry k of the track's
    // chunk list.
    std::vector<std::vector<Bytes>> tracks;
    std::array<uint64_t, 3> shifts{};  // chunks read at byte shift 0, 1 and 2
    uint64_t commonClicks = 0;
};

// `channels` gives each track's values per frame. Throws "damaged open
// failed for audio repair" or "read failed".
RepairedAudio repairCrmAudio(const std::string& damagedFile, uint64_t payloadStart, uint64_t payloadLength,
                             const TrackChunks& chunks, const std::vector<uint32_t>& channels);

// The byte shift (0 to 2) at which `n` bytes look most like 24-bit samples.
int chooseByteShift(const uint8_t* data, size_t n);
// Zeroes a first chunk that is loud noise (what damage in front of a
// recording leaves); true when it did.
bool muteNoisyFirstChunk(Bytes& chunk, uint32_t channels);
// Replaces the frames around the meeting point of two chunks by a straight
// line when the signal steps there; true when it did.
bool smoothSplice(Bytes& previous, Bytes& next, uint32_t channels);
// Removes one-frame spikes that appear in every track at the same instant;
// returns how many.
uint64_t removeCommonClicks(std::vector<std::vector<Bytes>>& tracks, const std::vector<uint32_t>& channels);

}  // namespace crm
