#include "reference/video_parameters.h"

#include "log/logger.h"
#include "qt/movie_track.h"
#include "reference/video_frame_duration.h"

#include <algorithm>
#include <cmath>

namespace {

// MPEG-4 systems object type of MPEG-2 video (Simple profile; 0x60-0x65 are
// the MPEG-2 profiles, 0x61 is what recorders and ffmpeg write for Main).
constexpr uint8_t kObjectTypeMpeg2Main = 0x61;

// The sample descriptions of MPEG-2 video: XDCAM ("xdv1".."xdvf", "xd51".."xd5f",
// "xdhd", "xdh2" and the like), HDV ("hdv1".."hdv9"), IMX ("mx3p", "mx5n", ...)
// and the plain ones.
bool isMpeg2Codec(const std::string& codec) {
    if (codec.compare(0, 2, "xd") == 0 || codec.compare(0, 3, "hdv") == 0)
        return true;
    if (codec[0] == 'm' && codec[1] == 'x' && codec[2] >= '1' && codec[2] <= '9' &&
        (codec[3] == 'p' || codec[3] == 'n'))
        return true;
    return codec == "m2v1" || codec == "mp2v" || codec == "MPG2";
}

std::string codecText(Fourcc codec) {
    // A track without a sample description has no codec, not four NUL bytes.
    return codec == 0 ? std::string() : fourccString(codec);
}

}  // namespace

std::string videoClassForCodec(const std::string& codec, uint8_t mpeg4ObjectType) {
    if (codec.size() != 4)
        return codec;
    // 'avc3': H.264 whose samples may carry parameter sets of their own.
    if (codec == "aivx" || codec == "avc3")
        return "avc1";
    if (isMpeg2Codec(codec) || mpeg4ObjectType == kObjectTypeMpeg2Main)
        return "MPG2";
    // DV25 of 525 and 625 lines, DVCPRO, DVCPRO50 of either, DVCPRO HD.
    if (codec == "dvc " || codec == "dvcp" || codec == "dvpp" || codec == "dv5n" || codec == "dv5p" ||
        codec == "dvhp")
        return "dvc ";
    // Motion JPEG format A is one JPEG image (or one per field) a sample.
    if (codec == "mjpa")
        return "jpeg";
    return codec;
}

void copyRawEsds(const ESDescriptor& esds, std::vector<uint8_t>& dest) {
    size_t n = esds.m_rawLength;
    if (n > size_t(kMaxEsdsBytes))
        n = kMaxEsdsBytes;
    if (n > size_t(kMaxEsdsCopyBytes))
        n = kMaxEsdsCopyBytes;
    dest.assign(esds.m_raw, esds.m_raw + n);
}

void VideoParameters::takeFromTrack(const MovieTrack& track) {
    m_codec = codecText(track.m_codec);
    m_sampleDuration = videoFrameDuration(track);
    // A track without durations counts each frame as one unit.
    m_fps = float(double(track.m_mediaTimescale) / std::max<uint32_t>(m_sampleDuration, 1));
    m_width = track.m_width;
    m_height = track.m_height;
    m_timescale = track.m_mediaTimescale ? track.m_mediaTimescale : kDefaultVideoTimescale;
    m_timescaleIsDefault = track.m_mediaTimescale == 0;
    copyRawEsds(track.m_esds, m_rawEsds);
    m_avc = track.m_avc;
    m_esds = track.m_esds;
    m_hevc = track.m_hevc;
    m_colour = track.m_colour;
}

void VideoParameters::mergeFrom(const VideoParameters& source) {
    if (m_codec.empty())
        m_codec = source.m_codec;
    if (m_class.empty())
        m_class = source.m_class;
    if (m_fps == 0)
        m_fps = source.m_fps;
    if (m_width == 0)
        m_width = source.m_width;
    if (m_height == 0)
        m_height = source.m_height;
    if (m_timescale == 0 || m_timescaleIsDefault) {
        m_timescale = source.m_timescale;
        m_timescaleIsDefault = source.m_timescaleIsDefault;
    }
    // A source without video (no reference, or one of sound alone) leaves
    // the timescale unset; the frames still need one to be timed by, and a
    // later source with a real one replaces it.
    if (m_timescale == 0) {
        m_timescale = kDefaultVideoTimescale;
        m_timescaleIsDefault = true;
    }
    if (m_rawEsds.empty()) {
        m_rawEsds = source.m_rawEsds;
        m_esds = source.m_esds;
    }
    if (m_avc.ppsCount() == 0)
        m_avc = source.m_avc;
    if (m_hevc.m_arrayCount == 0)
        m_hevc = source.m_hevc;
    if (!m_colour.m_present)
        m_colour = source.m_colour;
    if (m_sampleDuration == 0)
        m_sampleDuration = source.m_sampleDuration;
    // Frames are timed by the working timescale and fps, whichever source
    // they came from; a rate the timescale cannot express keeps the duration.
    // Rounded, not cut: a rate kept as a float (29.97...) may put 30000
    // units a hair below 1001 of them.
    if (m_fps > 0 && std::isfinite(m_fps)) {
        const double duration = std::floor(double(m_timescale) / double(m_fps) + 0.5);
        if (duration >= 0 && duration < 4294967296.0)
            m_sampleDuration = uint32_t(duration);
    }
}

void VideoParameters::print() const {
    FLOG(LogLevel::Notice) << "video class       : " << m_class;
    FLOG(LogLevel::Notice) << "video codec       : " << m_codec;
    FLOG(LogLevel::Notice) << "video fps         : " << m_fps;
    FLOG(LogLevel::Notice) << "video frame width : " << m_width;
    FLOG(LogLevel::Notice) << "video frame height: " << m_height;
    FLOG(LogLevel::Notice) << "video time scale  : " << m_timescale;
}
