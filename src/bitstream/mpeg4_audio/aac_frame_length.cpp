#include "bitstream/mpeg4_audio/aac_frame_length.h"

#include "bitstream/common/bit_reader.h"

namespace bitstream {

namespace {

// samplingFrequencyIndex 0-12; 13 and 14 are reserved, 15 escapes to an
// explicit 24-bit rate.
constexpr uint32_t kSamplingFrequencies[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                               22050, 16000, 12000, 11025, 8000,  7350};
constexpr uint32_t kExplicitFrequency = 15;

// audioObjectType with its escape for the types above 31.
uint32_t readObjectType(BitReader& bits) {
    const uint32_t type = bits.readBits(5);
    return type == 31 ? 32 + bits.readBits(6) : type;
}

}  // namespace

AacFrameLength aacFrameLength(const uint8_t* config, uint32_t size) {
    AacFrameLength out;
    if (!config || size < 2)
        return out;
    BitReader bits(config, size);
    const uint32_t type = readObjectType(bits);
    const uint32_t index = bits.readBits(4);
    const uint32_t rate = index == kExplicitFrequency ? bits.readBits(24)
                          : index < 13               ? kSamplingFrequencies[index]
                                                     : 0;
    out.m_channelConfiguration = bits.readBits(4);
    if (!bits.ok())
        out.m_channelConfiguration = 0;
    // The GASpecificConfig's first bit, frameLengthFlag, picks the short frame.
    uint32_t samples = 0;
    switch (type) {
    case 1: case 2: case 3: case 4: case 6: case 7: case 17: case 19: case 20: case 21: case 22:
        samples = bits.readFlag() ? 960 : 1024;
        break;
    case 23: case 39:  // ER AAC LD and ELD
        samples = bits.readFlag() ? 480 : 512;
        break;
    default:
        return out;
    }
    if (!bits.ok() || rate == 0)
        return out;
    out.m_samples = samples;
    out.m_sampleRate = rate;
    return out;
}

}  // namespace bitstream
