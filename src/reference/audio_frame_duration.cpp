#include "reference/audio_frame_duration.h"

#include "bitstream/mpeg4_audio/aac_frame_length.h"
#include "qt/movie_track.h"
#include "qt/qt_types.h"

namespace {

// MPEG-4 systems object types that carry an AudioSpecificConfig.
constexpr uint8_t kObjectTypeMpeg4Audio = 0x40;
constexpr uint8_t kObjectTypeMpeg2AacMain = 0x66;
constexpr uint8_t kObjectTypeMpeg2AacSsr = 0x68;

}  // namespace

uint32_t audioFrameDuration(const MovieTrack& track, uint32_t timescale) {
    const ESDescriptor& esds = track.m_esds;
    const uint8_t object = esds.m_objectType;
    if (track.m_codec == makeFourcc("mp4a") &&
        (object == kObjectTypeMpeg4Audio || (object >= kObjectTypeMpeg2AacMain && object <= kObjectTypeMpeg2AacSsr))) {
        if (const uint32_t length = bitstream::aacFrameLength(esds.m_decoderInfo, esds.m_decoderInfoLength))
            return length;
    }
    const uint32_t duration = track.m_sampleDuration;
    const uint32_t source = track.m_mediaTimescale;
    if (duration == 0 || timescale == 0 || source == 0 || source == timescale)
        return duration;
    const uint64_t converted = (uint64_t(duration) * timescale + source / 2) / source;
    return converted > UINT32_MAX ? 0 : uint32_t(converted);
}
