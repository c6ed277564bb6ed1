#include "reference/sound_pace.h"

#include "qt/atom_codecs.h"
#include "qt/movie_track.h"
#include "reference/track_table_cursor.h"
#include "reference/video_frame_duration.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Fewer chunks leave one chunk's share of pictures too large: a chunk of
// pictures and the sound beside it rarely begin at the same moment.
constexpr uint64_t kMinimumChunks = 3;
constexpr double kMinimumSeconds = 1.0;
// Chunks a reference needs to tell one measure from another, and a
// recording needs before its measures' agreement means anything.
constexpr uint64_t kTellingChunks = 8;
// How close the three measures must come to each other to agree.
constexpr double kAgreement = 0.15;
// A reference's table that claims more pictures than this is not read for
// its pace (a day of video at 200 frames a second is fewer).
constexpr uint64_t kMaxPictures = uint64_t(1) << 24;
// How close the reference's sound must come to its own pictures' mean.
constexpr double kLearnTolerance = 0.03;

// How far apart three measures are: the largest over the smallest, less 1.
template <class Measures>
double spread(const Measures& m) {
    const double low = std::min({m.behind, m.inFront, m.slope}), high = std::max({m.behind, m.inFront, m.slope});
    return low > 0 ? high / low - 1 : std::numeric_limits<double>::infinity();
}

}  // namespace

void SoundPace::picture() {
    if (m_chunks == 0 || m_behindLast > 0) {
        if (m_chunks > 0)
            m_betweenChunks += m_behindLast;
        m_behindLast = 0;
        m_lastChunk = 0;
        ++m_chunks;
    }
    const double index = double(m_pictures);
    m_sumIndex += index;
    m_sumIndexSquared += index * index;
    m_sumSound += m_sound;
    m_sumIndexSound += index * m_sound;
    ++m_lastChunk;
    ++m_pictures;
    if (m_chunks == 1)
        m_firstChunk = m_lastChunk;
}

void SoundPace::sound(double seconds) {
    if (seconds <= 0)
        return;
    m_sound += seconds;
    if (m_chunks > 0)
        m_behindLast += seconds;
}

double SoundPace::secondsPerPicture(SoundPaceMeasure measure) const {
    if (measure == SoundPaceMeasure::None || m_chunks < kMinimumChunks || m_betweenChunks < kMinimumSeconds)
        return 0;
    if (measure == SoundPaceMeasure::Agreed) {
        const Measures m = measures();
        return telling() && spread(m) <= kAgreement ? (m.behind + m.inFront + m.slope) / 3 : 0;
    }
    if (measure == SoundPaceMeasure::Slope) {
        const double n = double(m_pictures);
        const double spread = n * m_sumIndexSquared - m_sumIndex * m_sumIndex;
        return spread > 0 ? (n * m_sumIndexSound - m_sumIndex * m_sumSound) / spread : 0;
    }
    // The sound between the first chunk and the last lasts as long as every
    // chunk but the last (behind) or every chunk but the first (in front).
    const uint64_t pictures = m_pictures - (measure == SoundPaceMeasure::Behind ? m_lastChunk : m_firstChunk);
    return pictures > 0 ? m_betweenChunks / double(pictures) : 0;
}

SoundPace::Measures SoundPace::measures() const {
    return {secondsPerPicture(SoundPaceMeasure::Behind), secondsPerPicture(SoundPaceMeasure::InFront),
            secondsPerPicture(SoundPaceMeasure::Slope)};
}

double SoundPace::disagreement() const { return spread(measures()); }

bool SoundPace::telling() const {
    return m_chunks >= kTellingChunks && m_betweenChunks >= kMinimumSeconds;
}

double SoundPace::chunkShare() const { return m_chunks > 1 ? 1.0 / double(m_chunks - 1) : 1.0; }

SoundPaceMeasure learnSoundPace(const MovieTrack& video, const MovieTrack& sound) {
    if (video.m_mediaTimescale == 0 || sound.m_mediaTimescale == 0 || video.m_sampleCount == 0 ||
        sound.m_sampleCount == 0)
        return SoundPaceMeasure::None;
    SoundPace pace;
    SamplesPerChunkCursor pictures(video), blocks(sound);
    DecodeTimeCursor clock(sound);
    const size_t videoChunks = video.m_chunkOffsets.size(), soundChunks = sound.m_chunkOffsets.size();
    size_t v = 0, s = 0;
    if (video.m_sampleCount > kMaxPictures)
        return SoundPaceMeasure::None;
    uint64_t left = video.m_sampleCount;
    while (v < videoChunks || s < soundChunks) {
        const bool nextIsVideo =
            s >= soundChunks || (v < videoChunks && video.m_chunkOffsets[v] < sound.m_chunkOffsets[s]);
        if (nextIsVideo) {
            // A table that lies about its chunks gives no more pictures
            // than the track holds.
            const uint64_t n = std::min<uint64_t>(pictures.samplesPerChunk(uint32_t(++v)), left);
            left -= n;
            for (uint64_t i = 0; i < n; ++i)
                pace.picture();
            continue;
        }
        const uint64_t before = clock.time();
        clock.advance(blocks.samplesPerChunk(uint32_t(++s)));
        pace.sound(double(clock.time() - before) / sound.m_mediaTimescale);
    }
    if (!pace.telling())
        return SoundPaceMeasure::Agreed;
    const double mean = double(qt::totalSampleDuration(video.m_timeToSample)) / video.m_sampleCount /
                        video.m_mediaTimescale;
    if (mean <= 0)
        return SoundPaceMeasure::None;
    SoundPaceMeasure best = SoundPaceMeasure::None;
    double bestError = kLearnTolerance;
    for (SoundPaceMeasure measure : {SoundPaceMeasure::Behind, SoundPaceMeasure::InFront, SoundPaceMeasure::Slope}) {
        const double seconds = pace.secondsPerPicture(measure);
        const double error = std::abs(seconds / mean - 1);
        if (seconds > 0 && error <= bestError) {
            best = measure;
            bestError = error;
        }
    }
    return best;
}
