#pragma once
// A run of audio frames found in the input: the file offset of the run's
// start, then the end of each frame in order, so n frames give n + 1 offsets.

#include <cstddef>
#include <cstdint>
#include <vector>

// A chain never holds more offsets than this: a run that long is already far
// more audio than one interleave gap can hold, and the cap bounds the work a
// hostile input can cause per position.
constexpr size_t kMaxFrameChainOffsets = 5000;
// Frame chains never read more than this much input at once.
constexpr int32_t kMaxFrameChainRead = 8 * 1024 * 1024;

using FrameChain = std::vector<int64_t>;

// Frames in the chain (0 for an empty chain).
inline size_t frameCount(const FrameChain& chain) { return chain.empty() ? 0 : chain.size() - 1; }
// Bytes from the start of the run to the end of its last frame.
inline int64_t chainBytes(const FrameChain& chain) { return chain.empty() ? 0 : chain.back() - chain.front(); }
