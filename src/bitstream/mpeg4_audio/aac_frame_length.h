#pragma once
// The samples per frame an MPEG-4 AudioSpecificConfig (ISO/IEC 14496-3)
// declares: its audio object type and, for the AAC family, the
// GASpecificConfig's frameLengthFlag.

#include <cstdint>

namespace bitstream {

// 1024 or 960 for the AAC family, 512 or 480 for the low-delay types; 0 when
// the configuration is too short or of an object type whose frame length it
// does not fix (SBR and PS signalled explicitly double the output's length).
uint32_t aacFrameLength(const uint8_t* config, uint32_t size);

}  // namespace bitstream
