// AudioInterleave with several sound tracks in the reference: each track
// keeps its own state (expectation, carry, last good frame), and each gap is
// split into the tracks' frames before they are emitted.

#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/metadata_structure.h"
#include "analysers/audio/shared_gap_split.h"
#include "analysers/chunk/gap_video.h"
#include "analysers/core/scan_info.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "bitstream/mpeg4_audio/aac_config_alike.h"
#include "bitstream/mpeg4_audio/aac_frame_bands.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/audio_frame_duration.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The smallest AAC frame: digital silence encodes to frames of a few
// bytes whatever the reference's sound made its frames.
constexpr uint64_t kMinFrame = 4;
// The share of a gap's frames whose bands must name their track before
// the bands deal the gap out.
constexpr int64_t kNamedShareNum = 3, kNamedShareDen = 4;
// Bytes a gap may leave unexplained at its end and still count as intact.
constexpr int64_t kEndSlack = 64;
// An AAC decoder's input buffer holds 6144 bits per channel: no frame is longer.
constexpr uint64_t kMaxFrameBytesPerChannel = 768;
// A timed-metadata chunk between two runs of MPEG audio frames is looked
// for in stretches up to this long: captions and telemetry are small.
constexpr int64_t kMaxMetadataStretch = 65536;

// Muxers order chunks by decode time, and an encoder's priming frames (what
// the edit list skips) start a track this many seconds before zero.
double primingSeconds(const MovieTrack* track) {
    if (!track || track->m_editList.empty() || track->m_editList[0].m_mediaTime <= 0 || track->m_mediaTimescale == 0)
        return 0;
    return double(track->m_editList[0].m_mediaTime) / track->m_mediaTimescale;
}

// Frames a track must have found before their sizes tell its frames from
// another track's.
constexpr size_t kSizesToTell = 3;

// One sound track beside timed metadata: its samples carry no track word.
constexpr int32_t kNoTrackWord = -1;

// What the frames of the reference's i-th sound track in the interleave
// share, as its first frame's header gives it: its rate, and its channels
// where another MPEG audio track has that rate too. Nothing where the
// reference's frames did not say (their turns must tell the tracks apart).
MpegTrackFormat mpegTrackFormat(const std::vector<InterleaveTrack>& cycle, size_t i) {
    MpegTrackFormat format;
    format.sampleRate = cycle[i].mpegSampleRate;
    for (size_t j = 0; j < cycle.size(); ++j)
        if (j != i && cycle[j].mpegSampleRate == cycle[i].mpegSampleRate && cycle[j].mpegChannels != cycle[i].mpegChannels)
            format.channels = cycle[i].mpegChannels;
    return format;
}

}  // namespace

bool AudioInterleave::sharedGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !ref->interleaveCycle().sharedGaps())
        return false;
    // MPEG audio tracks beside AAC ones are split with them (their headers
    // give their frames); MPEG audio tracks on their own have a split of
    // their own.
    bool aac = false;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track)
            return false;
        if (isMpegAudioTrack(*track))
            continue;
        if (track->m_codec != makeFourcc("mp4a") || track->m_esds.m_decoderInfoLength == 0)
            return false;
        aac = true;
    }
    return aac;
}

void AudioInterleave::makeOtherTracks() {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    m_track = audio.front().audioIndex;
    m_word = audio.size() > 1 ? int32_t(m_track) : kNoTrackWord;
    for (size_t i = 1; i < audio.size(); ++i) {
        auto other = std::make_unique<AudioInterleave>(m_repairState, m_scanInfo, m_logLabel);
        other->m_track = audio[i].audioIndex;
        other->reset();
        other->m_word = int32_t(other->m_track);
        // The video counted before this gap is owed by every track alike.
        other->m_videoSinceAudio = m_videoSinceAudio;
        m_otherTracks.push_back(std::move(other));
    }
    m_metadataChunks.assign(ref->interleaveCycle().metadataTracks().size(), 0);
}

bool AudioInterleave::noSoundYet(const std::vector<AudioInterleave*>& states) {
    return std::all_of(states.begin(), states.end(), [](const AudioInterleave* s) { return s->m_framesEmitted == 0; });
}

std::vector<AudioInterleave*> AudioInterleave::beginSharedGap(int64_t a) {
    if (m_otherTracks.empty() && m_metadataChunks.empty())
        makeOtherTracks();
    if (m_scanInfo->gapStart() == 0)
        m_scanInfo->setGapStart(uint64_t(a));
    std::vector<AudioInterleave*> states{this};
    for (auto& other : m_otherTracks)
        states.push_back(other.get());
    return states;
}

