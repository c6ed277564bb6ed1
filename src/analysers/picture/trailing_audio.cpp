#include "analysers/picture/trailing_audio.h"

#include "analysers/audio/mpeg_audio_frame.h"
#include "analysers/frames/command_line_pcm.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/reference_sample_bytes.h"
#include "scan/byte_block.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int32_t kAudioWord = -1;
// Frames are read a little beyond the end they must meet, so that the
// decoder never sees the frame cut where the picture begins.
constexpr int64_t kReadBeyond = 16;
// A run of more frames than this behind one picture is no interleave.
constexpr int64_t kMaxRunFrames = 64;
// Behind the last picture lies the rest of the recording's sound: a few
// frames more than the interleave puts behind one picture.
constexpr int64_t kEndSurplus = 6;
// An AAC frame holds at most 6144 bits per channel; an MPEG audio frame at
// most 2881 bytes (layer II at 160 kb/s and 8 kHz, padded); none is
// shorter than a header and a byte of data.
constexpr int64_t kAacBytesPerChannel = 768;
constexpr int64_t kMaxMpegAudioFrame = 2881;
constexpr int64_t kMinFrameBytes = 5;
// Reference frames whose first byte is counted.
constexpr size_t kFirstByteSamples = 2000;
// When the reference shows no audio frames, their sizes are unknown.
constexpr int64_t kDefaultMaxFrame = 2048;
// The sample rate of a PCM run guessed when none is known.
constexpr int64_t kGuessedRate = 48000;

bool isPcmCodec(const std::string& codec) {
    static const char* const kCodecs[] = {"twos", "sowt", "in24", "in32", "lpcm", "raw "};
    return std::any_of(std::begin(kCodecs), std::end(kCodecs), [&](const char* c) { return codec == c; });
}

}  // namespace

void TrailingAudio::prepare() {
    m_kind = Kind::None;
    m_pattern = {};
    m_runGuess = 0;
    ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!ref || !ref->audioTrack(0)) {
        // No reference sound: the command line's PCM, if it names one, in
        // runs of any length up to a second or so (muxers cut their chunks
        // by time, a second at most).
        if (const std::optional<PcmLayout> pcm = commandLinePcm(*m_repairState)) {
            m_kind = Kind::Pcm;
            m_pcmChannels = pcm->channels;
            m_pcmBytes = pcm->bytesPerSample;
            m_pcmFrame = pcm->frameBytes();
            m_pcmLittleEndian = pcm->littleEndian;
            const int64_t rate = m_repairState->m_audio->m_sampleRate;
            m_runGuess = m_pcmFrame * (rate > 0 ? rate : kGuessedRate);
        }
        return;
    }
    if (ref->isOpen() && ref->videoSamples().empty())
        ref->collectSamples();
    const AudioParameters& audio = ref->audio();
    if (isPcmCodec(audio.m_codec)) {
        m_kind = Kind::Pcm;
        m_pcmChannels = std::max<int64_t>(audio.m_channels, 1);
        m_pcmBytes = std::max<int64_t>(audio.m_sampleSize / 8, 1);
        m_pcmFrame = m_pcmChannels * m_pcmBytes;
        m_pcmLittleEndian = audio.m_codec == "sowt" || audio.m_codec == "raw ";
    } else if (audio.m_codec == ".mp3" ||
               (audio.m_codec == "mp4a" && bitstream::isMpegAudioObjectType(audio.m_esds.m_objectType))) {
        m_kind = Kind::MpegAudio;
    } else if (audio.m_codec == "mp4a") {
        m_kind = Kind::Aac;
        m_aac.decoderConfig = audio.m_esds.m_decoderInfo;
        m_aac.decoderConfigLength = audio.m_esds.m_decoderInfoLength;
        m_aac.firstBytes = aacFrameFirstBytes(audio.m_frameFirstBytes);
        // How often each first byte opens a frame: an encoder's first frame
        // may open with an element no other does, and chance bytes that take
        // its place decode as well as any.
        m_firstByteCount.fill(0);
        visitReferenceSamples(ref->movieParameters().m_fileName, ref->audioSamples(), kFirstByteSamples, 1, INT32_MAX,
                              [this](const uint8_t* data, int64_t) { ++m_firstByteCount[data[0] & ~1u]; });
    } else {
        return;
    }
    m_minFrame = 0;
    m_maxFrame = 0;
    for (const MediaSample& s : ref->audioSamples()) {
        m_minFrame = m_minFrame == 0 ? s.size : std::min<int64_t>(m_minFrame, s.size);
        m_maxFrame = std::max<int64_t>(m_maxFrame, s.size);
    }
    if (m_maxFrame == 0) {
        m_minFrame = 1;
        m_maxFrame = kDefaultMaxFrame;
    }
    // This recording's frames may be smaller or larger than the reference's
    // (a quiet scene, a noisy one): a search reaches as far as the format
    // allows.
    m_frameCap = m_kind == Kind::Aac ? kAacBytesPerChannel * std::max<int64_t>(audio.m_channels, 1)
                                     : kMaxMpegAudioFrame;
    m_frameCap = std::max(m_frameCap, m_maxFrame);
    m_sampleRate = audio.m_sampleRate;
    m_pattern.learn(ref->videoSamples(), ref->audioSamples(), m_kind == Kind::Pcm);
    FLOG(LogLevel::Info) << "picture audio: reference pattern period=" << m_pattern.period()
                         << " largest=" << m_pattern.largestRun() << " frames " << m_minFrame << ".." << m_maxFrame
                         << " first bytes " << m_aac.firstBytes.count();
}

