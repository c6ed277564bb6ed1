#pragma once
// Chains of consecutive MPEG audio (MP1/MP2/MP3) frames in the input. A movie
// keeps MPEG audio frames with their headers, so a run of valid headers, each
// where the previous frame ends, is a run of audio frames.

#include "analysers/audio/frame_chain.h"

#include <cstddef>
#include <cstdint>

class ScanBuffer;

// The longest MPEG audio frame: layer II at 160 kbit/s and 8 kHz, padded.
constexpr int64_t kMaxMpegFrameBytes = 2881;

// Chain of consecutive MPEG audio frames over `n` bytes of `data`, which lie
// at file offset `offset`. Returns the bytes covered.
int64_t mp3FrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain);

// The same over the input: reads min(count, kMaxFrameChainRead) bytes at
// `offset`.
int64_t mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain);

// What an MPEG audio track's frames share, as its sample description gives
// it (0: any). Another codec's frames or a second MPEG track of another rate
// beside it end the track's chain.
struct MpegTrackFormat {
    int32_t sampleRate = 0;
    int channels = 0;
};

// The chain of frames of `format` only from `offset` over `n` bytes of
// `data`, of at most `maxOffsets` offsets. Returns the bytes covered.
int64_t mpegTrackChain(const uint8_t* data, int32_t n, int64_t offset, const MpegTrackFormat& format,
                       size_t maxOffsets, FrameChain& chain);