std::vector<SplitFrame> AudioInterleave::splitSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags,
                                                        const std::vector<AudioInterleave*>& states,
                                                        std::vector<int64_t>& expected,
                                                        std::vector<int64_t>& tolerances, int64_t& covered,
                                                        int64_t& padding) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();

    std::vector<SplitTrack> tracks;
    expected.clear();
    tolerances.clear();
    const bool fresh = noSoundYet(states);
    for (size_t i = 0; i < states.size() && i < cycle.size(); ++i) {
        const AudioInterleave& state = *states[i];
        const InterleaveTrack& learnt = cycle[i];
        const MovieTrack* source = ref->audioTrack(learnt.audioIndex);
        const InterleaveTiming timing = state.timing();
        SplitTrack track;
        track.minFrame = kMinFrame;
        if (isMpegAudioTrack(*source)) {
            track.mpeg = true;
            track.mpegFormat = mpegTrackFormat(cycle, i);
            track.maxFrame = kMaxMpegFrameBytes;
        } else {
            track.config.decoderConfig = source->m_esds.m_decoderInfo;
            track.config.decoderConfigLength = source->m_esds.m_decoderInfoLength;
            // A decoder's input buffer bounds a frame whatever the reference's
            // sound: a silent reference's frames are a few bytes.
            track.maxFrame =
                std::max<uint64_t>({2 * uint64_t(learnt.maxSampleBytes), track.minFrame,
                                    kMaxFrameBytesPerChannel * std::max<uint64_t>(source->m_audioChannels, 1)});
        }
        track.heads = learnt.frameHeads;
        if (state.m_recentSizes.size() >= kSizesToTell) {
            const auto [least, most] = std::minmax_element(state.m_recentSizes.begin(), state.m_recentSizes.end());
            track.typicalMinFrame = uint64_t(*least);
            track.typicalMaxFrame = uint64_t(*most);
        }
        expected.push_back(expectedFrames(state.m_videoSinceAudio, timing, state.m_carry));
        tolerances.push_back(tolerance(timing));
        track.toleranceFrames = tolerances.back();
        // Recorders that write a run of frames per chunk put the interval's
        // audio in one chunk; ffmpeg's one frame per chunk alternates.
        // A recording's first chunks hold what the reference's first ones
        // do: the muxer closes them after as much sound, counted from each
        // track's first frame, which the video's time does not tell.
        const int64_t opening = fresh ? firstGapFrames(learnt.audioIndex) : 0;
        track.chunkFrames = learnt.samplesPerChunk <= 1 ? 1
                            : opening > 0           ? opening
                            : expected.back() > 0   ? expected.back()
                                                    : int64_t(learnt.samplesPerChunk);
        track.referenceChunkFrames = int64_t(learnt.samplesPerChunk);
        if (fresh)
            track.openingRank = openingRank(learnt.audioIndex);
        track.frameSeconds =
            timing.rateKnown ? timing.samplesPerFrame / timing.audioRate : learnt.sampleSeconds;
        track.audioSeconds = double(state.m_framesEmitted) * track.frameSeconds - primingSeconds(source);
        tracks.push_back(track);
    }
    // A muxer that writes the frame furthest behind in time next leaves
    // chunks no longer than another track's frame, or of one frame where
    // the track's frames are the longer ones.
    for (size_t i = 0; i < tracks.size() && tracks.size() > 1; ++i) {
        const double chunkSeconds = std::max<uint32_t>(cycle[i].samplesPerChunk, 1) * tracks[i].frameSeconds;
        tracks[i].byTime = cycle[i].samplesPerChunk == 1 ||
                           std::all_of(tracks.begin(), tracks.end(), [&](const SplitTrack& other) {
                               return &other == &tracks[i] || chunkSeconds <= other.frameSeconds * (1 + 1e-6);
                           });
    }

    addMetadataSplitTracks(tracks);

    covered = a;
    SharedGapSplit splitter(std::move(tracks));
    splitter.setTailCut((flags & GapAtEnd) != 0);
    splitter.setChunkPad(m_repairState->m_reference->layout().m_chunkPadBytes);
    std::vector<SplitFrame> frames;
    if (flags & GapStartGuessed) {
        frames = splitter.splitGuessedStart(input, a, b, covered);
    } else {
        if (m_gapVideo)
            splitter.setPictures([this](const uint8_t* data, int64_t n) { return m_gapVideo->samplesAt(data, n); });
        frames = splitter.split(input, a, b, covered);
    }
    padding = splitter.paddingSkipped();
    return frames;
}

std::vector<SplitFrame> AudioInterleave::takePictures(std::vector<SplitFrame>& frames) {
    const auto picture = [](const SplitFrame& f) { return f.track == SplitFrame::kPictures; };
    std::vector<SplitFrame> pictures;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(pictures), picture);
    frames.erase(std::remove_if(frames.begin(), frames.end(), picture), frames.end());
    return pictures;
}

