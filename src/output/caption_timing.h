#pragma once
// Caption samples carry no time of their own: a cue lasts until the next
// sample, and the recorder writes a chunk of them where the interleave was
// when it did. A recovered caption chunk is placed at the time of the video
// written in front of it in the file; where the reference tells how long a
// cue and the pause between two cues last, the chunks follow each other at
// those lengths, and the place among the video only corrects a drift.

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
    // `sameChunk`: it follows the previous caption sample in the file;
    // `pause`: it is empty (the time between two cues).
    void add(double seconds, bool sameChunk, bool pause);
    uint64_t sampleCount() const { return m_pauses.size(); }
    // The samples' durations in `timescale` units. `typical` (the
    // reference's most common duration) bounds the samples in front of a
    // chunk's last and is what the very last one lasts; `pauseSeconds` and
    // `cueSeconds` (0: unknown) are the reference's lengths of each kind.
    std::vector<TimeToSampleEntry> table(uint32_t timescale, uint32_t typical, double pauseSeconds = 0,
                                         double cueSeconds = 0) const;

private:
    std::vector<TimeToSampleEntry> byPlace(uint32_t timescale, uint32_t typical) const;
    std::vector<TimeToSampleEntry> byLength(uint32_t timescale, double pauseSeconds, double cueSeconds) const;

    std::vector<int64_t> m_videoOffsets;  // ascending
    std::vector<double> m_chunkStart;
    std::vector<uint32_t> m_chunkSamples;
    std::vector<bool> m_pauses;  // per sample
};
