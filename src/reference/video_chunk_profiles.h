#pragma once
// How many video samples the reference's recorder puts in one chunk, and
// how large such chunks are, learnt from the reference's chunk table. Every
// video analyser that searches the damaged input chunk by chunk fits its
// candidates to these profiles.

#include "scan/media_sample.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct MovieTrack;

// Reference video chunks that hold one number of samples.
struct ChunkProfile {
    uint32_t samples = 0;  // samples per chunk (the key)
    uint64_t minSize = 0, maxSize = 0;  // sum of the chunk's sample sizes
    uint32_t chunks = 0;
};

// Is the buffer (`size` bytes) exactly one sample of the codec?
using WholeSampleTest = std::function<bool(const uint8_t* data, int64_t size)>;

// Walks the video track's chunk table (at most 20,000 chunks) with the
// reference's collected video samples in decode order. A chunk counts only
// when every one of its samples is read whole from `fileName` and passes
// `wholeSample`; without a test the samples are not read and any of at
// least one byte will do. Logs at INFO "<logLabel> reference chunk
// profiles=" with the profiles in the order their sample counts first
// appear, and returns them ordered by samples per chunk, largest first.
// Empty when the reference file cannot be read.
std::vector<ChunkProfile> learnVideoChunkProfiles(const MovieTrack& track, const std::vector<MediaSample>& samples,
                                                  const std::string& fileName, const WholeSampleTest& wholeSample,
                                                  const std::string& logLabel);
