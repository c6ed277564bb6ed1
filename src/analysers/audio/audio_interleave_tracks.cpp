// AudioInterleave with several sound tracks in the reference: each track
// keeps its own state (expectation, carry, last good frame), and each gap is
// split into the tracks' frames before they are emitted.

#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/metadata_structure.h"
#include "analysers/audio/shared_gap_split.h"
#include "analysers/core/scan_info.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cmath>

namespace {

// The smallest AAC frame: digital silence encodes to frames of a few
// bytes whatever the reference's sound made its frames.
constexpr uint64_t kMinFrame = 4;
// Bytes a gap may leave unexplained at its end and still count as intact.
constexpr int64_t kEndSlack = 64;
// An AAC decoder's input buffer holds 6144 bits per channel: no frame is longer.
constexpr uint64_t kMaxFrameBytesPerChannel = 768;
// How much longer than the reference's longest a metadata chunk inside PCM
// may be, at the least.
constexpr int64_t kMetadataChunkSlack = 256;
// A timed-metadata chunk between two runs of MPEG audio frames is looked
// for in stretches up to this long: captions and telemetry are small.
constexpr int64_t kMaxMetadataStretch = 65536;
// Sound times closer than this are the same (sums of chunk durations).
constexpr double kSameTime = 1e-7;
// One sound track beside timed metadata: its samples carry no track word.
constexpr int32_t kNoTrackWord = -1;

}  // namespace

bool AudioInterleave::sharedGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !ref->interleaveCycle().sharedGaps())
        return false;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track || track->m_codec != makeFourcc("mp4a") || track->m_esds.m_decoderInfoLength == 0 ||
            bitstream::isMpegAudioObjectType(track->m_esds.m_objectType))
            return false;
    }
    return true;
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

void AudioInterleave::fillSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    const std::vector<AudioInterleave*> states = beginSharedGap(a);
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& cycle = ref->interleaveCycle().audioTracks();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();

    std::vector<SplitTrack> tracks;
    std::vector<int64_t> expected;
    std::vector<int64_t> tolerances;
    for (size_t i = 0; i < states.size() && i < cycle.size(); ++i) {
        const AudioInterleave& state = *states[i];
        const InterleaveTrack& learnt = cycle[i];
        const MovieTrack* source = ref->audioTrack(learnt.audioIndex);
        const InterleaveTiming timing = state.timing();
        SplitTrack track;
        track.config.decoderConfig = source->m_esds.m_decoderInfo;
        track.config.decoderConfigLength = source->m_esds.m_decoderInfoLength;
        track.minFrame = kMinFrame;
        // A decoder's input buffer bounds a frame whatever the reference's
        // sound: a silent reference's frames are a few bytes.
        track.maxFrame = std::max<uint64_t>({2 * uint64_t(learnt.maxSampleBytes), track.minFrame,
                                             kMaxFrameBytesPerChannel * std::max<uint64_t>(source->m_audioChannels, 1)});
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

    for (size_t m = 0; m < metadata.size() && m < m_metadataChunks.size(); ++m) {
        SplitTrack track;
        track.metadata = true;
        track.chunkSizes = metadata[m].chunkSizes;
        track.codec = metadata[m].codec;
        track.boxKeys = metadata[m].boxKeys;
        track.frameSeconds = metadata[m].sampleSeconds * std::max<uint32_t>(metadata[m].samplesPerChunk, 1);
        track.audioSeconds = double(m_metadataChunks[m]) * track.frameSeconds;
        tracks.push_back(track);
    }

    int64_t covered = a;
    SharedGapSplit splitter(std::move(tracks));
    splitter.setTailCut((flags & GapAtEnd) != 0);
    std::vector<SplitFrame> frames = (flags & GapStartGuessed) ? splitter.splitGuessedStart(input, a, b, covered)
                                                               : splitter.split(input, a, b, covered);
    if (twinTracks()) {
        const bool fresh = std::all_of(states.begin(), states.end(),
                                       [](const AudioInterleave* s) { return s->m_framesEmitted == 0; });
        dealTwinChunks(frames, states.size(), fresh, (flags & GapAtEnd) != 0);
    }
    int64_t explained = 0;
    for (const SplitFrame& f : frames)
        explained += f.size;
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
            emitMetadataChunk(input, f.track - int(states.size()), f.offset, f.size);
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
}

