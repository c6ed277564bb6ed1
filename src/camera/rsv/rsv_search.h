#pragma once
// Forward searches through the input for the next KLV group and the next
// RTMD packet header.

#include <cstdint>

class ScanBuffer;

namespace rsv {

// Start of the first valid KLV group at or after `from`, or the file size.
uint64_t nextGroup(ScanBuffer& input, uint64_t from);

// Start of the first RTMD packet header at or after `from`, or the file size.
uint64_t nextRtmd(ScanBuffer& input, uint64_t from);

}  // namespace rsv
