#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/mpeg_audio_frame.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

// Gaps this short cannot hold an audio frame worth finding.
constexpr int64_t kMinGap = 33;
// Resync looks for the start of the audio in the first 4 KiB of a gap (or
// one audio stop gap plus 1 KiB, when the reference pads its audio chunks),
// and follows each candidate run for at most 1 MiB.
constexpr int64_t kResyncSpan = 4096;
constexpr int64_t kResyncStopGapSlack = 1024;
constexpr int64_t kResyncRunBytes = 1 << 20;
// Frames smaller than this are never real AAC frames of a recorder.
constexpr uint64_t kMinAudioFrame = 20;
constexpr uint64_t kMaxAudioFrame = 4294967295u;
// Bytes a gap may hold beyond its frames and the reference's padding and
// still count as intact; also how close to the gap end a lone frame must end.
constexpr int64_t kRunEndSlack = 64;
// Below any score a candidate can reach.
constexpr int64_t kNoScore = -1073741823;
// MPEG-1/2 audio object type indications of an esds (0x69, 0x6B) with the
// bit that tells them apart cleared.
constexpr uint8_t kMpegAudioObjectType = 0x69;
// Samples per frame when the reference track does not say: AAC's 1024 and
// MPEG-1 layer III's 1152.
constexpr double kAacFrameSamples = 1024;
constexpr double kMpegFrameSamples = 1152;
// A PCM gap up to this many reference audio cycles long is audio alone.
constexpr int64_t kPcmGapCycles = 2;
// Audio samples of the interleave carry no track word.
constexpr int32_t kAudioWordNone = -1;

// QuickTime's sample descriptions of linear PCM: 16-bit big- and
// little-endian, 24- and 32-bit integers, 32- and 64-bit floats, and the
// generic ones whose format flags say the rest. All are cut into chunks of
// whole sample frames without any framing of their own.
bool isLinearPcm(const std::string& codec) {
    static const char* const kCodecs[] = {"twos", "sowt", "in24", "in32", "fl32", "fl64", "lpcm", "raw "};
    for (const char* c : kCodecs)
        if (codec == c)
            return true;
    return false;
}

}  // namespace

void AudioInterleave::reset() {
    m_videoSinceAudio = 0;
    m_carry = 0;
    m_minFrameSize = kMinAudioFrame;
    m_maxFrameSize = kMaxAudioFrame;
    m_lastOffset = 0;
    m_lastSize = 0;
    m_framesEmitted = 0;
    m_otherTracks.clear();
    m_metadataChunks.clear();
    if (m_track == 0)
        m_word = kAudioWordNone;
}

