#pragma once
// Giving a picture parameter set another pic_parameter_set_id. A recorder
// may number its PPS differently from the one that made the configuration at
// hand (another encoder session); a copy of a PPS under the id its slices
// name lets them decode.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace H264 {

// The PPS unit `src` (header byte first) with its pic_parameter_set_id
// rewritten as `newId`; every later bit copied unchanged, the last byte
// filled with zero bits and trailing zero bytes dropped. False when the
// source is too short to hold an id.
bool clonePpsWithId(const uint8_t* src, size_t size, uint32_t newId, std::vector<uint8_t>& out);

}  // namespace H264
