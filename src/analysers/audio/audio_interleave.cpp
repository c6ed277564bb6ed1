#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/metadata_structure.h"
#include "analysers/audio/mpeg_audio_frame.h"
#include "analysers/chunk/gap_video.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/audio_frame_duration.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/sound_codecs.h"
#include "reference/video_parameters.h"

#include <algorithm>
#include <numeric>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <system_error>

namespace {

// The shortest video sample: one length field and a slice of a few bytes.
constexpr int64_t kMinVideoStretch = 6;
// Gaps this short cannot hold an audio frame worth finding, unless the
// reference's own frames are that small (digital silence).
constexpr int64_t kMinGap = 33;
// Resync looks for the start of the audio in the first 4 KiB of a gap (or
// one audio stop gap plus 1 KiB, when the reference pads its audio chunks),
// and follows each candidate run for at most 1 MiB.
constexpr int64_t kResyncSpan = 4096;
constexpr int64_t kResyncStopGapSlack = 1024;
constexpr int64_t kResyncRunBytes = 1 << 20;
// Each AAC candidate start needs a decoder of its own, and setting one up
// costs some fifty times a frame's decoding: a gap's search tries at most
// this many starts in rank order (a damaged stretch of video data would
// otherwise cost a set-up at nearly every byte).
constexpr int kResyncStartBudget = 256;
// Frames whose sizes show what a track's sound is like lately: about a
// second of the common rates.
constexpr size_t kRecentSizes = 32;
// Frames smaller than this are never real AAC frames of a recorder.
constexpr uint64_t kMinAudioFrame = 20;
constexpr uint64_t kMaxAudioFrame = 4294967295u;
// An AAC frame of digital silence takes 3-4 bytes a channel; any sound at
// all, even at the lowest bit rates, takes several times that.
constexpr uint64_t kSilentFrameBytesPerChannel = 8;
// The fewest bytes a frame of digital silence takes a channel, and the
// fewest a gap must hold to be searched for one.
constexpr int64_t kSilentFrameMinBytesPerChannel = 3;
constexpr int64_t kMinSilentGap = 4;
// Bytes a gap may hold beyond its frames and the reference's padding and
// still count as intact; also how close to the gap end a lone frame must end.
constexpr int64_t kRunEndSlack = 64;
// Lone frames amid damage passed over in one gap before the search gives up
// on the rest of it.
constexpr int64_t kMaxLoneFrames = 4;
// Below any score a candidate can reach.
constexpr int64_t kNoScore = -1073741823;
// Samples per frame when the reference track does not say: AAC's 1024 and
// MPEG-1 layer III's 1152.
constexpr double kAacFrameSamples = 1024;
constexpr double kMpegFrameSamples = 1152;
// A PCM gap up to this many reference audio cycles long is audio alone.
constexpr int64_t kPcmGapCycles = 2;
// Audio samples of the interleave carry no track word.
constexpr int32_t kAudioWordNone = -1;

}  // namespace

void AudioInterleave::reset() {
    m_prefetch.reset();  // its measures are of the last scan's gaps
    m_videoSinceAudio = 0;
    m_carry = 0;
    m_minFrameSize = kMinAudioFrame;
    m_maxFrameSize = kMaxAudioFrame;
    m_firstBytes.reset();
    m_silentReference = false;
    m_sizeRangeOf = nullptr;
    m_mediaDataStart = -1;
    m_lastOffset = 0;
    m_lastSize = 0;
    m_framesEmitted = 0;
    m_otherTracks.clear();
    m_metadataChunks.clear();
    m_singleSamplesPassed.clear();
    m_splitSingles.clear();
    m_pcmSeconds.clear();
    m_pcmEnded.clear();
    m_pcmLastPiece.clear();
    m_pcmChunkFrames = 0;
    m_pcmChunksNoted = 0;
    m_pcmChunkSizes.clear();
    m_twinChunkFrames.clear();
    m_recentSizes.clear();
    if (m_track == 0)
        m_word = kAudioWordNone;
}

InterleaveTiming AudioInterleave::timing() const {
    InterleaveTiming t;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const MovieTrack* audioTrack = ref ? ref->audioTrack(m_track) : nullptr;
    const AudioParameters& audio = *m_repairState->m_audio;
    const VideoParameters& video = *m_repairState->m_video;
    // A sound description holds the rate in 16 bits: a track above 65535 Hz
    // (AAC at 88.2 or 96 kHz) writes 0 there, and only its media timescale
    // tells the rate; the working parameters then hold a mere default.
    const bool described = audioTrack && audioTrack->m_audioSampleRate > 0;
    if (audioTrack && (m_track > 0 || (!described && audioTrack->m_mediaTimescale > 0)))
        t.audioRate = described ? audioTrack->m_audioSampleRate : audioTrack->m_mediaTimescale;
    else if (audio.m_sampleRate > 0)
        t.audioRate = audio.m_sampleRate;
    else if (audioTrack)
        t.audioRate = audioTrack->m_mediaTimescale;
    t.rateKnown = t.audioRate > 0;
    const std::string& codec = ref && !ref->audio().m_codec.empty() ? ref->audio().m_codec : audio.m_codec;
    if (codec == "mp4a" || codec == ".mp3") {
        const double fallback = mpegAudio() ? kMpegFrameSamples : kAacFrameSamples;
        // What a frame holds, never one table entry: a muxer on a
        // millisecond clock gives 96 kHz frames 1056 and 960 ticks in turn.
        const uint32_t frame =
            audioTrack && t.audioRate > 0 ? audioFrameDuration(*audioTrack, uint32_t(t.audioRate)) : 0;
        t.samplesPerFrame = frame > 0 ? frame : fallback;
    } else {
        t.samplesPerFrame = 1;
    }
    t.videoTimescale = video.m_timescale;
    if (video.m_sampleDuration > 0)
        t.frameDuration = video.m_sampleDuration;
    else if (video.m_fps > 0)
        t.frameDuration = video.m_timescale / double(video.m_fps);
    return t;
}

bool AudioInterleave::mpegAudio() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref)
        return false;
    const AudioParameters& audio = ref->audio();
    return audio.m_codec == ".mp3" ||
           (audio.m_codec == "mp4a" && bitstream::isMpegAudioObjectType(audio.m_esds.m_objectType));
}

bool AudioInterleave::mpegAudioSpans(ScanBuffer& input, int64_t from, int64_t at) const {
    if (from < 0 || at <= from)
        return false;
    // Room for the frame that runs across `at`: the longest MPEG audio frame.
    const int64_t want = at - from + kMaxMpegFrameBytes;
    FrameChain chain;
    if (!soundOfOtherCodecs()) {
        if (!mpegAudio())
            return false;
        mp3FrameChain(input, from, want, chain);
        return frameCount(chain) >= 2 && chain.back() > at;
    }
    // Beside another codec's frames the MPEG run may begin anywhere in the
    // gap: behind the other track's frames. Its frames are of a rate the
    // reference's MPEG tracks have (a chance sync word inside a frame rarely
    // names that rate twice in a row).
    const std::vector<InterleaveTrack>& tracks = m_repairState->m_reference->interleaveCycle().audioTracks();
    const ByteBlock block = input.readBlock(from, int32_t(std::min<int64_t>(want, kMaxFrameChainRead)));
    const uint8_t* data = block.data();
    const int64_t n = block.length();
    for (int64_t p = 0; p < std::min(at - from, n); ++p) {
        if (data[p] != 0xFF)
            continue;
        for (auto t = tracks.begin(); t != tracks.end(); ++t) {
            const auto sameRate = [&](const InterleaveTrack& u) { return u.mpegSampleRate == t->mpegSampleRate; };
            if (t->mpegSampleRate <= 0 || std::any_of(tracks.begin(), t, sameRate))
                continue;  // not MPEG audio, or its rate was tried
            MpegTrackFormat format;
            format.sampleRate = t->mpegSampleRate;
            mpegTrackChain(data + p, int32_t(n - p), from + p, format, kMaxFrameChainOffsets, chain);
            if (frameCount(chain) >= 2 && chain.back() > at)
                return true;
        }
    }
    return false;
}

