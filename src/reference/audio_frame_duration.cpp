#include "reference/audio_frame_duration.h"

#include "bitstream/mpeg4_audio/aac_frame_length.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "qt/movie_track.h"
#include "qt/qt_types.h"

namespace {

// MPEG-4 systems object types that carry an AudioSpecificConfig.
constexpr uint8_t kObjectTypeMpeg4Audio = 0x40;
constexpr uint8_t kObjectTypeMpeg2AacMain = 0x66;
constexpr uint8_t kObjectTypeMpeg2AacSsr = 0x68;

}  // namespace

bool isMpegAudioTrack(const MovieTrack& track) {
    return track.m_codec == makeFourcc(".mp3") ||
           (track.m_codec == makeFourcc("mp4a") && bitstream::isMpegAudioObjectType(track.m_esds.m_objectType));
}

uint32_t audioFrameDuration(const MovieTrack& track, uint32_t timescale) {
    const ESDescriptor& esds = track.m_esds;
    const uint8_t object = esds.m_objectType;
    if (track.m_codec == makeFourcc("mp4a") &&
        (object == kObjectTypeMpeg4Audio || (object >= kObjectTypeMpeg2AacMain && object <= kObjectTypeMpeg2AacSsr))) {
        // Counted at the configuration's rate; a track at twice that rate
        // holds SBR output (signalled implicitly), twice the samples.
        const bitstream::AacFrameLength frame = bitstream::aacFrameLength(esds.m_decoderInfo, esds.m_decoderInfoLength);
        if (frame.m_samples != 0 && timescale != 0) {
            const uint64_t duration =
                (uint64_t(frame.m_samples) * timescale + frame.m_sampleRate / 2) / frame.m_sampleRate;
            if (duration > 0 && duration <= UINT32_MAX)
                return uint32_t(duration);
        }
    }
    const uint32_t duration = track.m_sampleDuration;
    const uint32_t source = track.m_mediaTimescale;
    uint64_t converted = duration;
    if (duration != 0 && timescale != 0 && source != 0 && source != timescale)
        converted = (uint64_t(duration) * timescale + source / 2) / source;
    if (converted > UINT32_MAX)
        return 0;
    // MPEG audio frames hold 1152, 576 or 384 samples. A muxer on a
    // millisecond clock writes 1147 most often for 1152 at 44.1 kHz (and
    // 1190 now and then to catch up): the frame the common entry is within
    // 1% of is the frame.
    if (isMpegAudioTrack(track) && converted != 0 && timescale != 0 && track.m_audioSampleRate != 0) {
        for (const uint64_t samples : {1152u, 576u, 384u}) {
            const uint64_t exact = (samples * timescale + track.m_audioSampleRate / 2) / track.m_audioSampleRate;
            const uint64_t off = converted > exact ? converted - exact : exact - converted;
            if (off * 100 <= exact && exact <= UINT32_MAX)
                return uint32_t(exact);
        }
    }
    return uint32_t(converted);
}
