#include "reference/audio_frame_duration.h"

#include "bitstream/common/bit_reader.h"
#include "qt/movie_track.h"
#include "qt/qt_types.h"

namespace {

// MPEG-4 systems object types that carry an AudioSpecificConfig.
constexpr uint8_t kObjectTypeMpeg4Audio = 0x40;
constexpr uint8_t kObjectTypeMpeg2AacMain = 0x66;
constexpr uint8_t kObjectTypeMpeg2AacSsr = 0x68;

// audioObjectType with its escape for the types above 31.
uint32_t readObjectType(bitstream::BitReader& bits) {
    const uint32_t type = bits.readBits(5);
    return type == 31 ? 32 + bits.readBits(6) : type;
}

}  // namespace

uint32_t aacFrameLength(const uint8_t* config, uint32_t size) {
    if (!config || size < 2)
        return 0;
    bitstream::BitReader bits(config, size);
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

uint32_t audioFrameDuration(const MovieTrack& track, uint32_t timescale) {
    const ESDescriptor& esds = track.m_esds;
    const uint8_t object = esds.m_objectType;
    if (track.m_codec == makeFourcc("mp4a") &&
        (object == kObjectTypeMpeg4Audio || (object >= kObjectTypeMpeg2AacMain && object <= kObjectTypeMpeg2AacSsr))) {
        if (const uint32_t length = aacFrameLength(esds.m_decoderInfo, esds.m_decoderInfoLength))
            return length;
    }
    const uint32_t duration = track.m_sampleDuration;
    const uint32_t source = track.m_mediaTimescale;
    if (duration == 0 || timescale == 0 || source == 0 || source == timescale)
        return duration;
    const uint64_t converted = (uint64_t(duration) * timescale + source / 2) / source;
    return converted > UINT32_MAX ? 0 : uint32_t(converted);
}