int64_t AudioInterleave::aacRunAcross(ScanBuffer& input, int64_t from, int64_t at, size_t& frames) const {
    frames = 0;
    if (!m_aacChain.decoderConfig || m_aacChain.decoderConfigLength == 0 || from < 0 || at <= from)
        return -1;
    // Room for the frame that runs across `at`: the longest an AAC frame of
    // eight channels can be.
    constexpr int64_t kMaxAacFrameBytes = 8 * 6144 / 8;
    // Every AAC track's settings, whatever byte a frame begins with (the run
    // is not looking for its end): a gap that opens with another track's
    // chunk has its frames in front of this track's.
    std::vector<AacChainConfig> configs{m_aacChain};
    if (const ReferenceInfo* ref = m_repairState->m_reference.get())
        for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
            const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
            if (!track || isMpegAudioTrack(*track) || track->m_esds.m_decoderInfoLength == 0 ||
                std::any_of(configs.begin(), configs.end(), [&](const AacChainConfig& known) {
                    return known.decoderConfigLength == track->m_esds.m_decoderInfoLength &&
                           std::equal(known.decoderConfig, known.decoderConfig + known.decoderConfigLength,
                                      track->m_esds.m_decoderInfo);
                }))
                continue;
            AacChainConfig other;
            other.decoderConfig = track->m_esds.m_decoderInfo;
            other.decoderConfigLength = track->m_esds.m_decoderInfoLength;
            configs.push_back(other);
        }
    for (AacChainConfig& config : configs)
        config.firstBytes.reset();
    // From each track's last frame on, the run goes on with the settings
    // that take it furthest; where none takes a frame, behind a chunk of
    // timed metadata (captions in front of the sound) that ends there.
    int64_t pos = from;
    FrameChain chain, best;
    while (pos < at) {
        best.clear();
        for (const int64_t start : runStarts(input, pos, at)) {
            for (const AacChainConfig& config : configs) {
                aacFrameChain(config, input, start, at - start + kMaxAacFrameBytes, chain);
                if (frameCount(chain) > 0 && (best.empty() || chain.back() > best.back()))
                    best = chain;
            }
            if (!best.empty())
                break;
        }
        if (best.empty() || std::binary_search(best.begin(), best.end(), at))
            return -1;
        frames += frameCount(best);
        pos = best.back();
    }
    return frames > 0 && pos > at ? pos : -1;
}

int64_t AudioInterleave::mpegRunAcross(ScanBuffer& input, int64_t from, int64_t at, size_t& frames) const {
    frames = 0;
    if (from < 0 || at <= from || soundOfOtherCodecs() || !mpegAudio())
        return -1;
    FrameChain chain;
    mp3FrameChain(input, from, at - from + kMaxMpegFrameBytes, chain);
    if (frameCount(chain) == 0 || chain.back() <= at || std::binary_search(chain.begin(), chain.end(), at))
        return -1;
    frames = frameCount(chain);
    return chain.back();
}

std::vector<int64_t> AudioInterleave::runStarts(ScanBuffer& input, int64_t pos, int64_t at) const {
    // Longer metadata chunks are no caption or descriptor in front of sound.
    constexpr int64_t kMaxMetadataRead = 64 * 1024;
    std::vector<int64_t> out{pos};
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref)
        return out;
    const ByteBlock block = input.readBlock(pos, int32_t(std::min(kMaxMetadataRead, at - pos)));
    for (const auto* tracks : {&ref->interleaveCycle().metadataTracks(), &ref->interleaveCycle().singleSampleTracks()})
        for (const InterleaveTrack& track : *tracks) {
            std::vector<int64_t> ends;
            if (metadataStructureDecides(track.codec))
                ends = metadataUnitEnds(track.codec, track.boxKeys, block.data(), block.length());
            else
                ends.assign(track.chunkSizes.begin(), track.chunkSizes.end());
            for (const int64_t end : ends)
                if (end > 0 && end < at - pos)
                    out.push_back(pos + end);
        }
    std::sort(out.begin() + 1, out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool AudioInterleave::soundOfOtherCodecs() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref)
        return false;
    bool mpeg = false, other = false;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (track)
            (isMpegAudioTrack(*track) ? mpeg : other) = true;
    }
    return mpeg && other;
}

int64_t AudioInterleave::expectedFrames(uint32_t videoSamples, const InterleaveTiming& t, double carry) {
    if (videoSamples == 0 || t.frameDuration <= 0 || t.videoTimescale <= 0 || t.audioRate <= 0 ||
        t.samplesPerFrame <= 0)
        return 0;
    const double e = std::floor(videoSamples * t.frameDuration * t.audioRate / t.videoTimescale / t.samplesPerFrame + carry);
    return e > 0 ? int64_t(e) : 0;
}

double AudioInterleave::carryAfter(uint32_t videoSamples, const InterleaveTiming& t, double carry, int64_t k) {
    if (t.frameDuration <= 0 || t.videoTimescale <= 0 || t.audioRate <= 0 || t.samplesPerFrame <= 0)
        return carry - double(k);
    return videoSamples * t.frameDuration * t.audioRate / t.videoTimescale / t.samplesPerFrame + carry - double(k);
}

int64_t AudioInterleave::tolerance(const InterleaveTiming& t) {
    // Without a rate nobody can tell a tenth of a second; five frames is
    // about that for the common 44.1 / 48 kHz AAC.
    constexpr int64_t kToleranceWithoutRate = 5;
    if (!t.rateKnown)
        return kToleranceWithoutRate;
    const double spf = t.samplesPerFrame > 0 ? t.samplesPerFrame : 1024;
    return std::max<int64_t>(int64_t(std::floor(t.audioRate * 0.1 / spf + 0.5)), 1);
}

int64_t AudioInterleave::framesToTake(int64_t found, int64_t expected, int64_t tol) {
    const int64_t drift = found - expected;
    if (std::llabs(drift) <= tol)
        return found;
    return found > expected ? std::min(found, expected + tol) : expected;
}

int64_t AudioInterleave::resyncScore(const RunTally& run, int64_t j, int64_t expected, int64_t expectedSize) {
    // A frame that looks like the reference's counts in full; one that does
    // not (a size the reference never comes near, a first byte its frames
    // never begin with) still belongs to a clean run, but a chance decode
    // amid other data looks like that, so it counts against the run.
    int64_t score = 1000 * run.plausible + run.plausibleBytes - 200 * (run.frames - run.plausible);
    if (expected > 0)
        score -= 120 * std::llabs(expected - run.frames);
    if (expectedSize > 0)
        score -= std::llabs(run.bytes - expectedSize) / 2;
    score -= 4 * j;
    return score;
}

