#include "bitstream/mpeg4_audio/aac_frame_bands.h"

#include "bitstream/common/bit_reader.h"

#include <algorithm>

namespace bitstream {

namespace {

constexpr uint32_t kSingleChannel = 0, kChannelPair = 1, kLfe = 3;
constexpr uint32_t kEightShort = 2;
// The element id, tag, common window flag, global gain and ics_info lie in
// the first four bytes.
constexpr uint64_t kHeaderBytes = 4;

}  // namespace

int aacLongWindowBands(const uint8_t* frame, uint64_t size) {
    if (!frame || size < kHeaderBytes)
        return -1;
    BitReader r(frame, uint32_t(std::min<uint64_t>(size, kHeaderBytes)));
    const uint32_t id = r.readBits(3);
    if (id != kSingleChannel && id != kChannelPair && id != kLfe)
        return -1;
    r.readBits(4);  // instance tag
    // A channel pair sharing one window has its ics_info first; any other
    // channel has its global gain in front.
    if (!(id == kChannelPair && r.readFlag()))
        r.readBits(8);
    if (r.readBit() != 0)  // reserved
        return -1;
    const uint32_t sequence = r.readBits(2);
    r.readBits(1);  // window shape
    if (sequence == kEightShort)
        return -1;
    const uint32_t bands = r.readBits(6);
    return r.ok() ? int(bands) : -1;
}

}  // namespace bitstream
