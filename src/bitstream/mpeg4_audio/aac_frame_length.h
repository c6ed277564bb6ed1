#pragma once
// The samples per frame an MPEG-4 AudioSpecificConfig (ISO/IEC 14496-3)
// declares, and at which rate: its audio object type, sampling frequency
// and, for the AAC family, the GASpecificConfig's frameLengthFlag.

#include <cstdint>

namespace bitstream {

struct AacFrameLength {
    uint32_t m_samples = 0;     // 1024 or 960 (AAC family), 512 or 480 (low delay)
    uint32_t m_sampleRate = 0;  // Hz, the rate those samples are counted at
    // The channelConfiguration field (0: a program config element in the
    // stream says; 1-6 that many channels, 7 eight), read for every object
    // type whatever else is known.
    uint32_t m_channelConfiguration = 0;
};

// Samples and rate are zeros when the configuration is too short, has a
// reserved sampling frequency, or is of an object type whose frame length it
// does not fix (SBR and PS signalled explicitly).
AacFrameLength aacFrameLength(const uint8_t* config, uint32_t size);

}  // namespace bitstream