void AudioInterleave::updateFrameSizeRange() {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    // Asked at every chunk; a long reference has tens of thousands of frames.
    if (ref && ref == m_sizeRangeOf && ref->audioSamples().size() == m_sizeRangeSamples)
        return;
    m_sizeRangeOf = nullptr;
    m_silentReference = false;
    m_silentFrameFloor = 0;
    if (!ref || ref->audioSamples().empty()) {
        m_minFrameSize = kMinAudioFrame;
        m_maxFrameSize = kMaxAudioFrame;
        m_firstBytes.reset();
        return;
    }
    m_sizeRangeOf = ref;
    m_sizeRangeSamples = ref->audioSamples().size();
    std::vector<uint64_t> sizes;
    sizes.reserve(ref->audioSamples().size());
    for (const MediaSample& s : ref->audioSamples())
        sizes.push_back(uint64_t(uint32_t(s.size)));
    const auto [loIt, hiIt] = std::minmax_element(sizes.begin(), sizes.end());
    const uint64_t lo = *loIt, hi = *hiIt;
    const bool mpeg = mpegAudio();
    m_firstBytes = mpeg ? std::bitset<256>() : aacFrameFirstBytes(ref->audio().m_frameFirstBytes);
    if (hi == 0)
        return;
    // A reference of digital silence shows frames of a few bytes; below that
    // nothing a recorder writes is smaller than kMinAudioFrame.
    m_minFrameSize = std::max<uint64_t>(lo / 2, std::min<uint64_t>(lo, kMinAudioFrame));
    m_maxFrameSize = std::max<uint64_t>(2 * hi, m_minFrameSize);
    if (mpeg)
        return;
    // When most of the reference's frames are silence (a muted microphone, a
    // camera set to record no sound), their sizes and first bytes tell
    // nothing of a recording with sound: what the decoder configuration
    // allows takes their place, and the silent frames still count.
    const AudioParameters& audio = ref->audio();
    const AacConfigLimits limits =
        aacConfigLimits(audio.m_esds.m_decoderInfo, audio.m_esds.m_decoderInfoLength, audio.m_channels);
    // A recording of silence made with a reference of sound has frames far
    // below the reference's; a gap of one of them is still searched.
    if (limits.channels > 0)
        m_silentFrameFloor = std::max<int64_t>(kSilentFrameMinBytesPerChannel * limits.channels, kMinSilentGap);
    std::nth_element(sizes.begin(), sizes.begin() + ptrdiff_t(sizes.size() / 2), sizes.end());
    const uint64_t typical = sizes[sizes.size() / 2];
    if (limits.channels == 0 || typical > kSilentFrameBytesPerChannel * limits.channels)
        return;
    m_silentReference = true;
    m_firstBytes |= limits.firstBytes;
    m_maxFrameSize = std::max(m_maxFrameSize, limits.maxFrameBytes);
}

void AudioInterleave::emit(ScanBuffer& input, int64_t offset, int64_t size) {
    addAudioSample(*m_repairState, input, offset, int32_t(size), m_word);
    ++m_framesEmitted;
    m_lastOffset = offset;
    m_lastSize = size;
    m_recentSizes.push_back(size);
    if (m_recentSizes.size() > kRecentSizes)
        m_recentSizes.pop_front();
}

bool AudioInterleave::repeatLast(ScanBuffer& input) {
    if (m_lastSize <= 0 || m_lastOffset < 0 || m_lastOffset + m_lastSize > input.fileSize())
        return false;
    addAudioSample(*m_repairState, input, m_lastOffset, int32_t(m_lastSize), m_word);
    ++m_framesEmitted;
    return true;
}

void AudioInterleave::takeCarry(int64_t k) {
    m_carry = carryAfter(m_videoSinceAudio, timing(), m_carry, k);
    m_videoSinceAudio = 0;
}

int64_t AudioInterleave::minGap() const {
    const int64_t gap = std::min<int64_t>(kMinGap, int64_t(m_minFrameSize));
    return m_silentFrameFloor > 0 ? std::min(gap, m_silentFrameFloor) : gap;
}

int64_t AudioInterleave::endSlack() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t g1 = ref ? ref->layout().m_videoChunksStopGap : 0;
    const int64_t g3 = ref ? ref->layout().m_audioChunksStopGap : 0;
    return g1 + g3 + kRunEndSlack;
}

bool AudioInterleave::plausibleSize(uint64_t size) const {
    return size >= m_minFrameSize && size <= m_maxFrameSize;
}

bool AudioInterleave::foreignFirstByte(uint8_t firstByte) const {
    return m_firstBytes.any() && !m_firstBytes.test(firstByte);
}

AacChainPrefetch* AudioInterleave::prefetcher(const ScanBuffer& input) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || ref->audio().m_codec != "mp4a" || m_scanInfo->pcmRuns || m_scanInfo->aacFilter || mpegAudio() ||
        sharedGaps() || sharedMpegGaps() || !m_aacChain.decoderConfig || m_aacChain.decoderConfigLength == 0)
        return nullptr;
    if (m_prefetch && m_prefetch->fileName() != input.name())
        m_prefetch.reset();
    if (!m_prefetch) {
        try {
            m_prefetch = std::make_unique<AacChainPrefetch>(m_aacChain, input.name());
            m_repairState->m_scanHasHelper = true;
        } catch (const std::system_error&) {
            return nullptr;  // no thread: every gap is decoded here
        }
    }
    return m_prefetch.get();
}

void AudioInterleave::prefetchBehindChunk(const ScanBuffer& input, int64_t gapStart, int64_t chunkStart,
                                          int64_t chunkEnd) {
    if (gapStart >= chunkStart || chunkEnd >= input.fileSize())
        return;
    AacChainPrefetch* prefetch = prefetcher(input);
    if (!prefetch)
        return;
    if (prefetch->pending() != gapStart && !prefetch->expects(gapStart))
        prefetch->request(chunkEnd);
    else
        prefetch->expectNext(chunkEnd);
}

void AudioInterleave::prefetchGap(const ScanBuffer& input, int64_t offset) {
    if (offset >= input.fileSize())
        return;
    AacChainPrefetch* prefetch = prefetcher(input);
    if (!prefetch || prefetch->expects(offset))
        return;
    // A request for another offset is for no gap any more (the chunk
    // search found no gap in front of the chunk just emitted, say).
    const int64_t pending = prefetch->pending();
    if (pending != offset && (pending >= 0 || !prefetch->lastTakeWaited()))
        prefetch->request(offset);
}

namespace {

// Enters the prefetched frames of the run from a gap's first byte into
// `lengths` (bytes from it), when they settle every frame that run reads
// of the `got` bytes; false, with `lengths` untouched, when they do not.
bool enterMeasuredRun(const std::vector<uint32_t>& ahead, int64_t got, std::vector<int32_t>& lengths) {
    int64_t pos = 0;
    size_t frames = 0;
    while (pos < got && frames + 1 < kMaxFrameChainOffsets) {
        if (frames >= ahead.size() || pos + int64_t(ahead[frames]) > got)
            return false;
        pos += int64_t(ahead[frames++]);
    }
    pos = 0;
    for (size_t f = 0; f < frames; ++f) {
        lengths[size_t(pos)] = int32_t(ahead[f]);
        pos += int64_t(ahead[f]);
    }
    return true;
}

}  // namespace