int64_t TrailingAudio::chainFrom(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) const {
    chain.clear();
    if (m_kind == Kind::MpegAudio)
        return mp3FrameChain(data, n, offset, chain);
    return aacFrameChain(m_aac, data, n, offset, chain);
}

int64_t TrailingAudio::frameLengthAt(AacFrameMeter& meter, const uint8_t* data, int64_t n) const {
    if (m_kind == Kind::MpegAudio) {
        const int64_t length = n >= 4 ? bitstream::mpegAudioFrameLength(data) : 0;
        return length <= n ? length : 0;
    }
    // A frame's length follows from its own bits: a fresh decoder measures
    // it as well as one that has read the frames in front.
    if (!meter.restart())
        return 0;
    return meter.frameLength(data, uint32_t(std::min<int64_t>(n, UINT32_MAX)));
}

bool TrailingAudio::opensFrame(uint8_t first) const {
    return m_kind == Kind::MpegAudio ? first == 0xFF : (m_aac.firstBytes.none() || m_aac.firstBytes.test(first));
}

void TrailingAudio::consider(const FrameChain& chain, int64_t count, int64_t score, uint8_t first, int64_t& bestScore,
                             int64_t& bestOpens, FrameChain& out) const {
    const int64_t opens = m_kind == Kind::Aac ? m_firstByteCount[first & ~1u] : 0;
    if (bestScore < 0 || score < bestScore || (score == bestScore && opens > bestOpens)) {
        bestScore = score;
        bestOpens = opens;
        out.assign(chain.begin(), chain.begin() + count + 1);
    }
}

