#include "analysers/audio/aac_frame_chain.h"

#include "bitstream/mpeg4_audio/aac_frame_length.h"
#include "scan/scan_buffer.h"
#include "log/logger.h"

#include <neaacdec.h>

#include <algorithm>

std::bitset<256> aacFrameFirstBytes(const std::bitset<256>& seen) {
    std::bitset<256> out;
    for (size_t v = 0; v < seen.size(); ++v)
        if (seen.test(v))
            out.set(v & ~size_t(1)).set(v | 1);
    return out;
}

AacConfigLimits aacConfigLimits(const uint8_t* config, uint32_t size, uint32_t channels) {
    // Channels of channelConfiguration 1-7.
    constexpr uint32_t kLayoutChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
    constexpr uint8_t kSingleChannelElement = 0x00;  // id 0, tag 0
    constexpr uint8_t kChannelPairElement = 0x20;    // id 1, tag 0
    constexpr uint64_t kMaxBytesPerChannel = 6144 / 8;
    AacConfigLimits out;
    const uint32_t layout = bitstream::aacFrameLength(config, size).m_channelConfiguration;
    if (layout >= 1 && layout < 8) {
        const uint8_t first = layout == 2 ? kChannelPairElement : kSingleChannelElement;
        out.firstBytes.set(first).set(first | 1);
        channels = kLayoutChannels[layout];
    }
    out.channels = channels;
    out.maxFrameBytes = kMaxBytesPerChannel * channels;
    return out;
}

void AacFrameMeter::close() {
    if (m_handle)
        NeAACDecClose(NeAACDecHandle(m_handle));
    m_handle = nullptr;
}

bool AacFrameMeter::restart() {
    if (m_handle && !m_used)
        return true;
    close();
    if (!m_config.decoderConfig || m_config.decoderConfigLength == 0)
        return false;
    const NeAACDecHandle handle = NeAACDecOpen();
    if (!handle)
        return false;
    m_handle = handle;
    m_used = false;
    NeAACDecConfigurationPtr settings = NeAACDecGetCurrentConfiguration(handle);
    if (!settings)
        return false;
    // The samples themselves are never looked at, only the bytes each frame
    // consumed: float output is a plain copy, where 16-bit output rounds
    // every sample.
    settings->outputFormat = FAAD_FMT_FLOAT;
    settings->downMatrix = 0;
    NeAACDecSetConfiguration(handle, settings);
    unsigned long rate = 0;
    unsigned char channels = 0;
    // FAAD2 takes a non-const pointer but only reads the configuration.
    unsigned char* asc = const_cast<unsigned char*>(m_config.decoderConfig);
    if (NeAACDecInit2(handle, asc, m_config.decoderConfigLength, &rate, &channels) < 0) {
        close();
        return false;
    }
    m_channels = channels;
    return true;
}

uint32_t AacFrameMeter::frameLength(const uint8_t* data, uint32_t n) {
    if (m_screen.rejects(data, n))
        return 0;
    NeAACDecFrameInfo info{};
    m_used = true;
    NeAACDecDecode(NeAACDecHandle(m_handle), &info, const_cast<unsigned char*>(data), n);
    if (info.error != 0)
        return 0;
    // FAAD2 reads whatever elements the bits name: another track's frame
    // (a mono frame under a 5.1 configuration, read with the wrong band
    // tables) can pass as one frame of this track, but not with its channels.
    if (m_channels != 0 && info.channels != m_channels)
        return 0;
    return uint32_t(std::min<unsigned long>(info.bytesconsumed, n));
}

bool AacChainDecoder::extend(size_t maxFrames) {
    if (!m_opened) {
        if (!m_meter.restart()) {
            FLOG(LogLevel::Error) << "NeAACDecInit2 error";
            m_ended = true;
            return false;
        }
        m_opened = true;
    }
    const bool cut = m_config.firstBytes.any();
    const size_t maxOffsets = std::min(kMaxFrameChainOffsets, maxFrames + 1);
    while (!m_ended && m_chain.size() < maxOffsets) {
        if (m_pos >= m_n || (m_chain.size() > 1 && cut && !m_config.firstBytes.test(m_data[m_pos]))) {
            m_ended = true;
            break;
        }
        const uint32_t length = m_meter.frameLength(m_data + m_pos, uint32_t(m_n - m_pos));
        if (length == 0) {
            m_ended = true;
            break;
        }
        m_pos += int32_t(length);
        m_chain.push_back(m_chain.front() + m_pos);
    }
    return true;
}

int64_t aacFrameChain(const AacChainConfig& config, const uint8_t* data, int32_t n, int64_t offset,
                      FrameChain& chain, size_t maxFrames) {
    chain.clear();
    AacChainDecoder run(config, data, n, offset);
    if (!run.extend(maxFrames))
        return -1;
    chain = run.chain();
    return chainBytes(chain);
}

int64_t aacFrameChain(const AacChainConfig& config, ScanBuffer& input, int64_t offset, int64_t count,
                      FrameChain& chain) {
    const int32_t want = int32_t(std::clamp<int64_t>(count, 0, kMaxFrameChainRead));
    ByteBlock block = input.readBlock(offset, want);
    return aacFrameChain(config, block.data(), block.length(), offset, chain);
}