bool AudioInterleave::resync(ScanBuffer& input, int64_t from, int64_t b, int64_t expected, bool wide,
                                 bool mpeg, FrameChain& out) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t g2 = ref ? ref->layout().m_audioChunksSizeAll : 0;
    const int64_t g3 = ref ? ref->layout().m_audioChunksStopGap : 0;
    const int64_t n = b - from;
    int64_t span = std::min(n, kResyncSpan);
    if (g3 > 0)
        span = std::min(std::max(g3 + kResyncStopGapSlack, std::min(n, kResyncSpan)), n);
    // A chunk of a sound track set aside (its codec cannot be followed) may
    // stand in front of the frames.
    if (const int64_t setAside = setAsideSound())
        span = std::min(std::max(span, setAside + kResyncSpan), n);
    if (wide)
        span = std::min(n, kResyncRunBytes);

    // One read serves every candidate: each follows its run for at most
    // 1 MiB and never past the gap.
    const int64_t want = std::min(n, span + kResyncRunBytes);
    ByteBlock block = input.readBlock(from, int32_t(want));
    const int64_t got = block.length();
    span = std::min(span, got);

    // One decoder measures every frame, and each position is measured once:
    // candidate runs that fall into step with each other share the rest of
    // their frames, so trying many starts costs little more than one run.
    AacFrameMeter meter(m_aacChain);
    std::vector<uint32_t> ahead;
    const bool prefetched = !mpeg && m_prefetch && m_prefetch->take(from, ahead);
    // Frames the worker measured show that the configuration sets a decoder
    // up: this one is opened when a run needs it (most gaps need none).
    if (!mpeg && (!prefetched || ahead.empty()) && !meter.restart()) {
        FLOG(LogLevel::Error) << "NeAACDecInit2 error";
        return false;
    }
    std::vector<int32_t> lengths(mpeg ? 0 : size_t(got), -1);
    int starts = 0;
    auto aacRun = [&](int64_t j, FrameChain& chain) {
        chain.assign(1, from + j);
        bool fresh = false;
        // The first run, measured already by the same fresh decoder: it
        // counts as the start it would have been.
        if (j == 0 && prefetched && starts == 0 && enterMeasuredRun(ahead, got, lengths))
            ++starts;
        for (int64_t pos = j; pos < got && chain.size() < kMaxFrameChainOffsets;) {
            int32_t& length = lengths[size_t(pos)];
            if (length < 0) {
                if (!fresh && !meter.restart())
                    break;
                starts += fresh ? 0 : 1;
                fresh = true;
                length = int32_t(meter.frameLength(block.data() + pos, uint32_t(got - pos)));
            }
            if (length == 0)
                break;
            pos += length;
            chain.push_back(from + pos);
        }
    };

    // The first bytes of the reference's frames rank the starts: the gap's
    // first byte, where the audio most likely starts, then every position
    // holding one of them, and only when none of those gives a run, the
    // rest of the span (never the whole rest of a wide search).
    const std::bitset<256>& firstBytes = m_firstBytes;
    const bool ranked = firstBytes.any();
    const int64_t slack = endSlack();
    std::vector<bool> boundary(size_t(std::max<int64_t>(span, 0)), false);
    int64_t best = kNoScore;
    FrameChain chain;
    bool settled = false;
    for (int pass = 0; pass < 3 && !settled; ++pass) {
        if (pass == 2 && (!ranked || wide || best != kNoScore))
            break;
        for (int64_t j = pass == 0 ? 0 : 1; j < (pass == 0 ? std::min<int64_t>(span, 1) : span); ++j) {
            if (pass > 0 && ranked && firstBytes.test(block[size_t(j)]) != (pass == 1))
                continue;
            if (pass == 2 && !ranked)
                continue;
            // A start that is a frame boundary of a run already decoded
            // would only give the tail of that run, which always scores lower.
            if (boundary[size_t(j)])
                continue;
            if (n - j < minGap() || starts >= kResyncStartBudget)
                break;
            if (mpeg) {
                // MPEG audio frames carry their own header: only a valid one
                // can start a run.
                const int64_t runBytes = std::min({n - j, kResyncRunBytes, got - j});
                if (runBytes < 4 || bitstream::mpegAudioFrameLength(block.data() + j) == 0)
                    continue;
                mp3FrameChain(block.data() + j, int32_t(runBytes), from + j, chain);
            } else {
                aacRun(j, chain);
            }
            const size_t frames = frameCount(chain);
            if (frames < 1)
                continue;
            // An MPEG audio header is a dozen bits that picture data holds
            // now and then; a lone "frame" inside the gap that neither
            // another header (of a frame the gap cuts short, say) nor the
            // end of the gap follows is such a chance. At the gap's start,
            // right behind the video, it is where the audio belongs.
            if (mpeg && frames < 2 && j > 0 && chain.back() != b) {
                const int64_t after = chain.back() - from;
                if (after + 4 > got || bitstream::mpegAudioFrameLength(block.data() + after) == 0)
                    continue;
            }
            for (size_t f = 1; f < chain.size(); ++f) {
                const int64_t at = chain[f] - from;
                if (at < span)
                    boundary[size_t(at)] = true;
            }
            RunTally tally;
            for (size_t f = 0; f < frames; ++f) {
                const uint64_t size = uint64_t(chain[f + 1] - chain[f]);
                ++tally.frames;
                tally.bytes += int64_t(size);
                if (plausibleSize(size) && !foreignFirstByte(block[size_t(chain[f] - from)])) {
                    ++tally.plausible;
                    tally.plausibleBytes += int64_t(size);
                }
            }
            // A run with not one frame like the reference's that does not
            // fill the gap either is what chance decodes of other data look
            // like; it is no evidence of audio.
            const bool toTheEnd = got == n && b - chain.back() <= slack;
            if (tally.plausible == 0 && !toTheEnd)
                continue;
            const int64_t score = resyncScore(tally, j, expected, m_silentReference ? 0 : g2);
            if (score > best) {
                best = score;
                out = chain;
            }
            // A run that looks like the reference's audio through to the end
            // of the gap is the gap's audio: nothing else can explain more.
            if (toTheEnd && tally.frames - tally.plausible <= 1 && out == chain) {
                settled = true;
                break;
            }
        }
    }
    if (best == kNoScore || out.size() < 2)
        return false;
    FLOG(LogLevel::Info) << m_logLabel << "a resync ofs=" << out.front() << " consumed=" << chainBytes(out)
                         << " samples=" << frameCount(out) << " expected_samples=" << expected
                         << " expected_size=" << g2;
    return true;
}

int64_t AudioInterleave::extendBackwards(ScanBuffer& input, FrameChain& run, int64_t frames, int64_t floor) {
    if (frames <= 0 || run.empty() || m_maxFrameSize > uint64_t(kResyncSpan) * 4)
        return 0;
    const int64_t lo = std::max<int64_t>(int64_t(m_minFrameSize), 1);
    const int64_t hi = int64_t(m_maxFrameSize);
    // One read of at most a run's bytes serves every frame.
    const int64_t blockStart =
        std::max({run.front() - std::min(frames, kResyncRunBytes / hi) * hi, floor, int64_t(0)});
    ByteBlock block = input.readBlock(blockStart, int32_t(run.front() - blockStart));
    const int64_t got = block.length();
    AacFrameMeter meter(m_aacChain);
    // A frame in front of `end` is one the decoder, started at its first
    // byte, takes to end exactly there. Starts holding one of the first
    // bytes of the reference's frames are tried first, nearest first.
    auto frameEndingAt = [&](int64_t end) -> int64_t {
        int starts = 0;
        for (int pass = 0; pass < 2; ++pass) {
            for (int64_t size = lo; size <= hi && end - size >= 0 && starts < kResyncStartBudget; ++size) {
                const int64_t at = end - size;
                if (foreignFirstByte(block[size_t(at)]) != (pass == 1) || !meter.restart())
                    continue;
                ++starts;
                if (meter.frameLength(block.data() + at, uint32_t(got - at)) == uint32_t(size))
                    return at;
            }
            if (m_firstBytes.none())
                break;
        }
        return -1;
    };
    int64_t added = 0;
    for (int64_t end = run.front() - blockStart; added < frames; ++added) {
        const int64_t at = frameEndingAt(end);
        if (at < 0)
            break;
        run.insert(run.begin(), blockStart + at);
        end = at;
    }
    return added;
}