bool TrailingAudio::frames(ScanBuffer& input, int64_t from, int64_t end, int64_t expected, Search search,
                           FrameChain& out) {
    const bool exact = search != Search::Cut;
    // An unknown count (-1): any the reference shows, the longest run first.
    const bool unknown = expected < 0;
    // Behind a picture the reference's count and one more; otherwise as
    // many as the reference ever wrote in one run, and some.
    int64_t most = std::max<int64_t>(expected, 1) + 1;
    if (search != Search::Exact || unknown)
        most = std::max<int64_t>(expected, m_pattern.mostFrames()) + kEndSurplus;
    most = std::min(most, kMaxRunFrames);
    const int64_t lo = std::max(from, end - most * m_frameCap - (exact ? 0 : m_frameCap));
    const int64_t hi = end - (exact ? kMinFrameBytes : 1);
    if (hi < lo)
        return false;
    const int64_t readEnd = std::min(end + (exact ? kReadBeyond : 0), input.fileSize());
    ByteBlock block = input.readBlock(lo, int32_t(readEnd - lo));
    const int64_t n = block.length();
    const uint8_t* data = block.data();
    if (n < end - lo)
        return false;
    // Between two pictures the reference's count first, then the run that
    // opens the way the reference's frames open most often (chance bytes in
    // front of the first frame may decode into it), then the earliest; at
    // the end of the input, where the rest of the recording's sound lies,
    // the longest run.
    const bool nearest = (search == Search::Exact || search == Search::Guessed) && !unknown;
    int64_t bestScore = -1, bestOpens = 0;
    AacFrameMeter meter(m_aac);
    FrameChain chain;
    if (exact) {
        // Backwards from the end: the frames from t on end exactly there when
        // the frame at t ends where such a run begins (or at the end itself).
        std::vector<int32_t> framesFrom(size_t(end - lo), -1);
        std::vector<int32_t> lengthAt(size_t(end - lo), 0);
        // No frame is longer than the format allows: once that far in front
        // of every run found so far, no earlier frame can join one.
        int64_t earliest = end;
        for (int64_t t = hi; t >= lo && t + m_frameCap >= earliest; --t) {
            if (!opensFrame(data[t - lo]))
                continue;
            const int64_t length = frameLengthAt(meter, data + (t - lo), n - (t - lo));
            const int64_t next = t + length;
            if (length < kMinFrameBytes || next > end)
                continue;
            const int32_t count = next == end ? 1 : framesFrom[size_t(next - lo)] < 0 ? -1
                                                                                  : framesFrom[size_t(next - lo)] + 1;
            framesFrom[size_t(t - lo)] = count;
            lengthAt[size_t(t - lo)] = int32_t(length);
            if (count > 0)
                earliest = t;
        }
        for (int64_t t = lo; t <= hi; ++t) {
            const int64_t count = framesFrom[size_t(t - lo)];
            if (count < 1 || count > most)
                continue;
            chain.assign(1, t);
            for (int64_t u = t; u < end; u += lengthAt[size_t(u - lo)])
                chain.push_back(u + lengthAt[size_t(u - lo)]);
            consider(chain, count, nearest ? std::llabs(count - expected) : most - count, data[t - lo], bestScore,
                     bestOpens, out);
        }
        return bestScore >= 0;
    }
    for (int64_t t = lo; t <= hi && t - lo < n; ++t) {
        const uint8_t first = data[t - lo];
        if (!opensFrame(first))
            continue;
        chainFrom(data + (t - lo), int32_t(n - (t - lo)), t, chain);
        // Whole frames up to where the input stops.
        while (chain.size() > 1 && chain.back() > end)
            chain.pop_back();
        int64_t count = -1;
        if (frameCount(chain) >= 1 && chain.back() + m_frameCap >= end &&
            cutFrameFits(data + (chain.back() - lo), end - chain.back()) && plausibleFrames(chain))
            count = int64_t(frameCount(chain));
        else if (bestScore < 0 && recorderFrameCut(data + (t - lo), end - t))
            count = 0;
        if (count < 0 || count > most || (count == 0 && bestScore >= 0))
            continue;
        if (count == 0) {
            // Nothing whole behind the picture but the start of a frame of
            // the recorder's kind: the input stops in it.
            bestScore = most + 1;
            out.assign(1, t);
            continue;
        }
        consider(chain, count, most - count, first, bestScore, bestOpens, out);
    }
    return bestScore >= 0;
}

