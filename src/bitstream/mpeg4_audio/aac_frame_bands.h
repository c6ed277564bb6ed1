#pragma once
// How many scale factor bands the first channel of a raw AAC frame codes
// (its ics_info max_sfb) when it is a long window. An encoder codes the
// bands up to its cutoff frequency, which it fixes from its bit rate and
// sampling rate: two tracks of equal channel layout, whose frames a decoder
// takes for either, still differ here.

#include <cstdint>

namespace bitstream {

// -1 when the frame does not open with a channel element of long windows
// (a fill element, eight short windows) or is too short to say.
int aacLongWindowBands(const uint8_t* frame, uint64_t size);

}  // namespace bitstream