int64_t AudioInterleave::videoBetweenRuns(ScanBuffer& input, int64_t a, int64_t b, unsigned flags,
                                          const std::vector<FrameChain>& runs, bool& tailExplained,
                                          std::vector<std::pair<int64_t, int64_t>>& picturesInFront) {
    tailExplained = false;
    picturesInFront.clear();
    if (!m_gapVideo || runs.empty() || (flags & GapBehindVideo))
        return 0;
    int64_t explained = 0;
    auto fill = [&](int64_t from, int64_t to) {
        if (to - from < kMinVideoStretch)
            return false;
        if (m_gapVideo->emitSamplesFilling(input, from, to) > 0) {
            explained += to - from;
            return true;
        }
        // Pictures, then a caption chunk: the caption is taken with the
        // gap's other captions, in file order.
        const int64_t pictures = picturesBeforeCaption(input, from, to);
        if (pictures > 0 && m_gapVideo->emitSamplesFilling(input, from, from + pictures) > 0) {
            explained += pictures;
            picturesInFront.emplace_back(from, pictures);
        }
        return false;
    };
    // A guessed gap start says nothing of where the audio begins.
    if (!(flags & GapStartGuessed))
        fill(a, runs.front().front());
    for (size_t r = 1; r < runs.size(); ++r)
        fill(runs[r - 1].back(), runs[r].front());
    const int64_t inFront = explained;
    tailExplained = fill(runs.back().back(), b);
    return inFront;
}

int64_t AudioInterleave::picturesBeforeCaption(ScanBuffer& input, int64_t from, int64_t to) const {
    if (!m_gapVideo || m_repairState->m_reference->interleaveCycle().metadataTracks().empty())
        return 0;
    const int64_t pictures = m_gapVideo->samplesFrom(input, from, to);
    if (pictures < kMinVideoStretch || pictures >= to - from)
        return 0;
    return metadataStretchTrack(input, from + pictures, to - from - pictures) >= 0 ? pictures : 0;
}

bool AudioInterleave::audioThenVideo(ScanBuffer& input, int64_t from, int64_t to, bool mpeg, FrameChain& run) {
    if (!m_gapVideo)
        return false;
    // Pictures may come first (the picture behind the run in front, then
    // this run's audio).
    const int64_t start = from + m_gapVideo->samplesFrom(input, from, to);
    if (to - start < minGap())
        return false;
    FrameChain found;
    if (!resync(input, start, to, 0, false, mpeg, found) || found.front() != start || found.back() >= to)
        return !mpeg && quietRunBeforeVideo(input, start, to, run);
    if (!m_gapVideo->samplesFill(input, found.back(), to) && picturesBeforeCaption(input, found.back(), to) == 0)
        return false;
    run = std::move(found);
    return true;
}

bool AudioInterleave::quietRunBeforeVideo(ScanBuffer& input, int64_t from, int64_t to, FrameChain& run) {
    if (m_silentFrameFloor <= 0 || !m_gapVideo)
        return false;
    FrameChain chain;
    if (aacFrameChain(m_aacChain, input, from, to - from, chain) <= 0)
        return false;
    size_t frames = 0;
    while (frames + 1 < chain.size()) {
        const int64_t size = chain[frames + 1] - chain[frames];
        if (size < m_silentFrameFloor || uint64_t(size) >= m_minFrameSize || chain[frames + 1] >= to)
            break;
        ++frames;
    }
    for (; frames > 0; --frames) {
        if (m_gapVideo->samplesFill(input, chain[frames], to)) {
            run.assign(chain.begin(), chain.begin() + ptrdiff_t(frames) + 1);
            return true;
        }
    }
    return false;
}

void AudioInterleave::dropUnlistedLead(int64_t a, std::vector<FrameChain>& runs) const {
    // Some writers leave an encoder's first frames in the media data but
    // out of the track: the reference shows how many bytes they take. Only
    // where the input's frames from the media data's start end exactly
    // there are they the same left-out frames; sound of another length is
    // the recording's own.
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t unlisted = ref ? int64_t(ref->layout().m_mediaDataUnlisted) : 0;
    if (unlisted == 0 || a != m_mediaDataStart || runs.empty() || runs.front().front() != a)
        return;
    FrameChain& run = runs.front();
    const auto end = std::find(run.begin(), run.end(), a + unlisted);
    if (end == run.end())
        return;
    FLOG(LogLevel::Info) << m_logLabel << "a frames left out in front of the first chunk="
                         << (end - run.begin()) << " bytes=" << unlisted;
    if (end + 1 == run.end())
        runs.erase(runs.begin());
    else
        run.erase(run.begin(), end);
}