void AudioInterleave::emitPictures(ScanBuffer& input, const std::vector<SplitFrame>& pictures) {
    for (const SplitFrame& p : pictures)
        m_gapVideo->emitSamplesFilling(input, p.offset, p.offset + p.size);
}

size_t AudioInterleave::emitPicturesAmidSharedGap(ScanBuffer& input, int64_t a, int64_t b) {
    // The split the gap's fill will make, for its pictures only.
    const std::vector<AudioInterleave*> states = beginSharedGap(a);
    std::vector<int64_t> expected, tolerances;
    int64_t covered = a, padding = 0;
    std::vector<SplitFrame> frames =
        splitSharedGap(input, a, b, GapPlain, states, expected, tolerances, covered, padding);
    const std::vector<SplitFrame> pictures = takePictures(frames);
    emitPictures(input, pictures);
    return pictures.size();
}

void AudioInterleave::fillSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    const std::vector<AudioInterleave*> states = beginSharedGap(a);
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const bool fresh = noSoundYet(states);
    std::vector<int64_t> expected, tolerances;
    int64_t covered = a, padding = 0;
    std::vector<SplitFrame> frames = splitSharedGap(input, a, b, flags, states, expected, tolerances, covered, padding);
    const std::vector<SplitFrame> pictures = takePictures(frames);
    if (twinTracks() && !bandsNameChunks(input, frames, states.size(), !fresh && !(flags & GapAtEnd)))
        dealTwinChunks(frames, states.size(), fresh, (flags & GapAtEnd) != 0, covered < b);
    int64_t explained = padding;
    for (const SplitFrame& f : frames)
        explained += f.size;
    for (const SplitFrame& p : pictures)
        explained += p.size;
    // Intact: the frames explain the gap but for the padding the reference
    // shows around its chunks (and, where the gap's start is a guess or it
    // runs to the end of the input, but for what lies before or after them).
    int64_t unexplained = (b - a) - explained;
    if (!frames.empty() && (flags & GapStartGuessed))
        unexplained -= frames.front().offset - a;
    if (flags & GapAtEnd)
        unexplained -= b - covered;
    const int64_t slack = int64_t(ref->layout().m_videoChunksStopGap) + ref->layout().m_audioChunksStopGap + kEndSlack;
    const bool intact = !frames.empty() && unexplained <= slack;
    // A few bytes between two video chunks are padding unless frames fill them.
    if (b - a < minGap() && (frames.empty() || unexplained > 0))
        return;

    std::vector<int64_t> found(states.size(), 0);
    for (const SplitFrame& f : frames) {
        if (size_t(f.track) >= states.size()) {
            emitSplitMetadata(input, f.track - int(states.size()), f.offset, f.size);
            continue;
        }
        states[size_t(f.track)]->emit(input, f.offset, f.size);
        ++found[size_t(f.track)];
        FLOG(LogLevel::Info) << m_logLabel << "a at " << f.offset << "  size=" << f.size << "  track=" << f.track;
    }
    if (!intact && b - covered > kEndSlack)
        FLOG(LogLevel::Info) << m_logLabel << "a shared gap unexplained from " << covered << " to " << b;

    for (size_t i = 0; i < expected.size(); ++i) {
        AudioInterleave& state = *states[i];
        int64_t take = found[i];
        // Damage took frames: copies of the last good one keep the track in
        // step. Behind the end of the input there is nothing to keep in step.
        if (!intact && !(flags & (GapStartGuessed | GapAtEnd)) && take + tolerances[i] < expected[i]) {
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
    // Pictures amid the sound are owed the next gap's sound. Amid a gap
    // filled behind its video they went out ahead of that video.
    if (!(flags & GapBehindVideo))
        emitPictures(input, pictures);
}

int AudioInterleave::openingRank(int audioIndex) const {
    const std::vector<GapChunk>& opening = m_repairState->m_reference->interleaveCycle().firstGap();
    for (size_t k = 0; k < opening.size(); ++k)
        if (opening[k].audioIndex == audioIndex)
            return int(k);
    return -1;
}

int64_t AudioInterleave::firstGapFrames(int audioIndex) const {
    for (const GapChunk& c : m_repairState->m_reference->interleaveCycle().firstGap())
        if (c.audioIndex == audioIndex)
            return c.open ? 0 : int64_t(c.samples);
    return 0;
}

void AudioInterleave::addMetadataSplitTracks(std::vector<SplitTrack>& tracks) {
    const std::vector<InterleaveTrack>& metadata = m_repairState->m_reference->interleaveCycle().metadataTracks();
    const int first = int(tracks.size());
    for (size_t m = 0; m < metadata.size() && m < m_metadataChunks.size(); ++m) {
        SplitTrack track;
        track.metadata = true;
        track.chunkSizes = m_metadataChunks[m] >= kOpeningMetadataChunks && !metadata[m].laterChunkSizes.empty()
                               ? metadata[m].laterChunkSizes
                               : metadata[m].chunkSizes;
        track.codec = metadata[m].codec;
        track.boxKeys = metadata[m].boxKeys;
        track.heads = metadata[m].frameHeads;
        if (metadata[m].touchingFollower >= 0 && size_t(metadata[m].touchingFollower) < m_metadataChunks.size())
            track.follower = first + metadata[m].touchingFollower;
        track.frameSeconds = metadata[m].sampleSeconds * std::max<uint32_t>(metadata[m].samplesPerChunk, 1);
        track.audioSeconds = double(m_metadataChunks[m]) * track.frameSeconds;
        tracks.push_back(track);
    }
    // A timecode's one sample between two chunks (a camera writes it in the
    // first gap, behind a descriptor chunk): what stands in front of it is
    // followed across it. The output places the sample by itself.
    const std::vector<InterleaveTrack>& single = m_repairState->m_reference->interleaveCycle().singleSampleTracks();
    m_singleSamplesPassed.resize(single.size(), false);
    m_splitSingles.clear();
    for (size_t k = 0; k < single.size(); ++k) {
        if (m_singleSamplesPassed[k])
            continue;
        SplitTrack track;
        track.metadata = true;
        track.chunkSizes = single[k].chunkSizes;
        track.codec = single[k].codec;
        track.heads = single[k].frameHeads;
        tracks.push_back(track);
        m_splitSingles.push_back(k);
    }
}

void AudioInterleave::emitSplitMetadata(ScanBuffer& input, int meta, int64_t offset, int64_t size) {
    const size_t interleaved = m_repairState->m_reference->interleaveCycle().metadataTracks().size();
    if (meta < 0 || size_t(meta) < interleaved) {
        emitMetadataChunk(input, meta, offset, size);
        return;
    }
    if (size_t(meta) - interleaved >= m_splitSingles.size())
        return;
    m_singleSamplesPassed[m_splitSingles[size_t(meta) - interleaved]] = true;
    FLOG(LogLevel::Info) << m_logLabel << "m one-sample track's sample passed at " << offset << "  size=" << size;
}

bool AudioInterleave::metadataOnlyGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    return ref && ref->interleaveCycle().audioTracks().empty() && !ref->interleaveCycle().metadataTracks().empty();
}

