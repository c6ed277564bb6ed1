#pragma once
// Video codec parameters: what the reference contributes and, as the working
// record, what the command line, the input and the reference agree on.

#include "qt/qt_types.h"

#include <cstdint>
#include <string>
#include <vector>

struct MovieTrack;

// A media timescale of 0 cannot time anything; QuickTime's classic 600 is
// the value players assume in that case.
constexpr uint32_t kDefaultVideoTimescale = 600;

struct VideoParameters {
    std::string m_codec;   // the track's codec fourcc as text ("avc1")
    std::string m_class;   // the analyser family ("avc1" for "aivx", ...)
    float m_fps = 0;       // frames per second
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_timescale = 0;           // media timescale
    bool m_timescaleIsDefault = true;   // set while the timescale was not given explicitly
    uint32_t m_sampleDuration = 0;      // media units per frame
    std::vector<uint8_t> m_rawEsds;     // MPEG-4 descriptor bytes, at most kMaxEsdsCopyBytes
    ESDescriptor m_esds;                // parsed esds
    H264Config m_avc;                   // avcC
    HEVCConfig m_hevc;                  // hvcC
    ColourInfo m_colour;                // colr

    // Codec, fps, size, timescale, sample duration and the configuration
    // storage of a video track. Leaves the class alone.
    void takeFromTrack(const MovieTrack& track);

    // Fill-if-unset: every field still empty (empty text, zero number, zero
    // fps) takes the source's value. The timescale is taken unless this record
    // has a non-zero one that was given explicitly, and is the default when
    // neither has one; configuration storage is
    // taken only where this record has none. The sample duration is then
    // recomputed from timescale and fps.
    void mergeFrom(const VideoParameters& source);

    // The "video ..." lines at NOTICE.
    void print() const;
};

// The analyser family for a codec: the codec itself except for the aliases
// of H.264 ("aivx"), MPEG-2 (the XDCAM, HDV and IMX fourccs, or any codec
// whose MPEG-4 object type is 0x61) and DVCPRO ("dvpp", "dvhp").
std::string videoClassForCodec(const std::string& codec, uint8_t mpeg4ObjectType);

// Appends at most kMaxEsdsCopyBytes raw descriptor bytes of an esds record.
void copyRawEsds(const ESDescriptor& esds, std::vector<uint8_t>& dest);
