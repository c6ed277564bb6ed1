#include "reference/track_table_cursor.h"

#include "qt/movie_track.h"

#include <algorithm>

SampleOffsetCursor::SampleOffsetCursor(const MovieTrack& track) : m_track(track) {
    if (!track.m_sampleToChunk.empty()) {
        m_chunk = track.m_sampleToChunk[0].m_firstChunk;
        m_perChunk = track.m_sampleToChunk[0].m_samplesPerChunk;
    }
}

uint64_t SampleOffsetCursor::offset(uint32_t sample) {
    const auto& stsc = m_track.m_sampleToChunk;
    const uint64_t chunkCount = m_track.m_chunkOffsets.size();
    if (stsc.empty() || sample < 1)
        return 0;
    bool moved = false;
    // Step chunk by chunk; past the last chunk nothing can be placed, which
    // also bounds the walk when entries claim zero samples per chunk.
    while (uint64_t(sample) >= m_first + m_perChunk && m_chunk <= chunkCount) {
        ++m_chunk;
        m_first += m_perChunk;
        if (m_entry + 1 < stsc.size() && stsc[m_entry + 1].m_firstChunk == m_chunk) {
            ++m_entry;
            m_perChunk = stsc[m_entry].m_samplesPerChunk;
        }
        moved = true;
    }
    if (uint64_t(sample) >= m_first + m_perChunk || m_chunk < 1 || m_chunk > chunkCount)
        return 0;
    const uint64_t base = m_track.m_chunkOffsets[m_chunk - 1];
    if (moved || m_walkSample < m_first || m_walkSample > sample) {
        m_walkSample = m_first;
        m_walkOffset = base;
        m_walkValid = true;
    }
    if (sample == m_first)
        return base;
    if (m_track.m_fixedSampleSize)
        return base + (uint64_t(sample) - m_first) * m_track.m_fixedSampleSize;
    const auto& sizes = m_track.m_sampleSizes;
    while (m_walkValid && m_walkSample < sample) {
        const uint64_t index = m_walkSample - 1;
        if (index >= sizes.size() || sizes[index] == 0) {
            m_walkValid = false;
            break;
        }
        m_walkOffset += sizes[index];
        ++m_walkSample;
    }
    return m_walkValid ? m_walkOffset : 0;
}

uint32_t SamplesPerChunkCursor::samplesPerChunk(uint32_t chunk) {
    const auto& stsc = m_track.m_sampleToChunk;
    if (stsc.empty() || chunk > m_track.m_chunkOffsets.size())
        return 0;
    while (m_entry + 1 < stsc.size() && stsc[m_entry + 1].m_firstChunk <= chunk)
        ++m_entry;
    // The last entry whose first chunk is not after the chunk; a first chunk
    // further on can still precede it when entries are out of order.
    if (stsc[m_entry].m_firstChunk > chunk)
        return 0;
    return stsc[m_entry].m_samplesPerChunk;
}

uint32_t CompositionOffsetCursor::compositionOffset(uint32_t sample) {
    const auto& ctts = m_track.m_compositionOffsets;
    if (sample < 1 || ctts.empty())
        return 0;
    if (!m_started) {
        m_reached = ctts[0].m_sampleCount;
        m_started = true;
    }
    while (m_reached < sample && m_entry + 1 < ctts.size()) {
        ++m_entry;
        m_reached += ctts[m_entry].m_sampleCount;
    }
    return ctts[m_entry].m_offset;
}

DecodeTimeCursor::DecodeTimeCursor(const MovieTrack& track)
    : m_track(track), m_left(track.m_timeToSample.empty() ? 0 : track.m_timeToSample[0].m_sampleCount) {}

bool DecodeTimeCursor::done() const { return m_entry >= m_track.m_timeToSample.size(); }

void DecodeTimeCursor::advance(uint32_t samples) {
    // A whole entry's samples at a time: a table's counts may run to
    // billions.
    const auto& table = m_track.m_timeToSample;
    while (samples > 0 && m_entry < table.size()) {
        while (m_left == 0 && ++m_entry < table.size())
            m_left = table[m_entry].m_sampleCount;
        if (m_entry >= table.size())
            break;
        const uint32_t step = std::min(samples, m_left);
        m_time += uint64_t(table[m_entry].m_duration) * step;
        m_left -= step;
        samples -= step;
    }
}