void AudioInterleave::fillMetadataGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    m_metadataChunks.resize(m_repairState->m_reference->interleaveCycle().metadataTracks().size(), 0);
    std::vector<SplitTrack> tracks;
    addMetadataSplitTracks(tracks);
    int64_t covered = a;
    SharedGapSplit splitter(std::move(tracks));
    splitter.setTailCut((flags & GapAtEnd) != 0);
    const std::vector<SplitFrame> chunks = (flags & GapStartGuessed) ? splitter.splitGuessedStart(input, a, b, covered)
                                                                     : splitter.split(input, a, b, covered);
    if (chunks.empty() && !(flags & GapStartGuessed) && captionBesidePictures(input, a, b))
        return;
    for (const SplitFrame& c : chunks)
        emitSplitMetadata(input, c.track, c.offset, c.size);
}

bool AudioInterleave::sharedMpegGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || ref->interleaveCycle().audioTracks().size() < 2)
        return false;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track || !isMpegAudioTrack(*track))
            return false;
    }
    return true;
}

void AudioInterleave::fillSharedMpeg(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    const std::vector<AudioInterleave*> states = beginSharedGap(a);
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();
    const size_t tracks = std::min(states.size(), cycle.size());

    std::vector<SplitFrame> frames;
    std::vector<std::pair<int64_t, int64_t>> between;  // stretches between runs of frames
    for (int64_t pos = a; b - pos >= minGap();) {
        FrameChain run;
        if (!resync(input, pos, b, 0, !frames.empty(), true, run) || frameCount(run) == 0)
            break;
        if (run.front() > pos && (!frames.empty() || !(flags & GapStartGuessed)))
            between.emplace_back(pos, run.front() - pos);
        for (size_t i = 0; i + 1 < run.size(); ++i)
            frames.push_back({-1, run[i], run[i + 1] - run[i]});
        pos = run.back();
    }
    const int64_t tail = frames.empty() ? a : frames.back().offset + frames.back().size;
    if (b > tail && !(flags & GapAtEnd))
        between.emplace_back(tail, b - tail);
    // A caption or other timed-metadata chunk interrupts the frames: the
    // stretch between two runs that its samples' structure fills exactly.
    for (const auto& [at, length] : between)
        takeMetadataStretch(input, at, length);
    if (frames.empty())
        return;
    const bool fresh = noSoundYet(states);

    // Each track's rate, and its channels where the rates do not tell the
    // tracks apart (an MP4 sound description says 2 channels for mono);
    // tracks that share both are twins.
    std::vector<std::pair<uint32_t, uint32_t>> format(tracks);
    for (size_t i = 0; i < tracks; ++i)
        format[i] = {ref->audioTrack(cycle[i].audioIndex)->m_audioSampleRate, 0};
    auto anyAlike = [&] {
        for (size_t i = 0; i < tracks; ++i)
            for (size_t j = i + 1; j < tracks; ++j)
                if (format[i] == format[j])
                    return true;
        return false;
    };
    const bool byChannels = anyAlike();
    if (byChannels)
        for (size_t i = 0; i < tracks; ++i)
            format[i].second = std::max<uint32_t>(ref->audioTrack(cycle[i].audioIndex)->m_audioChannels, 1);
    const bool twins = anyAlike();
    if (twins && framesNameTracks(frames, tracks)) {
        // Each frame went to the track its length names.
    } else if (!twins) {
        for (SplitFrame& f : frames) {
            const uint8_t* header = input.get(f.offset, 4);
            const std::optional<bitstream::MpegAudioHeader> h =
                input.available() >= 4 ? bitstream::parseMpegAudioHeader(header) : std::nullopt;
            f.track = 0;
            for (size_t i = 0; h && i < tracks; ++i)
                if (format[i] == std::make_pair(uint32_t(h->m_sampleRate), byChannels ? uint32_t(h->m_channels) : 0u))
                    f.track = int(i);
        }
    } else if (ref->interleaveCycle().oneChunkPerGap()) {
        for (SplitFrame& f : frames)
            f.track = 0;
        dealTwinChunks(frames, tracks, fresh, (flags & GapAtEnd) != 0, tail < b);
    } else {
        // A muxer interleaving by time writes next the frame of the track
        // furthest behind, the first track on a tie.
        std::vector<int64_t> count(tracks);
        for (size_t i = 0; i < tracks; ++i)
            count[i] = states[i]->m_framesEmitted;
        for (SplitFrame& f : frames) {
            const size_t next = size_t(std::min_element(count.begin(), count.end()) - count.begin());
            f.track = int(next);
            ++count[next];
        }
    }
    std::vector<int64_t> found(tracks, 0);
    for (const SplitFrame& f : frames) {
        states[size_t(f.track)]->emit(input, f.offset, f.size);
        ++found[size_t(f.track)];
        FLOG(LogLevel::Info) << m_logLabel << "a at " << f.offset << "  size=" << f.size << "  track=" << f.track;
    }
    for (size_t i = 0; i < tracks; ++i)
        if (found[i] > 0 || states[i]->m_videoSinceAudio > 0)
            states[i]->takeCarry(found[i]);
}

