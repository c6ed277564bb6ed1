#include "output/sound_paced_video.h"

#include "log/logger.h"
#include "output/repair_state.h"
#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "reference/sound_pace.h"
#include "reference/video_frame_duration.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// Below this difference the reference's rate stays: a jittering clock's
// rate is read to better than this, while sound cut at chunk edges, or a
// sound track that lost some of its chunks, is not a better measure.
constexpr double kKeptDifference = 0.08;
// How many chunks' share of the pictures a demanding pace must exceed.
constexpr double kChunkSlips = 1.5;
// Beyond these the sound is more likely incomplete than the pictures that
// much slower or faster.
constexpr double kSlowest = 2.0, kFastest = 0.5;

// The frame duration, in the output video track's units, that the found
// sound gives the found pictures; 0 to keep the track's own.
uint32_t soundPacedFrameDuration(const RepairState& state) {
    const MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = state.m_reference.get();
    if (!movie || !reference || !reference->isOpen() || state.m_samplesFromReference)
        return 0;
    const MovieTrack* video = movie->m_videoTrack;
    const MovieTrack* sound = movie->m_audioTrackCount > 0 ? movie->m_audioTracks[0] : nullptr;
    const MovieTrack* referenceVideo = reference->videoTrack();
    const MovieTrack* referenceSound = reference->audioTrack(0);
    if (!video || !sound || !referenceVideo || !referenceSound || video->m_sampleDuration == 0 ||
        video->m_mediaTimescale == 0 || sound->m_mediaTimescale == 0 || state.m_audioSampleDuration == 0)
        return 0;
    const SoundPaceMeasure measure = learnSoundPace(*referenceVideo, *referenceSound);
    if (measure == SoundPaceMeasure::None)
        return 0;
    const bool severalTracks = movie->m_audioTrackCount > 1;
    const double blockSeconds = double(state.m_audioSampleDuration) / sound->m_mediaTimescale;
    // The list keeps some samples out of the file's order (a picture the
    // scan found ahead of the sound in front of it): the pace takes the
    // file's. Seconds of sound, or -1 for a picture, by file offset.
    std::vector<std::pair<int64_t, float>> order;
    for (const MediaSample& s : state.m_samples) {
        if (s.isVideo()) {
            // Pictures that carry their own duration are timed by it.
            if (s.duration > 0)
                return 0;
            order.push_back({s.offset, -1.0f});
            continue;
        }
        if (!s.isAudio())
            continue;
        // Sound of several tracks in one run cannot be told apart here.
        if (severalTracks && s.extra < 0)
            return 0;
        if (severalTracks && s.extra != 0)
            continue;
        const double blocks = state.m_audioFixedSampleSize > 0
                                  ? double(s.size > 0 ? s.size : 0) / state.m_audioFixedSampleSize
                                  : 1.0;
        order.push_back({s.offset, float(blocks * blockSeconds)});
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    SoundPace pace;
    for (const auto& [offset, seconds] : order) {
        if (seconds < 0)
            pace.picture();
        else
            pace.sound(seconds);
    }
    const double frame = pace.secondsPerPicture(measure) * video->m_mediaTimescale;
    const double ratio = frame / video->m_sampleDuration;
    // Measures the reference did not choose must differ from its rate by
    // clearly more than they differ from each other, and by more than a
    // chunk of sound that the recorder wrote ahead of its pictures (which
    // moves all three alike) would. So must those of a recording whose
    // reference came at a steady rate: most recordings come at the rate
    // of their reference, and sound cut at the chunk edges of a short or
    // cut recording is not a reason to give up the rate, while a recording
    // that runs long enough at another rate (a phone in the dark, where
    // its reference was made in daylight) is.
    const bool demanding = measure == SoundPaceMeasure::Agreed || videoRateSteady(*referenceVideo);
    if (demanding && !pace.telling())
        return 0;
    const double kept = demanding ? std::max({kKeptDifference, 2 * pace.disagreement(), kChunkSlips * pace.chunkShare()})
                                  : kKeptDifference;
    if (frame < 1 || frame >= double(UINT32_MAX) || std::abs(ratio - 1) <= kept || ratio > kSlowest ||
        ratio < kFastest)
        return 0;
    return uint32_t(std::lround(frame));
}

}  // namespace

void paceVideoBySound(RepairState& state) {
    state.m_pacedFrom = 0;
    MovieTrack* track = state.m_outputMovie ? state.m_outputMovie->m_videoTrack : nullptr;
    const uint32_t paced = track ? soundPacedFrameDuration(state) : 0;
    if (paced == 0)
        return;
    FLOG(LogLevel::Notice) << "video timed by its sound: frame duration " << paced << " instead of "
                           << track->m_sampleDuration;
    state.m_pacedFrom = track->m_sampleDuration;
    track->m_sampleDuration = paced;
}

int32_t pacedCompositionOffset(const RepairState& state, int32_t offset) {
    const MovieTrack* track = state.m_outputMovie ? state.m_outputMovie->m_videoTrack : nullptr;
    if (state.m_pacedFrom == 0 || !track || track->m_sampleDuration == state.m_pacedFrom)
        return offset;
    const double scaled = std::round(double(offset) * track->m_sampleDuration / state.m_pacedFrom);
    return scaled >= double(INT32_MAX) ? INT32_MAX : scaled <= double(INT32_MIN) ? INT32_MIN : int32_t(scaled);
}
