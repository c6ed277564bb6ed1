#pragma once
// Turns sample tables collected from the input into found samples: the video
// track's frames with their composition offsets and each audio track's
// blocks, shifted by where the recording starts in the input.

#include <cstdint>

struct MovieFile;
struct RepairState;
class ScanBuffer;

// A sample smaller than this on average is no real media: hostile tables
// that describe more samples than the file could hold are cut off here, so
// the found list never needs more memory than the file has bytes.
constexpr uint64_t kMinMeanSampleBytes = 24;

// Logs the reconstruction and hands every sample that lies inside the input
// to the collection, in file order. `movie` may be null (nothing found);
// `fileStart` is the accepted ftyp offset or -1.
void reconstructFromTables(const MovieFile* movie, int64_t fileStart, RepairState& state, const ScanBuffer& input);