bool AudioInterleave::sharedMpegGaps() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || ref->interleaveCycle().audioTracks().size() < 2)
        return false;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track || !(track->m_codec == makeFourcc(".mp3") ||
                        (track->m_codec == makeFourcc("mp4a") && bitstream::isMpegAudioObjectType(track->m_esds.m_objectType))))
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
    const bool fresh = std::all_of(states.begin(), states.end(),
                                   [](const AudioInterleave* s) { return s->m_framesEmitted == 0; });

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
    if (!twins) {
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
        dealTwinChunks(frames, tracks, fresh, (flags & GapAtEnd) != 0);
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

bool AudioInterleave::twinTracks() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const ReferenceInterleaveCycle& cycle = ref->interleaveCycle();
    if (!cycle.oneChunkPerGap() || cycle.audioTracks().size() < 2)
        return false;
    const MovieTrack* first = ref->audioTrack(cycle.audioTracks().front().audioIndex);
    for (const InterleaveTrack& learnt : cycle.audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!first || !track || track->m_audioChannels != first->m_audioChannels ||
            track->m_esds.m_decoderInfoLength != first->m_esds.m_decoderInfoLength ||
            !std::equal(track->m_esds.m_decoderInfo, track->m_esds.m_decoderInfo + track->m_esds.m_decoderInfoLength,
                        first->m_esds.m_decoderInfo))
            return false;
    }
    return true;
}

void AudioInterleave::dealTwinChunks(std::vector<SplitFrame>& frames, size_t tracks, bool fresh, bool atEnd) {
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
        int64_t whole = 0, largest = 0;
        const bool known = m_twinChunkFrames.size() == tracks;
        for (size_t i = 0; known && i < tracks; ++i) {
            whole += m_twinChunkFrames[i];
            largest = std::max(largest, m_twinChunkFrames[i]);
        }
        // A recording cut past its gap's first chunk: whole chunks as last
        // time until the frames run out. Otherwise the tracks' chunks span
        // the same time: equal shares, in track order.
        const bool cutShort = atEnd && known && n > largest && n < whole;
        int64_t left = n;
        for (size_t i = 0; i < tracks; ++i) {
            const int64_t share = cutShort ? std::min(m_twinChunkFrames[i], left)
                                           : n / int64_t(tracks) + (int64_t(i) < n % int64_t(tracks) ? 1 : 0);
            chunks.emplace_back(i, share);
            left -= share;
        }
        if (!atEnd && !fresh) {
            m_twinChunkFrames.assign(tracks, 0);
            for (const auto& [track, count] : chunks)
                m_twinChunkFrames[track] = count;
        }
    }
    size_t next = 0;
    for (const auto& [track, count] : chunks)
        for (int64_t k = 0; k < count && next < sound.size(); ++k)
            sound[next++]->track = int(track);
}

bool AudioInterleave::takeMetadataStretch(ScanBuffer& input, int64_t at, int64_t length) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();
    if (metadata.empty() || length < 1 || length > kMaxMetadataStretch || at + length > input.fileSize())
        return false;
    m_metadataChunks.resize(metadata.size(), 0);
    const ByteBlock block = input.readBlock(at, int32_t(length));
    for (size_t m = 0; m < metadata.size(); ++m) {
        if (!metadataStructureDecides(metadata[m].codec))
            continue;
        const std::vector<int64_t> ends =
            metadataUnitEnds(metadata[m].codec, metadata[m].boxKeys, block.data(), int64_t(block.length()));
        if (!ends.empty() && ends.back() == length) {
            emitMetadataChunk(input, int(m), at, length);
            return true;
        }
    }
    return false;
}

