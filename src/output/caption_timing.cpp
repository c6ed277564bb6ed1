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

void CaptionTiming::add(double seconds, bool sameChunk) {
    ++m_samples;
    if (sameChunk && !m_chunkSamples.empty()) {
        ++m_chunkSamples.back();
        return;
    }
    m_chunkStart.push_back(seconds);
    m_chunkSamples.push_back(1);
}

std::vector<TimeToSampleEntry> CaptionTiming::table(uint32_t timescale, uint32_t typical) const {
    std::vector<TimeToSampleEntry> out;
    auto push = [&](uint64_t duration) {
        const uint32_t d = uint32_t(std::min<uint64_t>(duration, UINT32_MAX));
        if (!out.empty() && out.back().m_duration == d)
            ++out.back().m_sampleCount;
        else
            out.push_back(TimeToSampleEntry{1, d});
    };
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
            push(lead);
        push(span - (k - 1) * lead);
        cursor = next;
    }
    return out;
}