bool AudioInterleave::framesNameTracks(std::vector<SplitFrame>& frames, size_t tracks) const {
    // Tracks of one rate and layout but of different bitrates: a frame's
    // length follows from its header's bitrate index, so where the
    // reference's tracks' frame lengths do not overlap, a frame's length
    // names its track whatever order the muxer wrote the frames in.
    const std::vector<InterleaveTrack>& cycle = m_repairState->m_reference->interleaveCycle().audioTracks();
    for (size_t i = 0; i < tracks; ++i) {
        if (cycle[i].minSampleBytes == 0)
            return false;
        for (size_t j = i + 1; j < tracks; ++j)
            if (cycle[i].minSampleBytes <= cycle[j].maxSampleBytes && cycle[j].minSampleBytes <= cycle[i].maxSampleBytes)
                return false;
    }
    std::vector<int> owner(frames.size(), -1);
    for (size_t k = 0; k < frames.size(); ++k) {
        for (size_t i = 0; i < tracks; ++i)
            if (uint64_t(frames[k].size) >= cycle[i].minSampleBytes && uint64_t(frames[k].size) <= cycle[i].maxSampleBytes)
                owner[k] = int(i);
        // A frame of a length no track writes: damage, or a variable
        // bitrate the reference did not show; the order must decide.
        if (owner[k] < 0)
            return false;
    }
    for (size_t k = 0; k < frames.size(); ++k)
        frames[k].track = owner[k];
    return true;
}

bool AudioInterleave::twinTracks() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const ReferenceInterleaveCycle& cycle = ref->interleaveCycle();
    if (!cycle.oneChunkPerGap() || cycle.audioTracks().size() < 2)
        return false;
    const MovieTrack* first = ref->audioTrack(cycle.audioTracks().front().audioIndex);
    // The fewest bands a track's frames code at most, in the reference: a
    // track at 32 kHz and one at 48 take each other's frames below the top.
    int codedBands = bitstream::kCodedBandsUnknown;
    for (const InterleaveTrack& learnt : cycle.audioTracks()) {
        int most = int(learnt.longWindowBands.size()) - 1;
        while (most >= 0 && !learnt.longWindowBands.test(size_t(most)))
            --most;
        if (most >= 0)
            codedBands = std::min(codedBands, most);
    }
    for (const InterleaveTrack& learnt : cycle.audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        // Tracks at 44.1 and 48 kHz of one layout decode each other's
        // frames just as well: only their chunks' order tells them apart.
        if (!first || !track || track->m_audioChannels != first->m_audioChannels ||
            !bitstream::aacConfigsDecodeAlike(track->m_esds.m_decoderInfo, track->m_esds.m_decoderInfoLength,
                                              first->m_esds.m_decoderInfo, first->m_esds.m_decoderInfoLength,
                                              codedBands))
            return false;
    }
    return true;
}