void AudioInterleave::emitMetadataChunk(ScanBuffer& input, int metaTrack, int64_t offset, int64_t size) {
    const InterleaveTrack& learnt =
        m_repairState->m_reference->interleaveCycle().metadataTracks()[size_t(metaTrack)];
    ++m_metadataChunks[size_t(metaTrack)];
    // Caption samples show where they part: a chunk taken whole would be
    // read as its first sample, and the captions behind it lost.
    if (metadataStructureDecides(learnt.codec)) {
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

void AudioInterleave::fillSharedPcm(ScanBuffer& input, int64_t a, int64_t size, bool atEnd) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();
    m_metadataChunks.resize(metadata.size(), 0);
    struct Share {
        int word;
        int64_t frame;    // bytes of one sample frame
        int64_t chunk;    // bytes of the reference's typical chunk (0: unknown)
        double quota;     // bytes of this gap still owed to the track
        double byteRate;  // bytes per second
    };
    std::vector<Share> shares;
    double rates = 0;
    for (const InterleaveTrack& learnt : audio) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track)
            return;
        // A PCM track's samples are its sample frames; the sample size of an
        // old sound description says 16 bits for 24-bit audio.
        const int64_t frame = learnt.minSampleBytes == learnt.maxSampleBytes && learnt.minSampleBytes > 0
                                  ? int64_t(learnt.minSampleBytes)
                                  : std::max<int64_t>(track->m_audioChannels, 1) *
                                        std::max<int64_t>(track->m_audioSampleSize / 8, 1);
        const double rate = double(track->m_audioSampleRate > 0 ? track->m_audioSampleRate : track->m_mediaTimescale);
        const int64_t chunk = learnt.minSampleBytes == learnt.maxSampleBytes
                                  ? int64_t(learnt.samplesPerChunk) * learnt.minSampleBytes
                                  : 0;
        shares.push_back({audio.size() > 1 ? learnt.audioIndex : kNoTrackWord, frame, chunk, rate * double(frame),
                          rate * double(frame)});
        rates += rate * double(frame);
    }
    if (shares.empty() || rates <= 0 || size < 1 || a + size > input.fileSize())
        return;
    // The tracks' chunks cover the same stretch of time: each is owed the
    // gap's bytes in proportion to its byte rate.
    for (Share& share : shares)
        share.quota = share.quota / rates * double(size);

    const int64_t end = a + size;
    if (shares.size() == 1) {
        // One sound track beside timed metadata: the metadata chunks are
        // taken out and the rest is the sound.
        int64_t pos = a;
        for (const auto& [at, length] : pcmGapMetadata(input, a, size, shares.front().frame, audio.front().minChunkBytes)) {
            emitPcmPiece(input, pos, at - pos, shares.front().frame, kNoTrackWord);
            emitMetadataChunk(input, int(length >> 32), at, length & 0xFFFFFFFF);
            pos = at + (length & 0xFFFFFFFF);
        }
        emitPcmPiece(input, pos, end - pos, shares.front().frame, kNoTrackWord);
    } else {
        // Several tracks: a muxer interleaving by time writes next the chunk
        // of the track whose sound is furthest behind (the first track on a
        // tie).
        m_pcmSeconds.resize(shares.size(), 0);
        // A recorder that flushes all its tracks at once writes one chunk of
        // each, of equal length in time: the gap's bytes are shared out.
        // Muxers that interleave by time write packets in turns, whole.
        const bool packets = !ref->interleaveCycle().oneChunkPerGap();
        int64_t pos = a;
        // The first gap of a recording is laid out as the reference's first
        // gap, when it is as long: its order follows no rule of the later ones.
        const std::vector<GapChunk>& first = ref->interleaveCycle().firstGap();
        uint64_t firstBytes = 0;
        for (const GapChunk& c : first)
            firstBytes += c.bytes;
        const bool started = std::any_of(m_pcmSeconds.begin(), m_pcmSeconds.end(), [](double s) { return s > 0; });
        if (!started && !first.empty() && firstBytes == uint64_t(size)) {
            for (const GapChunk& c : first) {
                size_t i = 0;
                while (i < audio.size() && audio[i].audioIndex != c.audioIndex)
                    ++i;
                if (i == audio.size())
                    break;
                emitPcmPiece(input, pos, int64_t(c.bytes), shares[i].frame, shares[i].word);
                m_pcmSeconds[i] += double(c.bytes) / shares[i].byteRate;
                pos += int64_t(c.bytes);
            }
        }
        // Each track's whole chunk: what it took last, or before any the
        // reference's typical chunk.
        std::vector<int64_t> chunkOf(shares.size(), 0);
        int64_t whole = 0, largest = 0;
        for (size_t i = 0; i < shares.size(); ++i) {
            chunkOf[i] = i < m_pcmLastPiece.size() && m_pcmLastPiece[i] > 0 ? m_pcmLastPiece[i] : shares[i].chunk;
            whole += chunkOf[i];
            largest = std::max(largest, chunkOf[i]);
        }
        const bool cutShort = !packets && atEnd && largest > 0 &&
                              std::find(chunkOf.begin(), chunkOf.end(), 0) == chunkOf.end() && end - pos > largest &&
                              end - pos < whole;
        std::vector<bool> done(shares.size(), false);
        while (pos < end) {
            size_t next = shares.size();
            for (size_t i = 0; i < shares.size(); ++i)
                if (!done[i] && (next == shares.size() || m_pcmSeconds[i] < m_pcmSeconds[next] - kSameTime))
                    next = i;
            if (next == shares.size())
                break;
            Share& share = shares[next];
            // A gap of several chunks per track holds them in turns, whole;
            // a gap of one chunk per track shares out its bytes.
            // A gap of several of the reference's chunks per track (the
            // video in front ran that much longer) holds them in turns.
            const int64_t turns =
                share.chunk > 0 ? std::max<int64_t>(std::llround(share.quota / double(share.chunk)), 1) : 1;
            int64_t piece = packets ? std::min(share.chunk, end - pos)
                                    : std::min<int64_t>(int64_t(share.quota / double(turns) + 0.5), end - pos);
            // A recording cut in its last gap, past the first chunk: the
            // tracks' chunks were written whole one after the other, so each
            // takes what it took last time until the bytes run out. (A
            // recording that ended writes short chunks of equal length.)
            if (cutShort)
                piece = std::min(chunkOf[next], end - pos);
            piece -= piece % share.frame;
            if (piece < share.frame) {
                done[next] = true;
                continue;
            }
            emitPcmPiece(input, pos, piece, share.frame, share.word);
            if (!atEnd) {
                m_pcmLastPiece.resize(shares.size(), 0);
                m_pcmLastPiece[next] = piece;
            }
            share.quota -= double(piece);
            m_pcmSeconds[next] += double(piece) / share.byteRate;
            pos += piece;
        }
    }
    m_videoSinceAudio = 0;
    m_carry = 0;
}