InterleaveTiming AudioInterleave::timing() const {
    InterleaveTiming t;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const MovieTrack* audioTrack = ref ? ref->audioTrack(m_track) : nullptr;
    const AudioParameters& audio = *m_repairState->m_audio;
    const VideoParameters& video = *m_repairState->m_video;
    if (m_track > 0 && audioTrack)
        t.audioRate = audioTrack->m_audioSampleRate > 0 ? audioTrack->m_audioSampleRate : audioTrack->m_mediaTimescale;
    else if (audio.m_sampleRate > 0)
        t.audioRate = audio.m_sampleRate;
    else if (audioTrack)
        t.audioRate = audioTrack->m_mediaTimescale;
    t.rateKnown = t.audioRate > 0;
    const std::string& codec = ref && !ref->audio().m_codec.empty() ? ref->audio().m_codec : audio.m_codec;
    if (codec == "mp4a" || codec == ".mp3") {
        const double fallback = mpegAudio() ? kMpegFrameSamples : kAacFrameSamples;
        t.samplesPerFrame = audioTrack && audioTrack->m_sampleDuration > 0 ? audioTrack->m_sampleDuration : fallback;
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
           (audio.m_codec == "mp4a" && (audio.m_esds.m_objectType & ~0x02) == kMpegAudioObjectType);
}

bool AudioInterleave::mpegAudioSpans(ScanBuffer& input, int64_t from, int64_t at) const {
    // Room for the frame that runs across `at`: the longest MPEG audio frame.
    constexpr int64_t kMaxMpegFrameBytes = 2881;
    if (from < 0 || at <= from || !mpegAudio())
        return false;
    FrameChain chain;
    mp3FrameChain(input, from, at - from + kMaxMpegFrameBytes, chain);
    return frameCount(chain) >= 2 && chain.back() > at;
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

int64_t AudioInterleave::resyncScore(int64_t k, int64_t t, int64_t j, int64_t expected, int64_t expectedSize,
                                         bool stoppedOutOfRange) {
    int64_t score = 1000 * k + t;
    if (expected > 0)
        score -= 120 * std::llabs(expected - k);
    if (expectedSize > 0)
        score -= std::llabs(t - expectedSize) / 2;
    score -= 4 * j;
    if (stoppedOutOfRange)
        score -= 5000;
    return score;
}

void AudioInterleave::updateFrameSizeRange() {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || ref->audioSamples().empty()) {
        m_minFrameSize = kMinAudioFrame;
        m_maxFrameSize = kMaxAudioFrame;
        return;
    }
    uint64_t lo = UINT64_MAX, hi = 0;
    for (const MediaSample& s : ref->audioSamples()) {
        const uint64_t size = uint64_t(uint32_t(s.size));
        lo = std::min(lo, size);
        hi = std::max(hi, size);
    }
    if (hi == 0)
        return;
    m_minFrameSize = std::max<uint64_t>(lo / 2, kMinAudioFrame);
    m_maxFrameSize = std::max<uint64_t>(2 * hi, m_minFrameSize);
}

void AudioInterleave::emit(ScanBuffer& input, int64_t offset, int64_t size) {
    addAudioSample(*m_repairState, input, offset, int32_t(size), m_word);
    ++m_framesEmitted;
    m_lastOffset = offset;
    m_lastSize = size;
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

bool AudioInterleave::resync(ScanBuffer& input, int64_t from, int64_t b, int64_t expected, bool wide,
                                 bool mpeg, FrameChain& out) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t g2 = ref ? ref->layout().m_audioChunksSizeAll : 0;
    const int64_t g3 = ref ? ref->layout().m_audioChunksStopGap : 0;
    const int64_t n = b - from;
    int64_t span = std::min(n, kResyncSpan);
    if (g3 > 0)
        span = std::min(std::max(g3 + kResyncStopGapSlack, std::min(n, kResyncSpan)), n);
    if (wide)
        span = std::min(n, kResyncRunBytes);

    // One read serves every candidate: each follows its run for at most
    // 1 MiB and never past the gap.
    const int64_t want = std::min(n, span + kResyncRunBytes);
    ByteBlock block = input.readBlock(from, int32_t(want));
    const int64_t got = block.length();
    const uint8_t sync = ref ? ref->audio().m_audioDataStart : 0;

    // A start that is a frame boundary of a run already decoded would only
    // give the tail of that run, which always scores lower.
    std::vector<bool> boundary(size_t(std::max<int64_t>(span, 0)), false);
    int64_t best = kNoScore;
    FrameChain chain;
    for (int64_t j = 0; j < span && j < got; ++j) {
        // The gap's first byte is where the audio most likely starts; it is
        // tried even when it is not the sync byte (an encoder's first frame
        // often begins differently from the rest).
        if (j > 0 && sync != 0 && block[size_t(j)] != sync)
            continue;
        if (boundary[size_t(j)])
            continue;
        if (n - j < kMinGap)
            break;
        const int64_t runBytes = std::min({n - j, kResyncRunBytes, got - j});
        if (mpeg) {
            // MPEG audio frames carry their own header: only a valid one can
            // start a run.
            if (runBytes < 4 || bitstream::mpegAudioFrameLength(block.data() + j) == 0)
                continue;
            mp3FrameChain(block.data() + j, int32_t(runBytes), from + j, chain);
        } else if (aacFrameChain(m_aacChain, block.data() + j, int32_t(runBytes), from + j, chain) < 0) {
            return false;  // no decoder: no candidate can do better
        }
        const size_t frames = frameCount(chain);
        if (frames < 1)
            continue;
        // An MPEG audio header is a dozen bits that picture data holds now
        // and then; a lone "frame" inside the gap that neither another
        // header (of a frame the gap cuts short, say) nor the end of the gap
        // follows is such a chance. At the gap's start, right behind the
        // video, it is where the audio belongs.
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
        int64_t k = 0, t = 0;
        for (size_t f = 0; f < frames; ++f) {
            const uint64_t size = uint64_t(chain[f + 1] - chain[f]);
            if (size < m_minFrameSize || size > m_maxFrameSize)
                break;
            ++k;
            t += int64_t(size);
        }
        if (k == 0)
            continue;
        const int64_t score = resyncScore(k, t, j, expected, g2, size_t(k) < frames);
        if (score > best) {
            best = score;
            out = chain;
        }
    }
    if (best == kNoScore || out.size() < 2)
        return false;
    FLOG(LogLevel::Info) << m_logLabel << "a resync ofs=" << out.front() << " consumed=" << chainBytes(out)
                         << " samples=" << frameCount(out) << " expected_samples=" << expected
                         << " expected_size=" << g2;
    return true;
}

void AudioInterleave::fillFrames(ScanBuffer& input, int64_t a, int64_t b, unsigned flags, bool mpeg) {
    if (m_scanInfo->gapStart() == 0)
        m_scanInfo->setGapStart(uint64_t(a));
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const InterleaveTiming t = timing();
    const int64_t expected = expectedFrames(m_videoSinceAudio, t, m_carry);
    const int64_t tol = tolerance(t);

    // The gap's runs of frames: the first found near its start, further ones
    // (behind damage inside the gap) anywhere in the rest.
    std::vector<FrameChain> runs;
    int64_t framesSoFar = 0;
    for (int64_t pos = a; b - pos >= kMinGap;) {
        FrameChain run;
        if (!resync(input, pos, b, std::max<int64_t>(expected - framesSoFar, 0), !runs.empty(), mpeg, run))
            break;
        // A lone frame amid damage is as likely a chance decode as audio.
        if (!runs.empty() && frameCount(run) < 2 && b - run.back() > kRunEndSlack)
            break;
        framesSoFar += int64_t(frameCount(run));
        pos = run.back();
        runs.push_back(std::move(run));
    }

    if (runs.empty()) {
        if (expected > 0 && m_lastSize > 0 && m_lastOffset + m_lastSize <= input.fileSize()) {
            for (int64_t i = 0; i < expected; ++i)
                repeatLast(input);
            FLOG(LogLevel::Info) << m_logLabel << "a filled missing chunk samples=" << expected << " ofs=" << m_lastOffset
                                 << " size=" << m_lastSize;
            takeCarry(expected);
        }
        return;
    }

    // Frames of implausible size are never emitted.
    std::vector<std::pair<int64_t, int64_t>> kept;
    bool dropped = false;
    int64_t unexplained = runs.front().front() - a;
    for (size_t r = 0; r < runs.size(); ++r) {
        const FrameChain& run = runs[r];
        if (r > 0)
            unexplained += run.front() - runs[r - 1].back();
        for (size_t f = 0; f + 1 < run.size(); ++f) {
            const int64_t size = run[f + 1] - run[f];
            // An encoder's last frame often holds only the end of the sound
            // and a few bytes of silence, far below any frame the reference
            // shows; at the very end of the media data it is that frame.
            const bool lastOfRecording =
                (flags & GapAtEnd) && r + 1 == runs.size() && f + 2 == run.size() && run[f + 1] == b && size > 0;
            if ((uint64_t(size) < m_minFrameSize && !lastOfRecording) || uint64_t(size) > m_maxFrameSize) {
                FLOG(LogLevel::Info) << m_logLabel << "a skipped ofs=" << run[f] << " size=" << size << " range=["
                                     << m_minFrameSize << "," << m_maxFrameSize << "]";
                dropped = true;
                continue;
            }
            kept.emplace_back(run[f], size);
        }
    }
    // A gap whose bytes are explained by whole frames, but for the padding
    // the reference shows around its chunks, is intact: its frames are the
    // recording's audio of the interval however many the video count
    // predicts (muxers do not cut audio chunks at video chunk boundaries).
    // The prediction only decides for gaps that damage has touched.
    const int64_t g1 = ref ? ref->layout().m_videoChunksStopGap : 0;
    const int64_t g3 = ref ? ref->layout().m_audioChunksStopGap : 0;
    const int64_t slack = g1 + g3 + kRunEndSlack;
    const int64_t tail = b - runs.back().back();
    const bool intact = !dropped && (unexplained <= slack || (flags & GapStartGuessed)) &&
                        (tail <= slack || (flags & GapAtEnd));

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
    // debt for the next damaged gap to pay.
    if (intact)
        m_carry = std::clamp(m_carry, -double(tol), double(tol));
}

void AudioInterleave::fillPcm(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const int64_t block = ref ? ref->layout().m_audioChunksSizeAll : 0;
    // As with AAC, no video since the last audio means no audio is due (the
    // header in front of a file's first video chunk, say).
    if (block < 1 || m_videoSinceAudio == 0)
        return;
    // PCM has no structure to find: the gap is the audio, taken whole in
    // whole sample frames. A recorder that cuts its audio chunks by time
    // leaves gaps somewhat smaller or larger than the reference's largest
    // (the reference is another, shorter recording), and the audio behind
    // the last video chunk is all the recording's. A gap of many cycles
    // holds more than audio (a chunk the search missed, damage): only one
    // cycle's worth is taken there, as in front of the first chunk, where
    // the gap's start is only a guess.
    int64_t size = b - a;
    const bool allAudio = !(flags & GapStartGuessed) && ((flags & GapAtEnd) || size <= kPcmGapCycles * block);
    if (!allAudio)
        size = std::min(size, block);
    const AudioParameters& audio = ref->audio();
    const int64_t frame = int64_t(std::max<uint32_t>(audio.m_channels, 1)) * std::max<uint32_t>(audio.m_sampleSize / 8, 1);
    size -= size % frame;
    // In front of the first chunk the gap's start is a guess; the audio
    // adjoins the video.
    if (flags & GapStartGuessed)
        a = b - size;
    if (size < 1 || a + size > input.fileSize())
        return;
    addAudioSample(*m_repairState, input, a, int32_t(size), kAudioWordNone);
    FLOG(LogLevel::Info) << m_logLabel << "pcm at " << a << "  size=" << size << "  gap=" << (b - a);
    m_videoSinceAudio = 0;
    m_carry = 0;
}

void AudioInterleave::fillGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags) {
    if (m_scanInfo->pcmFilter || m_scanInfo->aacFilter || a >= b || b - a < kMinGap)
        return;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::string codec = ref ? ref->audio().m_codec : std::string();
    if (codec.size() != 4)
        return;
    if (sharedGaps()) {
        fillSharedGap(input, a, b, flags);
        return;
    }
    if (mpegAudio())
        fillFrames(input, a, b, flags, true);
    else if (codec == "mp4a")
        fillFrames(input, a, b, flags, false);
    else if (isLinearPcm(codec))
        fillPcm(input, a, b, flags);
}