bool AudioInterleave::bandsNameChunks(ScanBuffer& input, std::vector<SplitFrame>& frames, size_t tracks,
                                      bool wholeGap) {
    // A muxer orders two tracks' chunks by their first frames' times, which
    // differ by less than a frame: counted times cannot tell which comes
    // first, nor where one ends. The bands a frame codes can.
    const std::vector<InterleaveTrack>& cycle = m_repairState->m_reference->interleaveCycle().audioTracks();
    if (tracks > cycle.size())
        return false;
    // Only encoders whose band counts never meet in the reference tell
    // their frames apart; and where many frames do not say, a whole chunk
    // of them could hide among another track's.
    for (size_t i = 0; i < tracks; ++i) {
        if (cycle[i].longWindowBands.none())
            return false;
        for (size_t j = i + 1; j < tracks; ++j)
            if ((cycle[i].longWindowBands & cycle[j].longWindowBands).any())
                return false;
    }
    std::vector<int> owner(frames.size(), -1);
    // Whether the sound frame behind frame k names track `track` too.
    auto nextSoundNamed = [&](size_t k, int track) {
        for (size_t n = k + 1; n < frames.size(); ++n)
            if (size_t(frames[n].track) < tracks)
                return owner[n] == track;
        return false;
    };
    int current = -1;
    int64_t sound = 0, named = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (size_t(frames[k].track) >= tracks)
            continue;
        ++sound;
        const uint8_t* head = input.get(frames[k].offset, 4);
        const int bands = input.available() >= 4 ? bitstream::aacLongWindowBands(head, 4) : -1;
        for (size_t i = 0; bands >= 0 && i < tracks; ++i)
            if (cycle[i].longWindowBands.test(size_t(bands)))
                owner[k] = int(i);
        if (owner[k] >= 0) {
            ++named;
            if (current < 0)
                current = owner[k];
        }
    }
    if (current < 0 || named * kNamedShareDen < sound * kNamedShareNum)
        return false;
    // Frames that do not say (an encoder's first frames, short windows)
    // go with the run they are in; between two tracks' runs they leave the
    // border unknown. A track comes back in one gap where ffmpeg's
    // interleaver closes a short chunk of it in front of another track's
    // (when the sound stops before the pictures); that takes its next
    // sound frame saying so too, as one stray frame could not.
    std::vector<bool> seen(tracks, false);
    seen[size_t(current)] = true;
    bool lastNamed = true;
    for (size_t k = 0; k < frames.size(); ++k) {
        if (size_t(frames[k].track) >= tracks)
            continue;
        if (owner[k] >= 0 && owner[k] != current) {
            if (!lastNamed || (seen[size_t(owner[k])] && !nextSoundNamed(k, owner[k])))
                return false;
            current = owner[k];
            seen[size_t(current)] = true;
        }
        lastNamed = owner[k] >= 0;
        owner[k] = current;
    }
    std::vector<int64_t> counts(tracks, 0);
    for (size_t k = 0; k < frames.size(); ++k)
        if (size_t(frames[k].track) < tracks) {
            frames[k].track = owner[k];
            ++counts[size_t(owner[k])];
        }
    if (wholeGap)
        m_twinChunkFrames = counts;
    return true;
}

std::vector<double> AudioInterleave::twinSeconds(size_t tracks) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();
    std::vector<double> seconds(tracks, 0.0);
    for (size_t i = 0; i < tracks && i < cycle.size(); ++i) {
        const AudioInterleave* state = i == 0 ? this : m_otherTracks[i - 1].get();
        const MovieTrack* source = ref->audioTrack(cycle[i].audioIndex);
        seconds[i] = double(state->m_framesEmitted) * cycle[i].sampleSeconds - primingSeconds(source);
    }
    return seconds;
}

