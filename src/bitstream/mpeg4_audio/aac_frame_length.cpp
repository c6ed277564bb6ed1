#include "bitstream/mpeg4_audio/aac_frame_length.h"

#include "bitstream/common/bit_reader.h"

namespace bitstream {

namespace {

// audioObjectType with its escape for the types above 31.
uint32_t readObjectType(BitReader& bits) {
    const uint32_t type = bits.readBits(5);
    return type == 31 ? 32 + bits.readBits(6) : type;
}

}  // namespace

uint32_t aacFrameLength(const uint8_t* config, uint32_t size) {
    if (!config || size < 2)
        return 0;
    BitReader bits(config, size);
    const uint32_t type = readObjectType(bits);
    if (bits.readBits(4) == 0xF)  // samplingFrequencyIndex escaped to a 24-bit rate
        bits.skipBits(24);
    bits.skipBits(4);  // channelConfiguration
    // The GASpecificConfig's first bit, frameLengthFlag, picks the short frame.
    switch (type) {
    case 1: case 2: case 3: case 4: case 6: case 7: case 17: case 19: case 20: case 21: case 22:
        return !bits.ok() ? 0 : bits.readFlag() ? 960 : 1024;
    case 23: case 39:  // ER AAC LD and ELD
        return !bits.ok() ? 0 : bits.readFlag() ? 480 : 512;
    default:
        return 0;
    }
}

}  // namespace bitstream
