#pragma once
// The byte structures a Sony recovery file is made of: KLV metadata groups
// (SMPTE 336M keys with BER lengths) and the RTMD packet headers some
// cameras write ahead of each group of pictures.

#include <cstddef>
#include <cstdint>

namespace rsv {

constexpr size_t kKeyBytes = 16;
constexpr size_t kKeyComparedBytes = 12;
constexpr size_t kRtmdHeaderBytes = 12;
// The RTMD packet header in front of each KLV run.
constexpr uint64_t kRunHeaderBytes = 28;
// Key plus the longest BER length field.
constexpr size_t kGroupHeadMax = kKeyBytes + 9;

bool isGroupKey(const uint8_t* p, size_t available);
bool isRtmdHeader(const uint8_t* p, size_t available);

// End offset of the KLV group whose key is at `start` (p points at it, with
// `available` bytes readable), or 0 when the length does not validate or the
// group would run past `fileSize`.
uint64_t groupEnd(const uint8_t* p, size_t available, uint64_t start, uint64_t fileSize);

}  // namespace rsv