void AudioInterleave::fillFrames(ScanBuffer& input, int64_t a, int64_t b, unsigned flags, bool mpeg) {
    if (m_scanInfo->gapStart() == 0)
        m_scanInfo->setGapStart(uint64_t(a));
    const InterleaveTiming t = timing();
    int64_t expected = expectedFrames(m_videoSinceAudio, t, m_carry);
    const int64_t tol = tolerance(t);
    // The chunks of a sound track set aside (its codec cannot be followed)
    // that may stand in the gap; 0 for none.
    const int64_t setAside = setAsideSound();

    // The gap's runs of frames: the first found near its start, further ones
    // (behind damage inside the gap) anywhere in the rest.
    std::vector<FrameChain> runs;
    int64_t framesSoFar = 0;
    int64_t loneFrames = 0;
    for (int64_t pos = a; b - pos >= minGap();) {
        FrameChain run;
        if (!resync(input, pos, b, std::max<int64_t>(expected - framesSoFar, 0), !runs.empty(), mpeg, run))
            break;
        // A lone frame amid damage is as likely a chance decode as audio
        // (inside a picture too small for the chunk search, say, with the
        // audio behind it); behind video samples that fill the bytes up to
        // it, it is the audio of a recorder that writes some behind every
        // picture (behind the chunk that follows the gap too: the pictures
        // went out ahead of it).
        if (!runs.empty() && frameCount(run) < 2 && b - run.back() > kRunEndSlack &&
            !(m_gapVideo && m_gapVideo->samplesFill(input, pos, run.front()))) {
            if (++loneFrames > kMaxLoneFrames)
                break;
            pos = run.back();
            continue;
        }
        framesSoFar += int64_t(frameCount(run));
        pos = run.back();
        runs.push_back(std::move(run));
    }

    // Beside a sound track set aside, a lone frame with other bytes on
    // either side is a chance decode of that track's data, where the
    // reference writes runs of frames (ffmpeg alternates single ones).
    if (setAside > 0 && writesRunsOfFrames()) {
        for (size_t r = 0; r < runs.size();) {
            const int64_t next = r + 1 < runs.size() ? runs[r + 1].front() : b;
            if (frameCount(runs[r]) < 2 && runs[r].front() != a && next - runs[r].back() > endSlack()) {
                framesSoFar -= int64_t(frameCount(runs[r]));
                runs.erase(runs.begin() + long(r));
            } else {
                ++r;
            }
        }
    }

    // A muxer may write a caption chunk amid one audio chunk: the frames in
    // front of it make a shorter run than those behind, and the search
    // keeps only the longer one.
    for (size_t r = 0; r < runs.size(); ++r) {
        const int64_t from = r == 0 ? a : runs[r - 1].back();
        FrameChain run;
        if ((r > 0 || !(flags & GapStartGuessed)) && audioThenCaption(input, from, runs[r].front(), mpeg, run)) {
            framesSoFar += int64_t(frameCount(run));
            runs.insert(runs.begin() + long(r), std::move(run));
            ++r;
        }
    }

    dropUnlistedLead(a, runs);

    // A chunk of a sound track set aside (its codec cannot be followed) in
    // front of the frames hides their start from the search, which gives
    // up after so many tries; they end where the gap does, and are followed
    // back from there.
    if (!mpeg && setAside > 0 && !(flags & GapAtEnd) && (runs.empty() || b - runs.back().back() > endSlack())) {
        FrameChain run{b};
        const int64_t after = runs.empty() ? a : runs.back().back();
        if (extendBackwards(input, run, b - after, after) >= 2) {
            FLOG(LogLevel::Info) << m_logLabel << "a frames behind other sound ofs=" << run.front()
                                 << " samples=" << frameCount(run);
            framesSoFar += int64_t(frameCount(run));
            runs.push_back(std::move(run));
        }
    }

    // A run that ran on over such a picture is cut in front of it, and the
    // audio behind the picture becomes a run of its own.
    if (m_gapVideo && (flags & GapBehindVideo) == 0) {
        for (size_t r = 0; r < runs.size(); ++r) {
            std::vector<FrameChain> after;
            const int64_t limit = r + 1 < runs.size() ? runs[r + 1].front() : b;
            int64_t change = -int64_t(frameCount(runs[r]));
            if (!cutRunAtPicture(input, runs[r], limit, b, mpeg, after))
                continue;
            change += int64_t(frameCount(runs[r]));
            for (const FrameChain& run : after)
                change += int64_t(frameCount(run));
            framesSoFar += change;
            FLOG(LogLevel::Info) << m_logLabel << "a run cut at a picture ofs=" << runs[r].back()
                                 << " audio runs behind=" << after.size() << " frames=" << change;
            runs.insert(runs.begin() + long(r + 1), std::make_move_iterator(after.begin()),
                        std::make_move_iterator(after.end()));
            r += after.size();
        }
    }

    // A run that ends at a picture too small for the chunk search (a frame
    // or two of audio, then the picture) scores below the longer run behind
    // the picture, and is passed over: what the runs leave in front of them
    // may be such a run and its picture.
    if (m_gapVideo && (flags & GapBehindVideo) == 0) {
        for (size_t r = 0; r < runs.size(); ++r) {
            const int64_t from = r == 0 ? a : runs[r - 1].back();
            FrameChain run;
            if ((r > 0 || !(flags & GapStartGuessed)) && !m_gapVideo->samplesFill(input, from, runs[r].front()) &&
                audioThenVideo(input, from, runs[r].front(), mpeg, run)) {
                framesSoFar += int64_t(frameCount(run));
                runs.insert(runs.begin() + long(r), std::move(run));
                ++r;
            }
        }
    }

    // Where the gap's start is a guess that fell inside the audio (the
    // recording's first audio chunk is longer than the reference's), the
    // first frames lie in front of it: as many as the video count still
    // asks for are followed back from the first one found.
    if ((flags & GapStartGuessed) && !mpeg && !runs.empty() && runs.front().front() - a < int64_t(m_maxFrameSize) &&
        framesSoFar < expected + tol) {
        const int64_t added = extendBackwards(input, runs.front(), expected + tol - framesSoFar);
        if (added > 0)
            FLOG(LogLevel::Info) << m_logLabel << "a frames in front of the guessed gap start=" << added
                                 << " ofs=" << runs.front().front();
        a = std::min(a, runs.front().front());
    }

    if (runs.empty()) {
        // A gap that holds only a caption chunk is intact: the sound of its
        // pictures lies in a later gap.
        if (takeMetadataStretch(input, a, b - a))
            return;
        // So is a gap that holds a chunk of a sound track set aside.
        if (setAside > 0 && b - a <= setAside + endSlack())
            return;
        // Copies keep later audio in step with the pictures; behind the last
        // of the sound there is nothing left to keep in step, and they would
        // only repeat its last frame.
        if (flags & GapAtEnd)
            return;
        if (expected > 0 && m_lastSize > 0 && m_lastOffset + m_lastSize <= input.fileSize()) {
            for (int64_t i = 0; i < expected; ++i)
                repeatLast(input);
            FLOG(LogLevel::Info) << m_logLabel << "a filled missing chunk samples=" << expected << " ofs=" << m_lastOffset
                                 << " size=" << m_lastSize;
            takeCarry(expected);
        }
        return;
    }

    // A gap whose bytes are explained by whole frames, but for the padding
    // the reference shows around its chunks, is intact: its frames are the
    // recording's audio of the interval however many the video count
    // predicts (muxers do not cut audio chunks at video chunk boundaries).
    // The prediction only decides for gaps that damage has touched.
    // Pictures too small for the chunk search sit between the audio frames
    // of a gap (a recorder that writes audio behind every frame). They are
    // emitted now, ahead of the chunk behind the gap, and their interval's
    // audio is this gap's too.
    bool tailIsVideo = false;
    std::vector<std::pair<int64_t, int64_t>> picturesInFront;
    const int64_t videoBytes = videoBetweenRuns(input, a, b, flags, runs, tailIsVideo, picturesInFront);
    if (videoBytes > 0 || tailIsVideo)
        expected = expectedFrames(m_videoSinceAudio, t, m_carry);
    const int64_t slack = endSlack();
    // A caption chunk in front of, between or behind the runs explains its
    // bytes; taken for damage, it would have the gap padded with copies.
    // Pictures emitted in front of it leave it the rest of its stretch.
    auto pictures = [&](int64_t from) {
        for (const auto& [at, bytes] : picturesInFront)
            if (at == from)
                return bytes;
        return int64_t(0);
    };
    auto caption = [&](int64_t from, int64_t to) {
        from += pictures(from);
        return to > from && takeMetadataStretch(input, from, to - from) ? to - from : 0;
    };
    // A sound track whose codec the repair cannot follow writes its chunks
    // into the gaps too: a stretch no longer than they are is theirs, not
    // damage that the gap's frames must be padded for.
    auto otherSound = [&](int64_t bytes) { return setAside > 0 && bytes <= setAside + slack ? bytes : 0; };
    auto residue = [&](int64_t from, int64_t to) {
        const int64_t left = to - from - caption(from, to);
        return left - otherSound(left);
    };
    int64_t unexplained = -videoBytes + residue(a, runs.front().front());
    for (size_t r = 1; r < runs.size(); ++r)
        unexplained += residue(runs[r - 1].back(), runs[r].front());
    const int64_t tail = tailIsVideo ? 0 : residue(runs.back().back() + pictures(runs.back().back()), b);
    bool intact = (unexplained <= slack || (flags & GapStartGuessed)) && (tail <= slack || (flags & GapAtEnd));

    struct Frame {
        int64_t offset, size;
        bool plausible, foreign;
    };
    std::vector<Frame> frames;
    for (const FrameChain& run : runs) {
        ByteBlock bytes = input.readBlock(run.front(), int32_t(chainBytes(run)));
        for (size_t f = 0; f + 1 < run.size(); ++f) {
            const int64_t at = run[f] - run.front();
            const uint8_t first = at < bytes.length() ? bytes[size_t(at)] : 0;
            const int64_t size = run[f + 1] - run[f];
            const bool foreign = foreignFirstByte(first);
            const bool plausible = plausibleSize(uint64_t(size));
            // Where the gap's start is a guess, it may lie in front of the
            // audio: what the run decodes there before its first frame that
            // begins like the reference's (or, with no first bytes known,
            // has a size like theirs) is not audio. An encoder's first frame
            // is often smaller than the rest, so size alone does not decide.
            if ((flags & GapStartGuessed) && frames.empty() && (m_firstBytes.any() ? foreign : !plausible))
                continue;
            frames.push_back({run[f], size, plausible, foreign});
        }
    }
    // Damage that the decoder takes for frames shows itself by a first byte
    // the recorder's frames never have or by an oversized frame. Frames that
    // are only smaller than any the reference shows, in runs that fill the
    // gap, are quiet sound: digital silence is a few bytes a frame.
    for (const Frame& f : frames)
        if (f.foreign || uint64_t(f.size) > m_maxFrameSize)
            intact = false;

    std::vector<std::pair<int64_t, int64_t>> kept;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        // An encoder's last frame often holds only the end of the sound
        // and a few bytes of silence, far below any frame the reference
        // shows; at the very end of the media data it is that frame.
        const bool lastOfRecording = (flags & GapAtEnd) && i + 1 == frames.size() && f.offset + f.size == b &&
                                     uint64_t(f.size) <= m_maxFrameSize;
        if (!intact && !f.plausible && !lastOfRecording) {
            FLOG(LogLevel::Info) << m_logLabel << "a skipped ofs=" << f.offset << " size=" << f.size << " range=["
                                 << m_minFrameSize << "," << m_maxFrameSize << "]";
            continue;
        }
        kept.emplace_back(f.offset, f.size);
    }

    const int64_t found = int64_t(kept.size());
    const int64_t drift = found - expected;
    int64_t take = found;
    if (!intact) {
        if (expected == 0)
            return;
        // Padding keeps a damaged gap in step; decodable frames in excess of
        // the prediction are kept, since around damage the prediction is the
        // weaker witness of the two.
        take = std::max(framesToTake(found, expected, tol), found);
    }

    int64_t emitted = 0;
    for (; emitted < std::min(found, take); ++emitted) {
        emit(input, kept[size_t(emitted)].first, kept[size_t(emitted)].second);
        FLOG(LogLevel::Info) << m_logLabel << "a at " << kept[size_t(emitted)].first << "  size=" << kept[size_t(emitted)].second
                             << "  sync=" << emitted + 1 << "/" << take << "  expected=" << expected
                             << "  drift=" << drift;
    }
    if (found > emitted)
        FLOG(LogLevel::Info) << m_logLabel << "a skipped tail samples=" << found - emitted << " expected_samples=" << expected
                             << " tolerance=" << tol;
    while (emitted < take) {
        if (!repeatLast(input)) {
            take = emitted;
            break;
        }
        ++emitted;
        FLOG(LogLevel::Info) << m_logLabel << "a filled sample " << emitted << "/" << take << " expected=" << expected
                             << " ofs=" << m_lastOffset << " size=" << m_lastSize;
    }
    if (emitted == 0)
        return;
    if (expected > take)
        FLOG(LogLevel::Info) << m_logLabel << "a short chunk emitted=" << take << " expected=" << expected;
    takeCarry(take);
    // After an intact gap the recording itself has shown where audio and
    // video stand; what is left of the prediction is its rounding, not a
    // debt for the next damaged gap to pay, so at most a frame either way
    // stays. (A muxer's first chunks pair audio and video unevenly, say 23
    // audio frames with 24 pictures and then 24 with 12: the sound lags by
    // the same amount ever after, and each later gap still holds the audio
    // of its own pictures.)
    if (intact)
        m_carry = std::clamp(m_carry, -1.0, 1.0);
}

