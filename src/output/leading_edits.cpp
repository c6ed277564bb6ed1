#include "output/leading_edits.h"

#include "qt/movie_track.h"

int copyLeadingEmptyEdits(const MovieTrack& source, uint32_t fromTimescale, uint32_t toTimescale, MovieTrack& track) {
    if (fromTimescale == 0 || toTimescale == 0)
        return 0;
    int copied = 0;
    for (size_t i = 0; i < source.m_editList.size() && source.m_editList[i].m_mediaTime == -1; ++i) {
        EditListEntry e = source.m_editList[i];
        const uint64_t duration = uint64_t(e.m_trackDuration) * toTimescale / fromTimescale;
        if (duration == 0)
            continue;
        e.m_trackDuration = uint32_t(duration > UINT32_MAX ? UINT32_MAX : duration);
        if (!track.m_editList.push_back(e))
            break;
        ++copied;
    }
    return copied;
}
