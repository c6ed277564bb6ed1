#include "output/sound_tail.h"

#include "log/logger.h"
#include "output/media_data_extent.h"
#include "output/repair_state.h"
#include "qt/atom_codecs.h"
#include "qt/movie_file.h"
#include "reference/reference_info.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Frames an encoder can owe its last packet and the padding behind it;
// anything longer is an edit the user made, not the encoder's remainder.
constexpr double kMaxTailFrames = 3;

size_t firstShownEdit(const MovieTrack& track) {
    size_t i = 0;
    while (i < track.m_editList.size() && track.m_editList[i].m_mediaTime == -1)
        ++i;
    return i;
}

uint32_t lastSampleDuration(const MovieTrack& track) {
    return track.m_timeToSample.empty() ? track.m_sampleDuration
                                        : track.m_timeToSample[track.m_timeToSample.size() - 1].m_duration;
}

// Where the track's samples end in media units. A muxer may count a delay
// that an empty edit gives into the media header's duration too.
double mediaEnd(const MovieTrack& track) {
    return double(track.m_timeToSample.empty() ? track.m_mediaDuration : qt::totalSampleDuration(track.m_timeToSample));
}

// Movie units until a track's last sample is shown: its edits, an edit of
// no length (a repaired track's, not yet completed) standing for the rest
// of the track, as does the edit that the movie's completion adds behind
// empty ones.
uint64_t shownUntil(const MovieTrack& track, uint32_t movieTimescale) {
    uint64_t sum = firstShownEdit(track) == track.m_editList.size() ? track.m_trackDuration : 0;
    for (size_t i = 0; i < track.m_editList.size(); ++i) {
        const EditListEntry& e = track.m_editList[i];
        if (e.m_trackDuration != 0 || e.m_mediaTime < 0 || track.m_mediaTimescale == 0) {
            sum += e.m_trackDuration;
            continue;
        }
        const uint64_t skipped = uint64_t(e.m_mediaTime) * movieTimescale / track.m_mediaTimescale;
        sum += track.m_trackDuration > skipped ? track.m_trackDuration - skipped : 0;
    }
    return sum;
}

// How the reference's sound ends its single shown edit.
struct SoundEdit {
    enum Kind { None, BeforeLastFrame, WithPictures } kind = None;
    // BeforeLastFrame: how far in media units the edit ends before the start
    // of the last frame (negative: inside it). WithPictures: how many media
    // units of sound it leaves out behind it.
    double units = 0;
};

// None where the edit shows all of the frames or leaves out more than an
// encoder's remainder. Sound that stops with the pictures (a muxer cutting
// both at one time, a phone that writes its encoder's last frames past
// them) ends with the repaired pictures.
SoundEdit referenceSoundEdit(const MovieTrack& source, const MovieTrack* pictures, uint32_t movieTimescale) {
    const size_t shown = firstShownEdit(source);
    if (shown + 1 != source.m_editList.size() || movieTimescale == 0 || source.m_mediaTimescale == 0)
        return {};
    const EditListEntry& e = source.m_editList[shown];
    const double end = double(e.m_mediaTime) + double(e.m_trackDuration) * source.m_mediaTimescale / movieTimescale;
    const double frame = std::max<uint32_t>(source.m_sampleDuration, 1);
    if (pictures && shownUntil(source, movieTimescale) == shownUntil(*pictures, movieTimescale)) {
        const double leftOut = mediaEnd(source) - end;
        return leftOut >= 1 && leftOut < kMaxTailFrames * frame ? SoundEdit{SoundEdit::WithPictures, leftOut}
                                                                : SoundEdit{};
    }
    // The last sample may be stored shorter than a frame (the edit's end);
    // the repaired one lasts a whole frame.
    const double wholeEnd = mediaEnd(source) - double(lastSampleDuration(source)) + frame;
    if (end + 0.5 >= wholeEnd || wholeEnd - end >= kMaxTailFrames * frame)
        return {};
    return {SoundEdit::BeforeLastFrame, wholeEnd - frame - end};
}

