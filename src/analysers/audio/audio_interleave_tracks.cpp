// AudioInterleave with several sound tracks in the reference: each track
// keeps its own state (expectation, carry, last good frame), and each gap is
// split into the tracks' frames before they are emitted.

#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/shared_gap_split.h"
#include "analysers/core/scan_info.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "qt/movie_track.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>

namespace {

// Frames smaller than this are never real AAC frames of a recorder.
constexpr uint64_t kMinFrame = 20;
// Bytes a gap may leave unexplained at its end and still count as intact.
constexpr int64_t kEndSlack = 64;
// MPEG-1/2 audio object type indications of an esds with the bit that tells
// them apart cleared: those tracks hold MPEG audio, not AAC.
constexpr uint8_t kMpegAudioObjectType = 0x69;

}  // namespace

bool AudioInterleave::sharedGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !ref->interleaveCycle().sharedGaps())
        return false;
    const size_t tracks = ref->interleaveCycle().audioTracks().size();
    for (size_t i = 0; i < tracks; ++i) {
        const MovieTrack* track = ref->audioTrack(int(i));
        if (!track || track->m_codec != makeFourcc("mp4a") || track->m_esds.m_decoderInfoLength == 0 ||
            (track->m_esds.m_objectType & ~0x02) == kMpegAudioObjectType)
            return false;
    }
    return true;
}

void AudioInterleave::makeOtherTracks() {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const size_t tracks = ref->interleaveCycle().audioTracks().size();
    m_word = 0;
    for (size_t i = 1; i < tracks; ++i) {
        auto other = std::make_unique<AudioInterleave>(m_repairState, m_scanInfo, m_logLabel);
        other->m_track = int(i);
        other->reset();
        other->m_word = int32_t(i);
        // The video counted before this gap is owed by every track alike.
        other->m_videoSinceAudio = m_videoSinceAudio;
        m_otherTracks.push_back(std::move(other));
    }
}

void AudioInterleave::fillSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    if (m_otherTracks.empty())
        makeOtherTracks();
    if (m_scanInfo->gapStart() == 0)
        m_scanInfo->setGapStart(uint64_t(a));
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();

    std::vector<AudioInterleave*> states{this};
    for (auto& other : m_otherTracks)
        states.push_back(other.get());
    std::vector<SplitTrack> tracks;
    std::vector<int64_t> expected;
    std::vector<int64_t> tolerances;
    for (size_t i = 0; i < states.size() && i < cycle.size(); ++i) {
        const AudioInterleave& state = *states[i];
        const InterleaveTrack& learnt = cycle[i];
        const MovieTrack* source = ref->audioTrack(int(i));
        const InterleaveTiming timing = state.timing();
        SplitTrack track;
        track.config.decoderConfig = source->m_esds.m_decoderInfo;
        track.config.decoderConfigLength = source->m_esds.m_decoderInfoLength;
        track.minFrame = std::max<uint64_t>(learnt.minSampleBytes / 2, kMinFrame);
        track.maxFrame = std::max<uint64_t>(2 * uint64_t(learnt.maxSampleBytes), track.minFrame);
        track.heads = learnt.frameHeads;
        expected.push_back(expectedFrames(state.m_videoSinceAudio, timing, state.m_carry));
        tolerances.push_back(tolerance(timing));
        // Recorders that write a run of frames per chunk put the interval's
        // audio in one chunk; ffmpeg's one frame per chunk alternates.
        track.chunkFrames = learnt.samplesPerChunk <= 1 ? 1
                            : expected.back() > 0   ? expected.back()
                                                    : int64_t(learnt.samplesPerChunk);
        track.frameSeconds =
            timing.rateKnown ? timing.samplesPerFrame / timing.audioRate : learnt.sampleSeconds;
        // Muxers order chunks by decode time, and an encoder's priming
        // frames (what the edit list skips) start a track before zero.
        double priming = 0;
        if (!source->m_editList.empty() && source->m_editList[0].m_mediaTime > 0 && source->m_mediaTimescale > 0)
            priming = double(source->m_editList[0].m_mediaTime) / source->m_mediaTimescale;
        track.audioSeconds = double(state.m_framesEmitted) * track.frameSeconds - priming;
        tracks.push_back(track);
    }

    int64_t covered = a;
    SharedGapSplit splitter(std::move(tracks));
    const std::vector<SplitFrame> frames = (flags & GapStartGuessed) ? splitter.splitGuessedStart(input, a, b, covered)
                                                                     : splitter.split(input, a, b, covered);
    std::vector<int64_t> found(states.size(), 0);
    for (const SplitFrame& f : frames) {
        states[size_t(f.track)]->emit(input, f.offset, f.size);
        ++found[size_t(f.track)];
        FLOG(LogLevel::Info) << m_logLabel << "a at " << f.offset << "  size=" << f.size << "  track=" << f.track;
    }
    const int64_t g1 = ref->layout().m_videoChunksStopGap;
    const int64_t g3 = ref->layout().m_audioChunksStopGap;
    const bool intact = frames.empty() ? false
                                       : (frames.front().offset - a <= g1 + g3 + kEndSlack ||
                                          (flags & GapStartGuessed)) &&
                                             (b - covered <= g1 + g3 + kEndSlack || (flags & GapAtEnd));
    if (!intact && b - covered > kEndSlack)
        FLOG(LogLevel::Info) << m_logLabel << "a shared gap unexplained from " << covered << " to " << b;

    for (size_t i = 0; i < expected.size(); ++i) {
        AudioInterleave& state = *states[i];
        int64_t take = found[i];
        // Damage took frames: copies of the last good one keep the track in step.
        if (!intact && !(flags & GapStartGuessed) && take + tolerances[i] < expected[i]) {
            while (take < expected[i] && state.repeatLast(input))
                ++take;
            FLOG(LogLevel::Info) << m_logLabel << "a track " << i << " filled to " << take << " expected=" << expected[i];
        }
        if (take == 0 && state.m_videoSinceAudio == 0)
            continue;
        state.takeCarry(take);
        if (intact)
            state.m_carry = std::clamp(state.m_carry, -double(tolerances[i]), double(tolerances[i]));
    }
}
