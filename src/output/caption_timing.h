#pragma once
// Caption samples carry no time of their own: a cue lasts until the next
// sample, and the recorder writes a chunk of them where the interleave was
// when it did. A recovered caption chunk is placed at the time of the video
// written before it, and its samples share the time up to the next chunk,
// so each cue shows near its moment instead of drifting by a fixed length.

#include "qt/qt_types.h"

#include <cstdint>
#include <vector>

class CaptionTiming {
public:
    // A caption sample whose chunk lies behind `seconds` of video;
    // `sameChunk`: it follows the previous caption sample in the file.
    void add(double seconds, bool sameChunk);
    uint64_t sampleCount() const { return m_samples; }
    // The samples' durations in `timescale` units; `typical` (the
    // reference's most common duration) bounds the samples in front of a
    // chunk's last and is what the very last one lasts.
    std::vector<TimeToSampleEntry> table(uint32_t timescale, uint32_t typical) const;

private:
    std::vector<double> m_chunkStart;
    std::vector<uint32_t> m_chunkSamples;
    uint64_t m_samples = 0;
};