void AudioInterleave::emitPcmPiece(ScanBuffer& input, int64_t offset, int64_t size, int64_t frame, int32_t word) {
    size -= size % std::max<int64_t>(frame, 1);
    if (size < 1)
        return;
    addAudioSample(*m_repairState, input, offset, int32_t(size), word);
    FLOG(LogLevel::Info) << m_logLabel << "pcm at " << offset << "  size=" << size << "  track=" << word;
}

std::vector<std::pair<int64_t, int64_t>> AudioInterleave::pcmGapMetadata(ScanBuffer& input, int64_t a, int64_t size,
                                                                          int64_t frame, int64_t chunk) const {
    std::vector<std::pair<int64_t, int64_t>> found;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();
    // Only a gap that whole sample frames cannot fill is searched: PCM
    // itself (silence, say) reads as a short caption now and then. A muxer
    // that cuts its PCM into packets of one size (the reference's smallest
    // chunk) leaves gaps of whole packets, so a gap they cannot fill holds
    // something else too, even where it is whole frames long (captions of
    // 16 bytes beside 4-byte frames).
    frame = std::max<int64_t>(frame, 1);
    const int64_t foreign = size % frame;
    const bool packets = chunk > frame && chunk % frame == 0;
    if ((foreign == 0 && (!packets || size % chunk == 0)) || size > INT32_MAX)
        return found;
    const ByteBlock block = input.readBlock(a, int32_t(size));
    const int64_t got = block.length();
    // Where a chunk of sound ends: at the gap's start, behind each whole
    // chunk of the reference's smallest (a muxer interleaving by time cuts
    // its PCM into packets of one size and joins some of them), or so that
    // the metadata ends the gap.
    std::vector<int64_t> starts{0};
    for (int64_t p = chunk; chunk > 0 && p < got; p += chunk)
        starts.push_back(p);
    for (size_t m = 0; m < metadata.size(); ++m) {
        const InterleaveTrack& learnt = metadata[m];
        if (!metadataStructureDecides(learnt.codec))
            continue;
        // Captions differ in length from the reference's: some slack.
        const int64_t longest = std::max<int64_t>(4 * int64_t(learnt.maxChunkBytes), kMetadataChunkSlack);
        std::vector<int64_t> candidates = starts;
        for (int64_t length = std::max<int64_t>(learnt.minChunkBytes, 1);
             length <= longest && length <= got; ++length)
            candidates.push_back(got - length);
        for (int64_t p : candidates) {
            const std::vector<int64_t> ends =
                metadataUnitEnds(learnt.codec, learnt.boxKeys, block.data() + p, got - p);
            for (auto e = ends.rbegin(); e != ends.rend(); ++e) {
                if (*e <= longest && (foreign - *e) % frame == 0 &&
                    (p % frame == 0 || p + *e == got)) {
                    found.emplace_back(a + p, (int64_t(m) << 32) | *e);
                    return found;
                }
            }
        }
    }
    return found;
}