std::vector<int64_t> AudioInterleave::timeShares(int64_t n, const std::vector<double>& seconds) const {
    const std::vector<InterleaveTrack>& cycle = m_repairState->m_reference->interleaveCycle().audioTracks();
    const size_t tracks = seconds.size();
    // Frames per second of each track.
    std::vector<double> rate(tracks, 1.0);
    for (size_t i = 0; i < tracks && i < cycle.size(); ++i)
        if (cycle[i].sampleSeconds > 0)
            rate[i] = 1.0 / cycle[i].sampleSeconds;
    // The moment the gap's chunks all reach: n frames make up what each
    // track is behind it.
    double rates = 0, owed = 0;
    for (size_t i = 0; i < tracks; ++i)
        rates += rate[i], owed += seconds[i] * rate[i];
    const double end = (double(n) + owed) / rates;
    // Whole frames each; what rounding down leaves goes to the largest
    // remainders, the first track on a tie (for tracks of one rate and
    // time, the first n % tracks take one more).
    std::vector<int64_t> shares(tracks);
    std::vector<std::pair<double, size_t>> remainders;
    int64_t given = 0;
    for (size_t i = 0; i < tracks; ++i) {
        const double exact = std::clamp((end - seconds[i]) * rate[i], 0.0, double(n - given));
        shares[i] = int64_t(std::floor(exact + 1e-6));
        given += shares[i];
        remainders.emplace_back(exact - double(shares[i]), i);
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first + 1e-6; });
    for (size_t k = 0; given < n && k < remainders.size(); ++k, ++given)
        ++shares[remainders[k].second];
    return shares;
}

void AudioInterleave::dealTwinChunks(std::vector<SplitFrame>& frames, size_t tracks, bool fresh, bool atEnd,
                                     bool partLeft) {
    std::vector<SplitFrame*> sound;
    for (SplitFrame& f : frames)
        if (size_t(f.track) < tracks)
            sound.push_back(&f);
    const int64_t n = int64_t(sound.size());
    if (n == 0)
        return;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();
    // (track, frames) in file order.
    std::vector<std::pair<size_t, int64_t>> chunks;
    const std::vector<GapChunk>& first = ref->interleaveCycle().firstGap();
    int64_t firstFrames = 0;
    for (const GapChunk& c : first)
        firstFrames += int64_t(c.samples);
    if (fresh && firstFrames == n) {
        // The recording opens as the reference does.
        for (const GapChunk& c : first)
            for (size_t i = 0; i < cycle.size() && i < tracks; ++i)
                if (cycle[i].audioIndex == c.audioIndex)
                    chunks.emplace_back(i, int64_t(c.samples));
    } else {
        // The chunks of the last whole gap; before one was seen, those the
        // reference's chunks mostly hold.
        std::vector<int64_t> chunkFrames = m_twinChunkFrames;
        if (chunkFrames.size() != tracks) {
            chunkFrames.assign(tracks, 0);
            for (size_t i = 0; i < tracks && i < cycle.size(); ++i)
                chunkFrames[i] = int64_t(cycle[i].samplesPerChunk);
        }
        const int64_t whole = std::accumulate(chunkFrames.begin(), chunkFrames.end(), int64_t(0));
        // A recording cut inside its last gap: whole chunks as last time
        // until the frames run out. The cut leaves part of a frame behind
        // the last whole one; where the frames fill the input to its end the
        // recording stopped there instead, and its last chunks are shorter
        // than a full cycle's. Otherwise the tracks' chunks reach the same
        // time. A chunk goes where its first frame's time puts it: the
        // track furthest behind first, the first track on a tie.
        const bool cutShort = atEnd && partLeft && n < whole;
        const std::vector<double> seconds = twinSeconds(tracks);
        const std::vector<int64_t> shares = timeShares(n, seconds);
        std::vector<size_t> order(tracks);
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t x, size_t y) { return seconds[x] < seconds[y] - 1e-6; });
        // ffmpeg's interleaver may put a video chunk between two tracks'
        // chunks of one round: a gap whose frames make about one chunk of
        // the track furthest behind, far fewer than a round, is its alone.
        const size_t behind = order.front();
        const int64_t own = behind < cycle.size() ? int64_t(cycle[behind].samplesPerChunk) : 0;
        int64_t others = 0;
        for (size_t i = 0; i < tracks && i < cycle.size(); ++i)
            others += i == behind ? 0 : int64_t(cycle[i].samplesPerChunk);
        const int64_t slack = 1 + own / 16;
        if (!fresh && !atEnd && own > 1 && std::abs(n - own) <= slack && n + slack < own + others / 2) {
            chunks.emplace_back(behind, n);
        } else {
            int64_t left = n;
            for (size_t i : order) {
                const int64_t share = cutShort ? std::min(chunkFrames[i], left) : shares[i];
                chunks.emplace_back(i, share);
                left -= share;
            }
            if (!atEnd && !fresh) {
                m_twinChunkFrames.assign(tracks, 0);
                for (const auto& [track, count] : chunks)
                    m_twinChunkFrames[track] = count;
            }
        }
    }
    size_t next = 0;
    for (const auto& [track, count] : chunks)
        for (int64_t k = 0; k < count && next < sound.size(); ++k)
            sound[next++]->track = int(track);
}

