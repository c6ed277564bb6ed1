#include "output/sound_paced_video.h"

#include "log/logger.h"
#include "output/repair_state.h"
#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "reference/sound_pace.h"
#include "reference/video_frame_duration.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

// Below this difference the reference's rate stays: a jittering clock's
// rate is read to better than this, while sound cut at chunk edges, or a
// sound track that lost some of its chunks, is not a better measure.
constexpr double kKeptDifference = 0.08;
// How many chunks' share of the pictures a demanding pace must exceed; in
// a recording too short to tell, more: there every chunk's edges weigh more,
// and only a rate far from the reference's is read from its sound.
constexpr double kChunkSlips = 1.5, kFewChunkSlips = 2.5;
// Beyond these the sound is more likely incomplete than the pictures that
// much slower or faster.
constexpr double kSlowest = 2.0, kFastest = 0.5;
// A pace that changes by more than this between stretches of a recording
// is a rate that changes; a stretch's pictures last these many reference
// frames at most and at least.
constexpr double kRateChange = 0.2;
constexpr double kStretchSlowest = 8.0, kStretchFastest = 0.125;

// How the found sound times the found pictures, in the output video
// track's units: one frame duration (0 to keep the track's own), and where
// the rate changes within the recording, stretches of their own.
struct SoundTiming {
    double frame = 0;
    std::vector<PaceStretch> stretches;
};

// Whether the pace within the recording changes by more than the sound at
// the edges of a stretch's chunks would change it: the stretches inside,
// where sound in front of or behind the first and last chunks leaves none.
bool rateChanges(const std::vector<PaceStretch>& stretches) {
    if (stretches.size() < 3)
        return false;
    double slowest = 0, fastest = std::numeric_limits<double>::infinity();
    for (size_t k = 1; k + 1 < stretches.size(); ++k) {
        slowest = std::max(slowest, stretches[k].secondsPerPicture);
        fastest = std::min(fastest, stretches[k].secondsPerPicture);
    }
    return slowest > (1 + kRateChange) * fastest;
}

SoundTiming soundTiming(const RepairState& state) {
    const MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = state.m_reference.get();
    if (!movie || !reference || !reference->isOpen() || state.m_samplesFromReference)
        return {};
    const MovieTrack* video = movie->m_videoTrack;
    const MovieTrack* sound = movie->m_audioTrackCount > 0 ? movie->m_audioTracks[0] : nullptr;
    const MovieTrack* referenceVideo = reference->videoTrack();
    const MovieTrack* referenceSound = reference->audioTrack(0);
    if (!video || !sound || !referenceVideo || !referenceSound || video->m_sampleDuration == 0 ||
        video->m_mediaTimescale == 0 || sound->m_mediaTimescale == 0 || state.m_audioSampleDuration == 0)
        return {};
    const SoundPaceMeasure measure = learnSoundPace(*referenceVideo, *referenceSound);
    if (measure == SoundPaceMeasure::None)
        return {};
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
                return {};
            order.push_back({s.offset, -1.0f});
            continue;
        }
        if (!s.isAudio())
            continue;
        // Sound of several tracks in one run cannot be told apart here.
        if (severalTracks && s.extra < 0)
            return {};
        if (severalTracks && s.extra != 0)
            continue;
        const double blocks = state.m_audioFixedSampleSize > 0
                                  ? double(s.size > 0 ? s.size : 0) / state.m_audioFixedSampleSize
                                  : 1.0;
        order.push_back({s.offset, float(blocks * blockSeconds)});
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    SoundPace pace(true);
    for (const auto& [offset, seconds] : order) {
        if (seconds < 0)
            pace.picture();
        else
            pace.sound(seconds);
    }
    const double frame = pace.secondsPerPicture(measure) * video->m_mediaTimescale;
    const double ratio = frame / video->m_sampleDuration;
    if (frame < 1 || frame >= double(UINT32_MAX) || ratio > kSlowest || ratio < kFastest)
        return {};
    // Measures the reference did not choose must each differ from its rate,
    // on the same side, by more than a chunk of sound that the recorder
    // wrote ahead of its pictures (which moves all three alike) would. So
    // must those of a recording whose reference came at a steady rate:
    // most recordings come at the rate of their reference, and sound cut at
    // the chunk edges of a short or cut recording is not a reason to give
    // up the rate, while a recording that runs long enough at another rate
    // (a phone in the dark, where its reference was made in daylight) is.
    if (measure == SoundPaceMeasure::Agreed || videoRateSteady(*referenceVideo)) {
        const double kept =
            std::max(kKeptDifference, (pace.telling() ? kChunkSlips : kFewChunkSlips) * pace.chunkShare());
        for (SoundPaceMeasure each : {SoundPaceMeasure::Behind, SoundPaceMeasure::InFront, SoundPaceMeasure::Slope}) {
            const double eachRatio = pace.secondsPerPicture(each) * video->m_mediaTimescale / video->m_sampleDuration;
            if (std::abs(eachRatio - 1) <= kept || (eachRatio > 1) != (ratio > 1))
                return {};
        }
    } else if (std::abs(ratio - 1) <= kKeptDifference) {
        return {};
    }
    SoundTiming timing;
    timing.frame = frame;
    timing.stretches = pace.stretches(measure);
    if (!rateChanges(timing.stretches))
        timing.stretches.clear();
    return timing;
}

