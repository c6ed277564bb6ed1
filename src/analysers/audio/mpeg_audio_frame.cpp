#include "analysers/audio/mpeg_audio_frame.h"

#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <optional>

namespace {

// Frames shorter than this cannot hold a header and any audio: a chain that
// meets one has left the audio.
constexpr int32_t kMinMpegFrameLength = 5;

}  // namespace

int64_t mp3FrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) {
    return mpegTrackChain(data, n, offset, MpegTrackFormat{}, kMaxFrameChainOffsets, chain);
}

int64_t mpegTrackChain(const uint8_t* data, int32_t n, int64_t offset, const MpegTrackFormat& format,
                       size_t maxOffsets, FrameChain& chain) {
    chain.assign(1, offset);
    maxOffsets = std::min(maxOffsets, kMaxFrameChainOffsets);
    int32_t pos = 0;
    while (n - pos >= 4 && chain.size() < maxOffsets) {
        const std::optional<bitstream::MpegAudioHeader> header = bitstream::parseMpegAudioHeader(data + pos);
        if (!header || header->m_frameLength < kMinMpegFrameLength || header->m_frameLength > n - pos ||
            (format.sampleRate > 0 && header->m_sampleRate != format.sampleRate) ||
            (format.channels > 0 && header->m_channels != format.channels))
            break;
        pos += header->m_frameLength;
        chain.push_back(offset + pos);
    }
    return chainBytes(chain);
}

int64_t mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) {
    const int32_t want = int32_t(std::clamp<int64_t>(count, 0, kMaxFrameChainRead));
    ByteBlock block = input.readBlock(offset, want);
    return mp3FrameChain(block.data(), block.length(), offset, chain);
}
