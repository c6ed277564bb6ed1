#pragma once
// The NAL units of a stored hvcC record in the form the HEVC parser's helpers
// take them: pointers into the record, valid while it lives.

#include "bitstream/hevc/hvcc_units.h"
#include "qt/qt_types.h"

#include <vector>

std::vector<HEVC::ConfigUnit> hevcConfigUnits(const HEVCConfig& config);
// lengthSizeMinusOne + 1 of the record.
unsigned hevcLengthSize(const HEVCConfig& config);
