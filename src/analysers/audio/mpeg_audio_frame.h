#pragma once
// Chains of consecutive MPEG audio (MP1/MP2/MP3) frames in the input. A movie
// keeps MPEG audio frames with their headers, so a run of valid headers, each
// where the previous frame ends, is a run of audio frames.

#include "analysers/audio/frame_chain.h"

#include <cstdint>

class ScanBuffer;

// Chain of consecutive MPEG audio frames over `n` bytes of `data`, which lie
// at file offset `offset`. Returns the bytes covered.
int64_t mp3FrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain);

// The same over the input: reads min(count, kMaxFrameChainRead) bytes at
// `offset`.
int64_t mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain);
