#include "output/caption_timing.h"

#include <algorithm>
#include <cmath>

CaptionTiming::CaptionTiming(const FoundSampleList& samples) {
    // Only a list with metadata has caption chunks to place.
    if (samples.count(SampleKind::Meta) == 0)
        return;
    m_videoOffsets.reserve(size_t(samples.count(SampleKind::Video)));
    for (const MediaSample& s : samples)
        if (s.isVideo())
            m_videoOffsets.push_back(s.offset);
    std::sort(m_videoOffsets.begin(), m_videoOffsets.end());
}

uint64_t CaptionTiming::videoBefore(int64_t offset) const {
    return uint64_t(std::lower_bound(m_videoOffsets.begin(), m_videoOffsets.end(), offset) - m_videoOffsets.begin());
}

void CaptionTiming::add(double seconds, bool sameChunk, bool pause) {
    m_pauses.push_back(pause);
    if (sameChunk && !m_chunkSamples.empty()) {
        ++m_chunkSamples.back();
        return;
    }
    m_chunkStart.push_back(seconds);
    m_chunkSamples.push_back(1);
}

namespace {

void push(std::vector<TimeToSampleEntry>& out, uint64_t duration) {
    const uint32_t d = uint32_t(std::min<uint64_t>(duration, UINT32_MAX));
    if (!out.empty() && out.back().m_duration == d)
        ++out.back().m_sampleCount;
    else
        out.push_back(TimeToSampleEntry{1, d});
}

// A chunk placed among the video may be this far off its moment (a muxer
// writes a sparse track's chunk when the interleave passes it) before the
// place, not the lengths, decides: a chunk the scan lost leaves a jump of
// about a chunk's length.
constexpr double kMinDriftSeconds = 1.0;
constexpr double kDriftChunkShare = 1.0;

}  // namespace

std::vector<TimeToSampleEntry> CaptionTiming::table(uint32_t timescale, uint32_t typical, double pauseSeconds,
                                                    double cueSeconds) const {
    if (pauseSeconds > 0 || cueSeconds > 0)
        return byLength(timescale, pauseSeconds > 0 ? pauseSeconds : cueSeconds,
                        cueSeconds > 0 ? cueSeconds : pauseSeconds);
    return byPlace(timescale, typical);
}

std::vector<TimeToSampleEntry> CaptionTiming::byLength(uint32_t timescale, double pauseSeconds,
                                                       double cueSeconds) const {
    // Each chunk's samples at the reference's lengths, the chunks one behind
    // the other; a chunk whose place says otherwise by more than the drift
    // allowed starts at its place, and the chunk in front shrinks or
    // stretches to meet it.
    std::vector<double> natural(m_chunkStart.size(), 0.0);
    size_t sample = 0;
    for (size_t c = 0; c < m_chunkStart.size(); ++c)
        for (uint32_t k = 0; k < m_chunkSamples[c]; ++k, ++sample)
            natural[c] += m_pauses[sample] ? pauseSeconds : cueSeconds;
    std::vector<double> sorted = natural;
    std::sort(sorted.begin(), sorted.end());
    const double typicalChunk = sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
    const double drift = std::max(kMinDriftSeconds, kDriftChunkShare * typicalChunk);
    std::vector<double> start(m_chunkStart.size(), 0.0);
    for (size_t c = 1; c < m_chunkStart.size(); ++c) {
        const double next = start[c - 1] + natural[c - 1];
        start[c] = std::fabs(m_chunkStart[c] - next) <= drift ? next : std::max(m_chunkStart[c], start[c - 1]);
    }
    std::vector<TimeToSampleEntry> out;
    uint64_t cursor = 0;
    sample = 0;
    for (size_t c = 0; c < m_chunkStart.size(); ++c) {
        const bool last = c + 1 == m_chunkStart.size();
        const double span = last ? natural[c] : start[c + 1] - start[c];
        // Shrunk in proportion; stretched by the last sample (the cue shows
        // until the next chunk's).
        const double scale = natural[c] > 0 && span < natural[c] ? span / natural[c] : 1.0;
        double t = start[c];
        for (uint32_t k = 0; k < m_chunkSamples[c]; ++k, ++sample) {
            t += scale * (m_pauses[sample] ? pauseSeconds : cueSeconds);
            if (k + 1 == m_chunkSamples[c])
                t = std::max(t, start[c] + span);
            const uint64_t end = std::max<uint64_t>(uint64_t(std::llround(std::max(0.0, t) * timescale)), cursor + 1);
            push(out, end - cursor);
            cursor = end;
        }
    }
    return out;
}

std::vector<TimeToSampleEntry> CaptionTiming::byPlace(uint32_t timescale, uint32_t typical) const {
    std::vector<TimeToSampleEntry> out;
    const uint64_t step = std::max<uint32_t>(typical, 1);
    // The track has no edit: its first sample starts with the movie and
    // lasts until its chunk's successor wherever the chunk lies.
    uint64_t cursor = 0;
    for (size_t c = 0; c < m_chunkStart.size(); ++c) {
        const uint64_t k = m_chunkSamples[c];
        uint64_t next = cursor + k * step;
        if (c + 1 < m_chunkStart.size())
            next = uint64_t(std::llround(std::max(0.0, m_chunkStart[c + 1]) * timescale));
        // Every sample keeps at least one unit, so times never run backwards.
        next = std::max(next, cursor + k);
        const uint64_t span = next - cursor;
        const uint64_t lead = std::max<uint64_t>(std::min(step, span / k), 1);
        for (uint64_t i = 0; i + 1 < k; ++i)
            push(out, lead);
        push(out, span - (k - 1) * lead);
        cursor = next;
    }
    return out;
}