// Gives each found picture the duration of its stretch, and rewrites its
// composition offset, counted in `from` (the reference's frame), as the
// time to the picture as many frames on: a frame near where the rate
// changes lasts another time than one further off. Returns the pictures'
// mean duration.
uint32_t timeStretches(RepairState& state, const std::vector<PaceStretch>& stretches, uint32_t timescale,
                       uint32_t from) {
    // When each picture begins, in the track's units, and one more for the
    // end. A stretch whose pictures were lost in the damage while its
    // sound was not gives the rest more time each, and keeps them with
    // their sound; only a pace that no recorder keeps is held back.
    // The pictures of a stretch share one whole duration (a player reads
    // a rate from the durations, and a stretch at the reference's rate
    // keeps it), what each stretch rounds off is made up in the next.
    std::vector<int64_t> begins{0};
    const double slowest = kStretchSlowest * from, fastest = kStretchFastest * from;
    double end = 0;
    for (const PaceStretch& s : stretches) {
        end += double(s.pictures) * std::clamp(s.secondsPerPicture * timescale, fastest, slowest);
        const int64_t each = std::max<int64_t>(1, std::llround((end - double(begins.back())) / double(s.pictures)));
        for (uint64_t i = 0; i < s.pictures; ++i)
            begins.push_back(begins.back() + each);
    }
    const size_t pictures = begins.size() - 1;
    // The moment `at` pictures (a fraction of one counts) from the start.
    const auto moment = [&](double at) {
        const double last = double(begins[pictures] - begins[pictures - 1]);
        if (at >= double(pictures))
            return double(begins[pictures]) + (at - double(pictures)) * last;
        if (at <= 0)
            return at * double(begins[1] - begins[0]);
        const size_t whole = size_t(at);
        return double(begins[whole]) + (at - double(whole)) * double(begins[whole + 1] - begins[whole]);
    };
    size_t n = 0;
    for (size_t i = 0; i < state.m_samples.size() && n < pictures; ++i) {
        const MediaSample& s = state.m_samples[i];
        if (!s.isVideo())
            continue;
        state.m_samples.setDuration(i, int32_t(std::min<int64_t>(begins[n + 1] - begins[n], INT32_MAX)));
        const double offset = moment(double(n) + double(s.extra) / from) - double(begins[n]);
        state.m_samples.setExtra(i, int32_t(std::clamp(std::round(offset), double(INT32_MIN), double(INT32_MAX))));
        ++n;
    }
    return uint32_t(std::clamp<int64_t>(begins[pictures] / int64_t(pictures), 1, UINT32_MAX));
}

}  // namespace

void paceVideoBySound(RepairState& state) {
    MovieTrack* track = state.m_outputMovie ? state.m_outputMovie->m_videoTrack : nullptr;
    const SoundTiming timing = track ? soundTiming(state) : SoundTiming{};
    if (timing.frame == 0)
        return;
    if (!timing.stretches.empty()) {
        for (const PaceStretch& s : timing.stretches)
            FLOG(LogLevel::Debug) << "stretch of " << s.pictures << " pictures: " << s.secondsPerPicture << " s each";
        const uint32_t mean = timeStretches(state, timing.stretches, track->m_mediaTimescale, track->m_sampleDuration);
        FLOG(LogLevel::Notice) << "video timed by its sound in " << timing.stretches.size()
                               << " stretches: frame duration " << mean << " on average instead of "
                               << track->m_sampleDuration;
        track->m_sampleDuration = mean;
        return;
    }
    const uint32_t paced = uint32_t(std::lround(timing.frame));
    FLOG(LogLevel::Notice) << "video timed by its sound: frame duration " << paced << " instead of "
                           << track->m_sampleDuration;
    // The found composition offsets count in the reference's frames.
    const uint32_t from = track->m_sampleDuration;
    track->m_sampleDuration = paced;
    if (paced == from)
        return;
    for (size_t i = 0; i < state.m_samples.size(); ++i) {
        if (!state.m_samples[i].isVideo())
            continue;
        const double scaled = std::round(double(state.m_samples[i].extra) * paced / from);
        state.m_samples.setExtra(i, int32_t(std::clamp(scaled, double(INT32_MIN), double(INT32_MAX))));
    }
}
