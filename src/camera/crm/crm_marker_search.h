#pragma once
// Finds the next valid CRM video sample in a file range, reading it in large
// blocks and carrying the last bytes of each block into the next so that a
// marker split by a block border is still found.

#include "platform/file.h"

#include <cstdint>

namespace crm {

constexpr uint64_t kMarkerSearchBlock = 0x800000;

// The offset of the first valid sample at or after `start` whose header lies
// wholly before `end`, or `end` when there is none.
uint64_t findCrmSample(platform::File& file, uint64_t start, uint64_t end, uint64_t blockSize = kMarkerSearchBlock);

}  // namespace crm
