#pragma once
// Runs of raw AAC frames. Inside a movie AAC frames carry no sync word and
// no length, so the only way to tell where one ends is to decode it: FAAD2,
// set up with the reference's AudioSpecificConfig, reports the bytes each
// frame took.

#include "analysers/audio/frame_chain.h"

#include <cstdint>

class ScanBuffer;

// The reference's AAC configuration as the chains need it.
struct AacChainConfig {
    const uint8_t* decoderConfig = nullptr;  // AudioSpecificConfig bytes (esds)
    uint8_t decoderConfigLength = 0;
    // First byte of the reference's audio chunks. When not 0, every frame
    // after the first must begin with it: a cheap stop long before the
    // decoder would notice that it has run into video data.
    uint8_t syncByte = 0;
};

// Chain of AAC frames over `n` bytes of `data`, which lie at file offset
// `offset`. A new decoder is opened and closed for every chain, so no state
// leaks from one candidate run to the next. Returns the bytes covered, or -1
// (logged) when the decoder cannot be set up with the configuration.
int64_t aacFrameChain(const AacChainConfig& config, const uint8_t* data, int32_t n, int64_t offset,
                      FrameChain& chain);

// The same over the input: reads min(count, kMaxFrameChainRead) bytes at
// `offset`.
int64_t aacFrameChain(const AacChainConfig& config, ScanBuffer& input, int64_t offset, int64_t count,
                      FrameChain& chain);
