#include "analysers/audio/aac_analyser.h"

#include "analysers/audio/mpeg_audio_frame.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "scan/scan_buffer.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <cstring>

namespace {

// An MPEG audio run is followed over this many bytes: with frames of a few
// hundred bytes that is hundreds of frames, far more than one interleave
// chunk, and little to read again when the next chunk's run starts.
constexpr int64_t kMp3RunSpan = 262144;
// AAC frames are only found by decoding, which is costly; a few KiB of them
// tell a real run from a chance decode at the sync byte.
constexpr int64_t kAacRunSpan = 5000;
// Audio samples reported by the audio analysers carry no track word.
constexpr int32_t kAudioWordNone = -1;

}  // namespace

AACAnalyser::AACAnalyser(RepairState* repairState, ScanInfo* scanInfo) : StreamAnalyser(repairState, scanInfo) {}

const ReferenceInfo* AACAnalyser::reference() const {
    return m_repairState ? m_repairState->m_reference.get() : nullptr;
}

uint8_t AACAnalyser::syncByte() const {
    const ReferenceInfo* ref = reference();
    return ref ? ref->audio().m_audioDataStart : 0;
}

AacChainConfig AACAnalyser::chainConfig() const {
    AacChainConfig config;
    if (const ReferenceInfo* ref = reference()) {
        config.decoderConfig = ref->audio().m_esds.m_decoderInfo;
        config.decoderConfigLength = ref->audio().m_esds.m_decoderInfoLength;
        // Every byte the reference's frames begin with; the chunk's first
        // byte alone when the reference's samples have not been read.
        config.firstBytes = aacFrameFirstBytes(ref->audio().m_frameFirstBytes);
        if (config.firstBytes.none() && ref->audio().m_audioDataStart != 0)
            config.firstBytes.set(ref->audio().m_audioDataStart);
    }
    return config;
}

bool AACAnalyser::accepts() {
    if (m_scanInfo && m_scanInfo->aacFilter)
        return true;
    const ReferenceInfo* ref = reference();
    return ref && ref->audio().m_codec == "mp4a";
}

bool AACAnalyser::check(int64_t offset, const uint8_t* data, int32_t available) {
    if (!m_scanInfo->aacFilter || offset <= m_lastTakenByte || available < 1)
        return false;
    // Without a sync byte from the reference every position is a candidate.
    const uint8_t sync = syncByte();
    return sync == 0 || data[0] == sync;
}

int32_t AACAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    if (!m_scanInfo->aacFilter || count <= 0 || available < 1)
        return count;
    // Positions up to the last byte taken are never offered again.
    int32_t start = 0;
    if (offset <= m_lastTakenByte) {
        if (m_lastTakenByte - offset + 1 >= count)
            return count;
        start = int32_t(m_lastTakenByte - offset + 1);
    }
    const uint8_t sync = syncByte();
    if (sync == 0)
        return start;
    const void* hit = std::memchr(data + start, sync, size_t(count - start));
    return hit ? int32_t(static_cast<const uint8_t*>(hit) - data) : count;
}

int64_t AACAnalyser::aacFrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) const {
    return ::aacFrameChain(chainConfig(), input, offset, count, chain);
}

int64_t AACAnalyser::aacFrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) const {
    return ::aacFrameChain(chainConfig(), data, n, offset, chain);
}

int64_t AACAnalyser::mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) const {
    return ::mp3FrameChain(input, offset, count, chain);
}

bool AACAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    const ReferenceInfo* ref = reference();
    // Usually inside the current window: no file read.
    const uint8_t* header = buffer.get(offset, 4);
    if (buffer.available() < 4)
        return false;

    const uint8_t objectType = ref ? ref->audio().m_esds.m_objectType : 0;
    const bool mpegAudio = bitstream::mpegAudioFrameLength(header) > 0 &&
                           (bitstream::isMpegAudioObjectType(objectType) || syncByte() == 0xFF);
    FrameChain chain;
    int64_t covered = 0;
    if (mpegAudio) {
        covered = mp3FrameChain(buffer, offset, kMp3RunSpan, chain);
        if (frameCount(chain) < 2)
            return false;
        FLOG(LogLevel::Info) << "MP3 c at " << offset << "  size=" << covered;
        for (size_t i = 0; i + 1 < chain.size(); ++i) {
            const int32_t size = int32_t(chain[i + 1] - chain[i]);
            FLOG(LogLevel::Info) << "MP3 s at " << chain[i] << "  size=" << size;
            addAudioSample(*m_repairState, buffer, chain[i], size, kAudioWordNone);
        }
    } else {
        // Raw AAC frames can only be told apart by decoding them with the
        // reference's AudioSpecificConfig; without one there is nothing to try
        // (and a decoder set-up failure at every byte would flood the log).
        if (!ref || ref->audio().m_esds.m_decoderInfoLength == 0)
            return false;
        covered = aacFrameChain(buffer, offset, kAacRunSpan, chain);
        const uint32_t perChunk = ref ? ref->layout().m_audioSamplesPerChunk : 0;
        if (covered <= 0 || chain.size() <= size_t(perChunk / 2))
            return false;
        FLOG(LogLevel::Info) << "AAC c at " << offset << "  size=" << covered;
        m_repairState->m_audio->m_codec = "mp4a";
        for (size_t i = 0; i + 1 < chain.size(); ++i) {
            const int32_t size = int32_t(chain[i + 1] - chain[i]);
            FLOG(LogLevel::Info) << "AAC s at " << chain[i] << "  size=" << size;
            addAudioSample(*m_repairState, buffer, chain[i], size, kAudioWordNone);
        }
    }
    m_lastTakenByte = offset + covered - 1;
    if (ref && ref->video().m_codec == "mp4v")
        m_scanInfo->setFrameEnd(uint64_t(offset - 1));
    return false;
}
