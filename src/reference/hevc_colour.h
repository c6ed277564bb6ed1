#pragma once
// The colour description an HEVC stream signals in its SPS VUI, for a
// reference that has no colr atom.

#include "qt/qt_types.h"

// Parses the parameter sets of every hvcC array; the first SPS whose VUI has
// a colour description fills the block ("nclx", primaries, transfer, matrix,
// full-range byte 0x80 or 0, full-range present = video_signal_type_present_flag).
// False when no SPS says anything about colour.
bool colourFromHevcConfig(const HEVCConfig& config, ColourInfo& colour);
