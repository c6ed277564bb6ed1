#pragma once
// The 4-byte header that starts every MPEG audio frame (MPEG-1 and MPEG-2
// layers I-III, ISO/IEC 11172-3 and 13818-3, and the MPEG-2.5 extension to
// lower sample rates). MPEG audio carries no length field: a frame's length
// follows from the bitrate, the sample rate and the padding bit.

#include <cstdint>
#include <optional>

namespace bitstream {

enum class MpegAudioVersion { Mpeg1, Mpeg2, Mpeg25 };

// Is an MPEG-4 decoder configuration's object type indication MPEG-2 (0x69)
// or MPEG-1 (0x6B) audio, whose frames carry these headers, rather than AAC?
inline bool isMpegAudioObjectType(uint8_t objectType) { return (objectType & ~0x02) == 0x69; }

struct MpegAudioHeader {
    MpegAudioVersion m_version = MpegAudioVersion::Mpeg1;
    int m_layer = 0;             // 1, 2 or 3
    int32_t m_bitrate = 0;       // kbit/s
    int32_t m_sampleRate = 0;    // Hz
    int m_channels = 0;          // 1 for single channel mode, else 2
    bool m_padding = false;      // padding_bit: one slot more
    int32_t m_frameLength = 0;   // bytes, header included
    int32_t m_samplesPerFrame = 0;
};

// Reads the header at `header` (4 bytes). Empty when the bytes are not a
// usable frame header: no sync, a reserved version, layer or sample rate, or
// the free-format and forbidden bitrate indices (a free-format frame gives no
// length).
std::optional<MpegAudioHeader> parseMpegAudioHeader(const uint8_t* header);

// The frame length of the header at `header` (4 bytes), 0 when it is not a
// usable frame header.
int32_t mpegAudioFrameLength(const uint8_t* header);

}  // namespace bitstream
