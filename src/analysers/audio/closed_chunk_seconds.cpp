#include "analysers/audio/closed_chunk_seconds.h"

#include "qt/movie_track.h"
#include "reference/track_table_cursor.h"

#include <algorithm>

double closedChunkSeconds(const MovieTrack& track) {
    if (track.m_mediaTimescale == 0 || track.m_sampleDuration == 0)
        return 0;
    SamplesPerChunkCursor perChunk(track);
    uint32_t longest = 0;
    for (size_t c = 1; c < track.m_chunkOffsets.size(); ++c)
        longest = std::max(longest, perChunk.samplesPerChunk(uint32_t(c)));
    return double(longest) * double(track.m_sampleDuration) / double(track.m_mediaTimescale);
}