bool AudioInterleave::pcmCutByChance(ScanBuffer& input, int64_t from, int64_t at, bool lastFlush,
                                     bool anyLength) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !isLinearPcmCodec(ref->audio().m_codec) || m_repairState->videoSampleCount() == 0 || at <= from)
        return false;
    const ReferenceInterleaveCycle& cycle = ref->interleaveCycle();
    // Where the reference does not show one chunk per track between two
    // video chunks but writes its pictures in runs (camera chunks, several
    // chunks of sound in a gap), the sound in front of a picture, however
    // long, is still whole sample frames of its tracks, unless it is
    // pictures the search passed over. (Pictures one by one may stand
    // between two packets, a still scene's of a few dozen bytes.)
    const bool chunked = cycle.oneChunkPerGap() && cycle.chunksShareTime();
    if (!chunked) {
        const MovieTrack* pictures = ref->videoTrack();
        const bool runs = pictures && !pictures->m_chunkOffsets.empty() &&
                          pictures->m_sampleCount >= 2 * pictures->m_chunkOffsets.size();
        if (!runs || (m_gapVideo && m_gapVideo->samplesFill(input, from, at)))
            return false;
    }
    // Other metadata, or captions amid the sound, may stand anywhere in the
    // gap and shift a picture by any number of bytes.
    for (const InterleaveTrack& m : cycle.metadataTracks())
        if (!metadataStructureDecides(m.codec) || !m.endsAtPictures)
            return false;
    int64_t packets = 0, shortest = 0;
    for (const PcmShare& share : pcmShares()) {
        packets = std::gcd(packets, share.packet > 0 && !lastFlush && chunked ? share.packet : share.frame);
        shortest = shortest == 0 ? share.chunk : std::min(shortest, share.chunk);
    }
    for (const InterleaveTrack& t : cycle.audioTracks())
        shortest = std::min<int64_t>(shortest, t.minChunkBytes);
    if (packets <= 1 || shortest <= 0 || (chunked && !anyLength && at - from < shortest) || (at - from) % packets == 0)
        return false;
    // A caption chunk in front of a picture: its samples end right there.
    // One read of the bytes in front of the picture serves every length.
    constexpr int64_t kMaxCaptionChunk = 64 * 1024;
    if (cycle.metadataTracks().empty())
        return true;
    const int64_t span = std::min(at - from, kMaxCaptionChunk);
    const ByteBlock block = input.readBlock(at - span, int32_t(span));
    for (int64_t bytes = (at - from) % packets; bytes <= span; bytes += packets) {
        // Where the read came back short, only what it delivered is looked at.
        const uint8_t* start = block.data() + (span - bytes);
        const int64_t length = std::max<int64_t>(0, int64_t(block.length()) - (span - bytes));
        for (const InterleaveTrack& m : cycle.metadataTracks()) {
            const std::vector<int64_t> ends = metadataUnitEnds(m.codec, m.boxKeys, start, length);
            if (!ends.empty() && ends.back() == bytes)
                return false;
        }
    }
    return true;
}

bool AudioInterleave::insidePcmChunk(int64_t from, int64_t at) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !isLinearPcmCodec(ref->audio().m_codec) || at <= from)
        return false;
    // A muxer that interleaves by time writes single pictures between
    // packets of sound; a recorder that writes its pictures in runs writes
    // its sound in chunks as long. Captions or other metadata in the gap
    // only put a picture further behind its start.
    const ReferenceInterleaveCycle& cycle = ref->interleaveCycle();
    const MovieTrack* pictures = ref->videoTrack();
    if (!pictures || pictures->m_chunkOffsets.empty() || pictures->m_sampleCount < 2 * pictures->m_chunkOffsets.size())
        return false;
    // The reference's first and last chunks of sound are cut short by its
    // start and end; the others show how long the recorder's chunks are.
    int64_t shortest = 0;
    for (const InterleaveTrack& t : cycle.audioTracks()) {
        const int64_t least = t.wholeChunkSizes.empty() ? t.minChunkBytes : t.wholeChunkSizes.front();
        shortest = shortest == 0 ? least : std::min(shortest, least);
    }
    return at - from < shortest;
}

