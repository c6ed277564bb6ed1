#pragma once
// Rebuilds a damaged Canon CRM recording into a playable movie in one pass:
// locates and scans the payload, partitions and repairs the audio, and
// writes the reference's boxes with new sample tables around a byte copy of
// the payload.

#include "platform/file.h"

#include <cstdint>

struct RepairState;

namespace crm {

// True when the output was written. Never throws: a failure is logged as
// "CanonCRM rebuild failed: " and its reason, and the caller falls back to
// the sample analyser.
bool rebuildCanonCrm(const RepairState& state);

// Copies a byte range between files in large blocks; throws "copy seek
// failed", "copy read failed" or "copy write failed".
void copyRange(platform::File& source, platform::File& destination, uint64_t offset, uint64_t length);

}  // namespace crm
