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
// recording needs before its measures count against a reference that
// could not tell, or that came at a steady rate.
constexpr uint64_t kTellingChunks = 8;
// A reference's table that claims more pictures than this is not read for
// its pace (a day of video at 200 frames a second is fewer).
constexpr uint64_t kMaxPictures = uint64_t(1) << 24;
// How close the reference's sound must come to its own pictures' mean.
constexpr double kLearnTolerance = 0.03;
// A stretch of pictures is timed by this much sound at least, in this many
// chunks at least: a chunk's edges, or sound that a recorder wrote a chunk
// ahead, then move its pace by a small share.
constexpr double kStretchSeconds = 4.0;
constexpr uint64_t kStretchChunks = 4;

}  // namespace

void SoundPace::picture() {
    if (m_chunks == 0 || m_behindLast > 0) {
        if (m_chunks > 0)
            m_betweenChunks += m_behindLast;
        m_behindLast = 0;
        m_lastChunk = 0;
        ++m_chunks;
        if (m_keepStarts)
            chunkBegins();
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
    if (measure == SoundPaceMeasure::Agreed)
        return (secondsPerPicture(SoundPaceMeasure::Behind) + secondsPerPicture(SoundPaceMeasure::InFront) +
                secondsPerPicture(SoundPaceMeasure::Slope)) /
               3;
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

bool SoundPace::telling() const {
    return m_chunks >= kTellingChunks && m_betweenChunks >= kMinimumSeconds;
}

void SoundPace::chunkBegins() {
    const ChunkStart start{m_pictures, m_sound, m_chunks > 1 ? m_previousStartSound : m_sound};
    m_previousStartSound = m_sound;
    m_lastStart = start;
    if (m_starts.empty() || (m_sound - m_starts.back().sound >= kStretchSeconds &&
                             m_chunks - m_chunksAtLastStart >= kStretchChunks)) {
        m_starts.push_back(start);
        m_chunksAtLastStart = m_chunks;
    }
}

std::vector<PaceStretch> SoundPace::stretches(SoundPaceMeasure measure) const {
    std::vector<ChunkStart> at = m_starts;
    if (at.empty())
        return {};
    // The last chunk's start closes the last stretch, or lengthens it where
    // it follows too closely to time one of its own.
    if (m_lastStart.pictures > at.back().pictures) {
        if (at.size() > 1 && m_lastStart.sound - at.back().sound < kStretchSeconds / 2)
            at.back() = m_lastStart;
        else
            at.push_back(m_lastStart);
    }
    // Sound in front of its chunk: a stretch of chunks lasts from the
    // sound before the chunk in front of its first to the sound before
    // the chunk in front of the next stretch; the last stretch, to the
    // start of the last chunk. The first stretch is no measure either way:
    // the first chunk's own sound lies in front of it, and many recorders
    // write some sound ahead of their first pictures.
    const bool inFront = measure == SoundPaceMeasure::InFront;
    if (inFront)
        at.push_back({m_pictures, 0, m_lastStart.sound});
    std::vector<PaceStretch> out;
    for (size_t k = 0; k + 1 < at.size(); ++k) {
        const double seconds = inFront ? at[k + 1].soundBeforePrevious - at[k].soundBeforePrevious
                                       : at[k + 1].sound - at[k].sound;
        const uint64_t pictures = at[k + 1].pictures - at[k].pictures;
        const bool timed = k > 0 && seconds > 0;
        out.push_back({pictures, timed ? seconds / double(pictures) : 0});
    }
    // Behind: the sound behind the last chunk is no measure.
    if (!inFront && m_pictures > at.back().pictures)
        out.push_back({m_pictures - at.back().pictures, 0});
    if (out.size() < 2)
        return {};
    // Stretches that their sound cannot time take the pace of the one
    // behind them, or, at the start, of the first that can be timed.
    double pace = 0;
    for (const PaceStretch& s : out)
        if (pace == 0)
            pace = s.secondsPerPicture;
    if (pace == 0)
        return {};
    for (PaceStretch& s : out) {
        if (s.secondsPerPicture == 0)
            s.secondsPerPicture = pace;
        pace = s.secondsPerPicture;
    }
    return out;
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