// Bytes the reference writes from one chunk of `source` to its next; 0 for
// a track in one chunk.
uint64_t widestChunkStride(const MovieTrack& source) {
    uint64_t widest = 0;
    for (size_t i = 1; i < source.m_chunkOffsets.size(); ++i)
        if (source.m_chunkOffsets[i] > source.m_chunkOffsets[i - 1])
            widest = std::max(widest, source.m_chunkOffsets[i] - source.m_chunkOffsets[i - 1]);
    return widest;
}

// In a cut recording: true when the only sound track ended well before the cut.
bool soundEndedBeforeCut(const RepairState& state, const MovieTrack& source, const MediaDataExtent& extent) {
    int64_t soundEnd = -1;
    for (size_t i = 0; i < state.m_samples.size(); ++i)
        if (state.m_samples[i].isAudio())
            soundEnd = std::max(soundEnd, state.m_samples[i].offset + state.m_samples[i].size);
    const int64_t cut = std::min(extent.end, extent.fileSize);
    return soundEnd > 0 && cut > soundEnd && uint64_t(cut - soundEnd) > 2 * widestChunkStride(source);
}

}  // namespace

void trimSoundTails(RepairState& state) {
    MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = state.m_reference && state.m_reference->isOpen() ? state.m_reference.get() : nullptr;
    if (!movie || !reference || movie->m_movieTimescale == 0 || state.m_samples.size() == 0)
        return;
    int64_t last = -1;
    for (size_t i = 0; i < state.m_samples.size(); ++i)
        last = std::max(last, state.m_samples[i].offset);
    MediaDataExtent extent;
    if (!findMediaDataExtent(state.m_inputFileName, last, extent))
        return;
    const uint32_t referenceTimescale = reference->movieParameters().m_timescale;
    for (int i = 0; i < movie->m_audioTrackCount; ++i) {
        MovieTrack* track = movie->m_audioTracks[i];
        const MovieTrack* source = reference->audioTrack(i);
        if (!track || !source || track->m_mediaTimescale != source->m_mediaTimescale)
            continue;
        const SoundEdit edit = referenceSoundEdit(*source, reference->videoTrack(), referenceTimescale);
        // Pictures that a cut ended say nothing of where the sound stops.
        const bool withPictures = edit.kind == SoundEdit::WithPictures;
        if (edit.kind == SoundEdit::None || (withPictures && (!movie->m_videoTrack || !extent.whole())))
            continue;
        // The last frames of a cut recording are sound, not the encoder's remainder.
        if (!extent.whole() && (movie->m_audioTrackCount != 1 || !soundEndedBeforeCut(state, *source, extent)))
            continue;
        const size_t shown = firstShownEdit(*track);
        const double start =
            shown < track->m_editList.size() ? double(std::max(track->m_editList[shown].m_mediaTime, 0)) : 0;
        double end = 0;
        if (!withPictures) {
            end = double(track->m_mediaDuration) - double(lastSampleDuration(*track)) - edit.units;
        } else {
            // The sound ends where the pictures do, when what runs past
            // them is no more than the reference's remainder and a frame.
            if (shown != 0)
                continue;
            const double pictures =
                double(shownUntil(*movie->m_videoTrack, movie->m_movieTimescale)) * track->m_mediaTimescale /
                movie->m_movieTimescale;
            const double frame = std::max<uint32_t>(track->m_sampleDuration, 1);
            const double past = double(track->m_mediaDuration) - start - pictures;
            if (past < 1 || past > edit.units + frame)
                continue;
            end = start + pictures;
        }
        if (end <= start)
            continue;
        const double units = std::floor((end - start) * movie->m_movieTimescale / track->m_mediaTimescale + 0.5);
        EditListEntry e;
        e.m_trackDuration = uint32_t(std::min<double>(units, std::numeric_limits<uint32_t>::max()));
        e.m_mediaTime = int32_t(start);
        e.m_mediaRate = 1.0;
        if (shown < track->m_editList.size())
            track->m_editList[shown] = e;
        else if (!track->m_editList.push_back(e))
            continue;
        FLOG(LogLevel::Notice) << "sound track " << i + 1 << " ends its edit at media time " << int64_t(end)
                               << ", as the reference ends before its encoder's last frames";
    }
}