bool TrailingAudio::find(ScanBuffer& input, int64_t from, int64_t end, uint64_t k, int64_t previousEnd,
                         FrameChain& out) {
    out.clear();
    if (m_kind == Kind::None || end <= from)
        return false;
    const ReferenceAudioPattern::Run run = m_pattern.after(k);
    // Past the reference's length its pattern is a guess (the rates of
    // sound and picture seldom make a short period): the audio tells
    // itself where it can.
    if (!m_pattern.shown(k)) {
        if (m_kind == Kind::Pcm) {
            if (pcmByCourse(input, from, end, previousEnd, true, out))
                return true;
            if (m_pattern.period() == 0)
                return false;
        } else {
            // Frames tell themselves: the longest run that ends at the picture.
            return frames(input, from, end, -1, Search::Guessed, out);
        }
    }
    if (m_kind == Kind::Pcm) {
        const int64_t size = run.bytes - run.bytes % m_pcmFrame;
        if (size <= 0)
            return false;
        // A run the picture has no room for: this recording's differs here.
        if (end - size < from)
            return pcmByCourse(input, from, end, previousEnd, true, out);
        out = {end - size, end};
        return true;
    }
    if (!m_pattern.empty() && run.frames == 0)
        return false;
    return frames(input, from, end, run.frames, Search::Exact, out);
}

bool TrailingAudio::findBefore(ScanBuffer& input, int64_t from, int64_t end, FrameChain& out) {
    out.clear();
    const ReferenceAudioPattern::Run run = m_pattern.before();
    if (m_kind == Kind::None || end <= from || run.frames == 0)
        return false;
    if (m_kind == Kind::Pcm) {
        const int64_t size = run.bytes - run.bytes % m_pcmFrame;
        if (size <= 0 || end - size < from)
            return false;
        out = {end - size, end};
        return true;
    }
    return frames(input, from, end, run.frames, Search::Exact, out);
}

bool TrailingAudio::cutFrameFits(const uint8_t* data, int64_t left) const {
    // What follows the last whole frame is the start of one the input cut
    // short: MPEG audio shows it by a header that promises more bytes.
    if (m_kind != Kind::MpegAudio || left < 4)
        return true;
    const int32_t length = bitstream::mpegAudioFrameLength(data);
    return length > left;
}

bool TrailingAudio::recorderFrameCut(const uint8_t* data, int64_t left) const {
    if (m_kind != Kind::MpegAudio || left < 4)
        return false;
    const std::optional<bitstream::MpegAudioHeader> header = bitstream::parseMpegAudioHeader(data);
    return header && header->m_frameLength > left && header->m_frameLength >= m_minFrame &&
           header->m_frameLength <= m_maxFrame && uint32_t(header->m_sampleRate) == m_sampleRate;
}

bool TrailingAudio::plausibleFrames(const FrameChain& chain) const {
    for (size_t i = 1; i < chain.size(); ++i) {
        const int64_t size = chain[i] - chain[i - 1];
        if (size < kMinFrameBytes || size > m_frameCap)
            return false;
    }
    return true;
}

bool TrailingAudio::findAtEnd(ScanBuffer& input, int64_t from, int64_t end, uint64_t k, int64_t previousEnd,
                              bool mayBeCut, FrameChain& out) {
    out.clear();
    if (m_kind == Kind::None || end <= from)
        return false;
    const ReferenceAudioPattern::Run run = m_pattern.after(k);
    if (m_kind != Kind::Pcm)
        return frames(input, from, end, run.frames, Search::AtEnd, out) ||
               (mayBeCut && frames(input, from, end, std::max<int64_t>(run.frames, 1), Search::Cut, out));
    // The rest of the recording's sound or a piece cut short.
    return pcmByCourse(input, from, end, previousEnd, !mayBeCut, out);
}

void TrailingAudio::emit(ScanBuffer& input, const FrameChain& chain, const std::string& label) {
    for (size_t i = 1; i < chain.size(); ++i) {
        const int64_t size = chain[i] - chain[i - 1];
        addAudioSample(*m_repairState, input, chain[i - 1], int32_t(size), kAudioWord);
        FLOG(LogLevel::Info) << label << " audio at " << chain[i - 1] << "  size=" << size;
    }
}
