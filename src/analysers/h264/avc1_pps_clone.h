#pragma once
// Keeping the output avcC complete: every picture parameter set that a found
// slice refers to must be in it. A recorder may number its PPS differently
// from the reference (another encoder session), so a missing one is cloned
// from the nearest PPS the avcC has, with only its id rewritten.

#include "qt/qt_types.h"

#include <bitset>
#include <cstddef>
#include <cstdint>

// pic_parameter_set_id values go up to 255.
using PpsIdSet = std::bitset<256>;

// Adds to `avc` a clone for every id in `referenced` that it lacks, logging
// what it did; problems are reported once per id through `reported`.
void addMissingPps(H264Config& avc, const PpsIdSet& referenced, PpsIdSet& reported);