bool AudioInterleave::notWholePcmPackets(int64_t from, int64_t at) const {
    // Beyond this many packets' common divisor the sum is not worked out.
    constexpr int64_t kMaxSteps = 1 << 16;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !isLinearPcmCodec(ref->audio().m_codec) || at <= from ||
        !ref->interleaveCycle().metadataTracks().empty())
        return false;
    std::vector<int64_t> packets;
    for (const PcmShare& share : pcmShares()) {
        if (share.packet <= 0)
            return false;
        packets.push_back(share.packet);
    }
    // A timecode's one sample may stand among them, once.
    std::vector<int64_t> once{0};
    for (const InterleaveTrack& single : ref->interleaveCycle().singleSampleTracks())
        for (const uint32_t size : single.chunkSizes)
            once.push_back(size);
    int64_t unit = 0;
    for (const int64_t size : packets)
        unit = std::gcd(unit, size);
    for (const int64_t size : once)
        unit = std::gcd(unit, size);
    if (packets.empty() || unit <= 0 || (at - from) / unit > kMaxSteps)
        return false;
    // Which multiples of the divisor sums of whole packets reach.
    const int64_t steps = (at - from) / unit;
    std::vector<bool> reached(size_t(steps) + 1, false);
    reached[0] = true;
    for (int64_t k = 1; k <= steps; ++k)
        for (const int64_t size : packets)
            if (size / unit <= k && reached[size_t(k - size / unit)]) {
                reached[size_t(k)] = true;
                break;
            }
    for (const int64_t size : once)
        if ((at - from - size) >= 0 && (at - from - size) % unit == 0 && reached[size_t((at - from - size) / unit)])
            return false;
    return true;
}

void AudioInterleave::fillPcm(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t block = ref ? ref->layout().m_audioChunksSizeAll : 0;
    // A recorder that writes each chunk's audio in front of its pictures
    // leaves, where the file was cut, audio whose pictures are lost: nothing
    // was counted for it, yet it is the recording's sound. One cycle's worth
    // is taken, as the cut may also have left the start of a picture.
    const bool orphanedTail =
        (flags & GapAtEnd) && m_videoSinceAudio == 0 && m_repairState->videoSampleCount() > 0;
    // As with AAC, no video since the last audio means no audio is due (the
    // header in front of a file's first video chunk, say).
    if (block < 1 || (m_videoSinceAudio == 0 && !orphanedTail)) {
        // In front of the first pictures a muxer may still have written a
        // caption chunk (a cue at the recording's start): that chunk's own
        // structure tells it from a header.
        if (block > 0 && m_repairState->videoSampleCount() == 0 && !(flags & GapStartGuessed))
            takeMetadataStretch(input, a, b - a);
        return;
    }
    // The sound on either side of a picture amid the packets is the gap's.
    int64_t at = 0, length = 0;
    if (!(flags & (GapStartGuessed | GapAtEnd)) && pictureAmidPcm(input, a, b, at, length)) {
        fillPcm(input, a, at, flags);
        m_gapVideo->emitSamplesFilling(input, at, at + length);
        fillPcm(input, at + length, b, flags);
        return;
    }
    // PCM has no structure to find: the gap is the audio, taken whole in
    // whole sample frames. A recorder that cuts its audio chunks by time
    // leaves gaps somewhat smaller or larger than the reference's largest
    // (the reference is another, shorter recording), and the audio behind
    // the last video chunk is all the recording's. A gap of many cycles
    // holds more than audio (a chunk the search missed, damage): only one
    // cycle's worth is taken there, as in front of the first chunk, where
    // the gap's start is only a guess.
    int64_t size = b - a;
    if (size < 1)
        return;
    // Several sound tracks interleaved by time write many chunks of each
    // between two pictures: as many bytes as the reference's largest such
    // gap are still one gap's sound.
    const int64_t gapBound =
        ref->interleaveCycle().sharedGaps()
            ? std::max({block, int64_t(std::min<uint64_t>(ref->interleaveCycle().largestSoundGap(), INT32_MAX)),
                        std::min<int64_t>(pcmOpenChunksBytes(), INT32_MAX)})
            : block;
    const bool allAudio = !(flags & GapStartGuessed) && ((flags & GapAtEnd) || size <= kPcmGapCycles * gapBound);
    if (!allAudio || orphanedTail)
        size = std::min(size, block);
    if (ref->interleaveCycle().sharedGaps()) {
        fillSharedPcm(input, (flags & GapStartGuessed) ? b - size : a, size, (flags & GapAtEnd) != 0);
        return;
    }
    const AudioParameters& audio = ref->audio();
    const int64_t frame = int64_t(std::max<uint32_t>(audio.m_channels, 1)) * std::max<uint32_t>(audio.m_sampleSize / 8, 1);
    size -= size % frame;
    // In front of the first chunk the gap's start is a guess; the audio
    // adjoins the video.
    if (flags & GapStartGuessed)
        a = b - size;
    // -pcm -pcmcut: the user drops that many sample frames at the start of
    // every chunk found.
    const int64_t cut = m_scanInfo->pcmFilter ? std::max<int64_t>(m_scanInfo->pcmStartAdjustment, 0) * frame : 0;
    if (cut >= size)
        return;
    a += cut;
    size -= cut;
    if (size < 1 || a + size > input.fileSize())
        return;
    addAudioSample(*m_repairState, input, a, int32_t(size), kAudioWordNone);
    FLOG(LogLevel::Info) << m_logLabel << "pcm at " << a << "  size=" << size << "  gap=" << (b - a);
    m_videoSinceAudio = 0;
    m_carry = 0;
}

bool AudioInterleave::writesRunsOfFrames() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || ref->interleaveCycle().audioTracks().empty())
        return false;
    return ref->interleaveCycle().audioTracks().front().samplesPerChunk > 1;
}

int64_t AudioInterleave::setAsideSound() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    return ref ? int64_t(std::min<uint64_t>(ref->interleaveCycle().setAsideChunkBytes(), INT32_MAX)) : 0;
}

void AudioInterleave::fillGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    if (m_scanInfo->pcmRuns || m_scanInfo->aacFilter || a >= b)
        return;
    // Between two pieces of one chunk that the search took apart at a
    // picture too small for it, the gap is that picture, and no audio (with
    // or without sound in the recording).
    if (m_gapVideo && !(flags & (GapStartGuessed | GapBehindVideo)) && m_gapVideo->emitSamplesFilling(input, a, b) > 0)
        return;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::string codec = ref ? ref->audio().m_codec : std::string();
    if (metadataOnlyGaps()) {
        fillMetadataGap(input, a, b, flags);
        return;
    }
    if (codec.size() != 4)
        return;
    // A gap of one frame of digital silence is a few bytes: the split
    // takes it only where its frames explain it.
    if (sharedGaps()) {
        fillSharedGap(input, a, b, flags);
        return;
    }
    if (b - a < minGap()) {
        // A caption chunk between two video chunks is smaller than any
        // audio frame.
        if (!(flags & GapStartGuessed))
            takeMetadataStretch(input, a, b - a);
        return;
    }
    if (sharedMpegGaps())
        fillSharedMpeg(input, a, b, flags);
    else if (mpegAudio())
        fillFrames(input, a, b, flags, true);
    else if (codec == "mp4a")
        fillFrames(input, a, b, flags, false);
    else if (isLinearPcmCodec(codec))
        fillPcm(input, a, b, flags);
}
