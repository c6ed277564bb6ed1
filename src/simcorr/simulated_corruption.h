#pragma once
// Deterministic simulated damage of the input's media payload (-simcorr).
// The file itself is never written: every read of the input passes its bytes
// through apply(), which overwrites the ones inside the damaged blocks. The
// state is process-wide because every reader of the input must see the same
// damage, whichever ScanBuffer it goes through.

#include "simcorr/corruption_block.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simcorr {

// SplitMix64 increment; block parameters and damaged bytes are mix() of
// multiples of it, so nothing depends on the order in which they are asked for.
constexpr uint64_t G = 0x9E3779B97F4A7C15ULL;

// Lowest and highest damage level; -corrlvl is clamped into this range.
constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 10;

// The SplitMix64 finaliser (64-bit wrapping arithmetic).
constexpr uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Payload [start, end) of an mdat atom, as file offsets.
struct MdatRange {
    uint64_t start = 0;
    uint64_t end = 0;
};

struct CorruptionState {
    bool active = false;
    std::string fileName;                // compared byte for byte with the reader's name
    uint64_t seed = 0;
    std::vector<CorruptionBlock> blocks;  // sorted by offset
};

const CorruptionState& state();

// Back to inactive with no blocks; done at the start of every run.
void reset();

// Plans the damaged blocks inside the first top-level mdat payload of the
// named file. Logs the reason and leaves the state reset when the file has
// no (or an empty) mdat; the run must then stop.
bool setup(const std::string& inputFileName, uint64_t seed, int level);

// Overwrites the damaged bytes among `count` bytes just read from `fileName`
// at `fileOffset`. A byte's value depends only on its file position, never on
// how the reads were split. Does nothing for other files or when inactive.
void apply(uint8_t* buffer, const std::string& fileName, int64_t fileOffset, size_t count);
// True when apply() changes some bytes of the named file.
bool damages(const std::string& fileName);

// Payload of the first top-level mdat atom. Sizes are checked against the
// file, never trusted: a size smaller than its header or running past the end
// of the file ends the walk without a result.
std::optional<MdatRange> findMdat(const std::string& fileName);

}  // namespace simcorr