int AudioInterleave::metadataStretchTrack(ScanBuffer& input, int64_t at, int64_t length) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();
    if (metadata.empty() || length < 1 || length > kMaxMetadataStretch || at + length > input.fileSize())
        return -1;
    const ByteBlock block = input.readBlock(at, int32_t(length));
    for (size_t m = 0; m < metadata.size(); ++m) {
        if (!metadataStructureDecides(metadata[m].codec))
            continue;
        const std::vector<int64_t> ends =
            metadataUnitEnds(metadata[m].codec, metadata[m].boxKeys, block.data(), int64_t(block.length()));
        if (!ends.empty() && ends.back() == length)
            return int(m);
    }
    return -1;
}

bool AudioInterleave::takeMetadataStretch(ScanBuffer& input, int64_t at, int64_t length) {
    const int track = metadataStretchTrack(input, at, length);
    if (track < 0)
        return false;
    m_metadataChunks.resize(m_repairState->m_reference->interleaveCycle().metadataTracks().size(), 0);
    emitMetadataChunk(input, track, at, length);
    return true;
}

bool AudioInterleave::captionBesidePictures(ScanBuffer& input, int64_t a, int64_t b) {
    if (!m_gapVideo || b - a > kMaxMetadataStretch)
        return false;
    const std::vector<InterleaveTrack>& metadata = m_repairState->m_reference->interleaveCycle().metadataTracks();
    const ByteBlock block = input.readBlock(a, int32_t(b - a));
    // The caption chunk first, then the pictures the chunk search passed
    // over for their size...
    for (size_t m = 0; m < metadata.size(); ++m) {
        if (!metadataStructureDecides(metadata[m].codec))
            continue;
        for (int64_t end : metadataUnitEnds(metadata[m].codec, metadata[m].boxKeys, block.data(), block.length())) {
            if (end >= b - a || !m_gapVideo->samplesFill(input, a + end, b))
                continue;
            emitMetadataChunk(input, int(m), a, end);
            m_gapVideo->emitSamplesFilling(input, a + end, b);
            return true;
        }
    }
    // ...or the pictures first.
    const int64_t pictures = m_gapVideo->samplesFrom(input, a, b);
    if (pictures <= 0 || pictures >= b - a || metadataStretchTrack(input, a + pictures, b - a - pictures) < 0)
        return false;
    m_gapVideo->emitSamplesFilling(input, a, a + pictures);
    return takeMetadataStretch(input, a + pictures, b - a - pictures);
}

bool AudioInterleave::audioThenCaption(ScanBuffer& input, int64_t from, int64_t to, bool mpeg, FrameChain& run) {
    if (to - from < minGap() || m_repairState->m_reference->interleaveCycle().metadataTracks().empty())
        return false;
    FrameChain found;
    if (!resync(input, from, to, 0, false, mpeg, found) || found.front() != from || found.back() >= to ||
        metadataStretchTrack(input, found.back(), to - found.back()) < 0)
        return false;
    run = std::move(found);
    return true;
}

void AudioInterleave::emitMetadataChunk(ScanBuffer& input, int metaTrack, int64_t offset, int64_t size) {
    const InterleaveTrack& learnt =
        m_repairState->m_reference->interleaveCycle().metadataTracks()[size_t(metaTrack)];
    ++m_metadataChunks[size_t(metaTrack)];
    // Caption samples show where they part: a chunk taken whole would be
    // read as its first sample, and the captions behind it lost. So do
    // sensor samples of one box each.
    if (metadataStructureDecides(learnt.codec) || learnt.oneBoxPerSample) {
        const ByteBlock block = input.readBlock(offset, int32_t(size));
        const std::vector<int64_t> ends =
            metadataUnitEnds(learnt.codec, learnt.boxKeys, block.data(), int64_t(block.length()));
        if (!ends.empty() && ends.back() == size) {
            int64_t at = 0;
            for (int64_t end : ends) {
                addMetaSample(*m_repairState, input, offset + at, int32_t(end - at), metaTrack);
                at = end;
            }
            FLOG(LogLevel::Info) << m_logLabel << "m at " << offset << "  size=" << size << "  track=" << metaTrack;
            return;
        }
    }
    // Samples of one size split the chunk; otherwise the chunk is taken as
    // one sample, since nothing tells where its samples part.
    int64_t sample = size;
    if (learnt.minSampleBytes == learnt.maxSampleBytes && learnt.minSampleBytes > 0 &&
        size % int64_t(learnt.minSampleBytes) == 0)
        sample = learnt.minSampleBytes;
    for (int64_t at = offset; at < offset + size; at += sample)
        addMetaSample(*m_repairState, input, at, int32_t(sample), metaTrack);
    FLOG(LogLevel::Info) << m_logLabel << "m at " << offset << "  size=" << size << "  track=" << metaTrack;
}
