#pragma once
// Reading the reference's own samples back from its file, for the analysers
// that learn from their bytes what a sample of the recorder looks like.

#include "scan/media_sample.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The reference is read through one window of this size; a sample larger
// than the window cannot be read whole and is not learnt from.
constexpr uint64_t kReferenceReadWindow = 8 * 1024 * 1024;

// Calls `visit` with the bytes of each of the first `limit` samples whose
// size lies in [minSize, maxSize] and that can be read whole from
// `fileName`, in list order. False, with no call, when the file cannot be
// opened.
bool visitReferenceSamples(const std::string& fileName, const std::vector<MediaSample>& samples, size_t limit,
                           int64_t minSize, int64_t maxSize,
                           const std::function<void(const uint8_t* data, int64_t size)>& visit);

// Calls `visit` with the first byte of each sample visitReferenceSamples
// would visit whole (every size from 1 byte up), reading only a few KiB at
// each: a long reference, as -sim uses the input itself, is not read through.
bool visitReferenceFirstBytes(const std::string& fileName, const std::vector<MediaSample>& samples,
                              const std::function<void(uint8_t first)>& visit);
