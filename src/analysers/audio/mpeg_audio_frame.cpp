#include "analysers/audio/mpeg_audio_frame.h"

#include "scan/scan_buffer.h"

#include <algorithm>

namespace {

// Bitrates in kbit/s by bitrate index. MPEG-1 (ISO/IEC 11172-3) has one
// table per layer; the lower sample rates (ISO/IEC 13818-3) have one for
// layer I and one shared by layers II and III.
constexpr int32_t kMpeg1Bitrates[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // layer III
};
constexpr int32_t kMpeg2Bitrates[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // layers II and III
};
constexpr int32_t kSampleRates[3] = {44100, 48000, 32000};

// Frames shorter than this cannot hold a header and any audio: a chain that
// meets one has left the audio.
constexpr int32_t kMinMpegFrameLength = 5;

}  // namespace

int32_t mpegAudioFrameLength(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    const int layerBits = (h[1] >> 1) & 3;  // 3 layer I, 2 layer II, 1 layer III, 0 reserved
    const int bitrateIndex = (h[2] >> 4) & 15;
    const int rateIndex = (h[2] >> 2) & 3;
    const int32_t padding = (h[2] >> 1) & 1;
    if (version == 1 || layerBits == 0 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15)
        return 0;
    const int layer = 4 - layerBits;  // 1, 2 or 3
    int32_t rate = kSampleRates[rateIndex];
    if (version == 2)
        rate /= 2;
    else if (version == 0)
        rate /= 4;
    const int32_t bitrate = version == 3 ? kMpeg1Bitrates[layer - 1][bitrateIndex]
                                         : kMpeg2Bitrates[layer == 1 ? 0 : 1][bitrateIndex];
    if (rate == 0 || bitrate == 0)
        return 0;
    if (layer == 1)
        return (12000 * bitrate / rate + padding) * 4;
    if (layer == 3 && version != 3)
        return 72000 * bitrate / rate + padding;
    return 144000 * bitrate / rate + padding;
}

int64_t mp3FrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) {
    chain.clear();
    chain.push_back(offset);
    int32_t pos = 0;
    while (n - pos >= 4 && chain.size() < kMaxFrameChainOffsets) {
        const int32_t length = mpegAudioFrameLength(data + pos);
        if (length < kMinMpegFrameLength || length > n - pos)
            break;
        pos += length;
        chain.push_back(offset + pos);
    }
    return chainBytes(chain);
}

int64_t mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) {
    const int32_t want = int32_t(std::clamp<int64_t>(count, 0, kMaxFrameChainRead));
    ByteBlock block = input.readBlock(offset, want);
    return mp3FrameChain(block.data(), block.length(), offset, chain);
}
