#include "bitstream/mpeg_audio/mpeg_audio_header.h"

namespace bitstream {

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
// MPEG-1 rates; MPEG-2 halves them and MPEG-2.5 quarters them.
constexpr int32_t kSampleRates[3] = {44100, 48000, 32000};

constexpr int kSingleChannelMode = 3;

}  // namespace

std::optional<MpegAudioHeader> parseMpegAudioHeader(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)  // 11-bit syncword
        return std::nullopt;
    const int versionBits = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    const int layerBits = (h[1] >> 1) & 3;    // 3 layer I, 2 layer II, 1 layer III, 0 reserved
    const int bitrateIndex = (h[2] >> 4) & 15;
    const int rateIndex = (h[2] >> 2) & 3;  // sampling_frequency
    const int32_t padding = (h[2] >> 1) & 1;
    const int mode = (h[3] >> 6) & 3;
    if (versionBits == 1 || layerBits == 0 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15)
        return std::nullopt;

    MpegAudioHeader out;
    out.m_version = versionBits == 3   ? MpegAudioVersion::Mpeg1
                    : versionBits == 2 ? MpegAudioVersion::Mpeg2
                                       : MpegAudioVersion::Mpeg25;
    const bool mpeg1 = out.m_version == MpegAudioVersion::Mpeg1;
    out.m_layer = 4 - layerBits;
    out.m_sampleRate = kSampleRates[rateIndex] / (mpeg1 ? 1 : out.m_version == MpegAudioVersion::Mpeg2 ? 2 : 4);
    out.m_bitrate = mpeg1 ? kMpeg1Bitrates[out.m_layer - 1][bitrateIndex]
                          : kMpeg2Bitrates[out.m_layer == 1 ? 0 : 1][bitrateIndex];
    out.m_channels = mode == kSingleChannelMode ? 1 : 2;
    out.m_padding = padding != 0;

    // A layer I slot is 4 bytes, layers II and III use 1-byte slots. MPEG-2
    // layer III frames hold half as many samples as MPEG-1 ones.
    if (out.m_layer == 1) {
        out.m_samplesPerFrame = 384;
        out.m_frameLength = (12000 * out.m_bitrate / out.m_sampleRate + padding) * 4;
    } else if (out.m_layer == 3 && !mpeg1) {
        out.m_samplesPerFrame = 576;
        out.m_frameLength = 72000 * out.m_bitrate / out.m_sampleRate + padding;
    } else {
        out.m_samplesPerFrame = 1152;
        out.m_frameLength = 144000 * out.m_bitrate / out.m_sampleRate + padding;
    }
    return out;
}

int32_t mpegAudioFrameLength(const uint8_t* header) {
    const std::optional<MpegAudioHeader> h = parseMpegAudioHeader(header);
    return h ? h->m_frameLength : 0;
}

}  // namespace bitstream
