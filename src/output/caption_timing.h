#pragma once
// Caption samples carry no time of their own: a cue lasts until the next
// sample, and the recorder writes a chunk of them where the interleave was
// when it did. A recovered caption chunk is placed at the time of the video
// written before it, and its samples share the time up to the next chunk,
// so each cue shows near its moment instead of drifting by a fixed length.

#include "qt/qt_types.h"
#include "scan/media_sample.h"

#include <cstdint>
#include <vector>

class CaptionTiming {
public:
    // `samples`: the list being written. The scan may report a gap's
    // samples after the video chunk behind it, so a chunk's place is read
    // from the file offsets, not from the list order.
    explicit CaptionTiming(const FoundSampleList& samples);
    // Video samples of the list that lie in front of `offset` in the file.
    uint64_t videoBefore(int64_t offset) const;
    // A caption sample whose chunk lies behind `seconds` of video;
    // `sameChunk`: it follows the previous caption sample in the file.
    void add(double seconds, bool sameChunk);
    uint64_t sampleCount() const { return m_samples; }
    // The samples' durations in `timescale` units; `typical` (the
    // reference's most common duration) bounds the samples in front of a
    // chunk's last and is what the very last one lasts.
    std::vector<TimeToSampleEntry> table(uint32_t timescale, uint32_t typical) const;

private:
    std::vector<int64_t> m_videoOffsets;  // ascending
    std::vector<double> m_chunkStart;
    std::vector<uint32_t> m_chunkSamples;
    uint64_t m_samples = 0;
};
