#pragma once
// -verify: measures how many of the samples the scan found sit exactly where
// the reference movie's own tables put them (meaningful when an intact movie
// is scanned with itself or its twin as the reference), and compares the
// output's codec configuration with the reference's. Reports to the log only.

#include "output/repair_state.h"

struct VerifyCounts {
    uint64_t videoFound = 0;
    uint64_t videoMatches = 0;
    uint64_t audioFound = 0;
    uint64_t audioMatches = 0;
    double repairRate = 0;
};

VerifyCounts verifyByReference(const RepairState& state);
