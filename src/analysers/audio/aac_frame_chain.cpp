#include "analysers/audio/aac_frame_chain.h"

#include "scan/scan_buffer.h"
#include "log/logger.h"

#include <neaacdec.h>

#include <algorithm>

namespace {

// Owns one FAAD2 decoder for the life of a chain.
class AacDecoder {
public:
    AacDecoder() : m_handle(NeAACDecOpen()) {}
    ~AacDecoder() {
        if (m_handle)
            NeAACDecClose(m_handle);
    }
    AacDecoder(const AacDecoder&) = delete;
    AacDecoder& operator=(const AacDecoder&) = delete;

    // 16-bit output without down-mixing; the samples themselves are never
    // looked at, only the bytes each frame consumed.
    bool init(const AacChainConfig& config) {
        if (!m_handle || !config.decoderConfig || config.decoderConfigLength == 0)
            return false;
        NeAACDecConfigurationPtr settings = NeAACDecGetCurrentConfiguration(m_handle);
        if (!settings)
            return false;
        settings->outputFormat = FAAD_FMT_16BIT;
        settings->downMatrix = 0;
        NeAACDecSetConfiguration(m_handle, settings);
        unsigned long rate = 0;
        unsigned char channels = 0;
        // FAAD2 takes a non-const pointer but only reads the configuration.
        unsigned char* asc = const_cast<unsigned char*>(config.decoderConfig);
        return NeAACDecInit2(m_handle, asc, config.decoderConfigLength, &rate, &channels) >= 0;
    }

    // Bytes the frame at `data` took; 0 when the decoder rejected it.
    uint32_t frameLength(const uint8_t* data, uint32_t n) {
        NeAACDecFrameInfo info{};
        NeAACDecDecode(m_handle, &info, const_cast<unsigned char*>(data), n);
        if (info.error != 0)
            return 0;
        return uint32_t(std::min<unsigned long>(info.bytesconsumed, n));
    }

private:
    NeAACDecHandle m_handle;
};

}  // namespace

int64_t aacFrameChain(const AacChainConfig& config, const uint8_t* data, int32_t n, int64_t offset,
                      FrameChain& chain) {
    chain.clear();
    AacDecoder decoder;
    if (!decoder.init(config)) {
        FLOG(LogLevel::Error) << "NeAACDecInit2 error";
        return -1;
    }
    chain.push_back(offset);
    int32_t pos = 0;
    while (pos < n && chain.size() < kMaxFrameChainOffsets) {
        if (chain.size() > 1 && config.syncByte != 0 && data[pos] != config.syncByte)
            break;
        const uint32_t length = decoder.frameLength(data + pos, uint32_t(n - pos));
        if (length == 0)
            break;
        pos += int32_t(length);
        chain.push_back(offset + pos);
    }
    return chainBytes(chain);
}

int64_t aacFrameChain(const AacChainConfig& config, ScanBuffer& input, int64_t offset, int64_t count,
                      FrameChain& chain) {
    const int32_t want = int32_t(std::clamp<int64_t>(count, 0, kMaxFrameChainRead));
    ByteBlock block = input.readBlock(offset, want);
    return aacFrameChain(config, block.data(), block.length(), offset, chain);
}
