#pragma once
// Does an H.264 SEI unit carry a recovery point message? An encoder that
// opens a group of pictures with an I picture other than an IDR (an open
// group of pictures, a periodic intra refresh) announces the place where a
// decoder may start with such a message in front of the picture, and muxers
// list that picture among the random-access points.

#include <cstddef>
#include <cstdint>

namespace H264 {

// `unit` holds the first `n` bytes of a NAL unit, header byte included. True
// when it is an SEI unit whose messages, read within those bytes, include a
// recovery point; a message cut by the end of the bytes stops the reading.
bool announcesRecoveryPoint(const uint8_t* unit, size_t n);

}  // namespace H264
