#include "output/picture_durations.h"

#include "log/logger.h"
#include "output/repair_state.h"
#include "qt/atom_codecs.h"
#include "qt/movie_file.h"

#include <cmath>
#include <cstdint>

void applyPictureDurations(RepairState& state) {
    MovieFile* movie = state.m_outputMovie;
    MovieTrack* track = movie ? movie->m_videoTrack : nullptr;
    if (!track || track->m_sampleDuration == 0 || track->m_mediaTimescale == 0)
        return;
    const FoundSampleList& samples = state.m_samples;
    // A clip dumped in several passes, or cut short by the save portion,
    // holds other samples than this list.
    if (track->m_sampleCount != samples.count(SampleKind::Video))
        return;
    bool own = false;
    for (const MediaSample& s : samples)
        own = own || (s.isVideo() && s.duration > 0);
    if (!own)
        return;
    track->m_timeToSample.clear();
    uint64_t duration = 0;
    for (const MediaSample& s : samples) {
        if (!s.isVideo())
            continue;
        const uint32_t d = s.duration > 0 ? uint32_t(s.duration) : track->m_sampleDuration;
        if (!qt::appendSampleDuration(track->m_timeToSample, d))
            return;
        duration += d;
    }
    const uint32_t before = track->m_trackDuration;
    track->m_mediaDuration = uint32_t(std::min<uint64_t>(duration, UINT32_MAX));
    const double movieUnits = std::floor(double(duration) * movie->m_movieTimescale / track->m_mediaTimescale + 0.5);
    track->m_trackDuration = movieUnits >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(movieUnits);
    if (movie->m_movieDuration <= before || movie->m_movieDuration < track->m_trackDuration)
        movie->m_movieDuration = track->m_trackDuration;
    FLOG(LogLevel::Info) << "video timing from the pictures' own durations: entries=" << track->m_timeToSample.size()
                         << " duration=" << duration;
}
