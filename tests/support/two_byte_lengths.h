#pragma once
// Some phones write the NAL units of their H.264 samples behind 2-byte
// lengths (lengthSizeMinusOne 1); ffmpeg's muxer always writes 4. This
// rewrites an ffmpeg-made movie as such a phone would have stored it.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// `movie` (its moov behind its one mdat, every NAL unit under 64 KiB) with
// each video sample's 4-byte unit lengths written in 2 bytes, the sample
// sizes, chunk offsets and the avcC's length size to match. Empty when the
// movie is not like that.
std::vector<uint8_t> withTwoByteNalLengths(const std::string& movie);

}  // namespace testsupport
