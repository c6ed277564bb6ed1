#pragma once
// One sample found in the input: where it is, how long, and what the output
// writer needs to place it in its track.

#include <cstdint>

struct MediaSample {
    int64_t offset = 0;  // file offset of the sample in the input
    int32_t size = 0;    // bytes; always below the input file size
    uint32_t video = 0;  // 1 for a video frame, 0 for an audio block
    // Video: composition offset (0 when composition offsets are off).
    // Audio: whatever the reporting analyser passed (-1 from PCM and AAC).
    int32_t extra = 0;
};
