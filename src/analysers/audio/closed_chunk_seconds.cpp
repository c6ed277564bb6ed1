#include "analysers/audio/closed_chunk_seconds.h"

#include "qt/movie_track.h"

#include <algorithm>

double closedChunkSeconds(const MovieTrack& track) {
    if (track.m_mediaTimescale == 0 || track.m_sampleDuration == 0)
        return 0;
    // Samples per chunk as the sample-to-chunk table gives them (chunks
    // counted from 1).
    uint32_t longest = 0;
    size_t entry = 0;
    for (size_t c = 0; c + 1 < track.m_chunkOffsets.size(); ++c) {
        while (entry + 1 < track.m_sampleToChunk.size() && track.m_sampleToChunk[entry + 1].m_firstChunk <= c + 1)
            ++entry;
        if (entry < track.m_sampleToChunk.size())
            longest = std::max(longest, track.m_sampleToChunk[entry].m_samplesPerChunk);
    }
    return double(longest) * double(track.m_sampleDuration) / double(track.m_mediaTimescale);
}
