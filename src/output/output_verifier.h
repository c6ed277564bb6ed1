#pragma once
// -verout: re-opens the written movie and checks that it is a well-formed
// container (every sample readable), that it keeps the reference's format,
// that its timing tables are consistent, and that video and audio last about
// equally long. Reports to the log only; the output is not changed.

#include "output/repair_state.h"

#include <cstdint>

struct OutputVerifyResult {
    bool checked = false;          // a written file was examined
    bool containerPassed = false;  // parsed, and every sample readable
    uint64_t readableSamples = 0;
    uint64_t totalSamples = 0;
    uint32_t formatCompared = 0;
    uint32_t formatPreserved = 0;
    uint32_t timingChecks = 0;
    uint32_t timingPassed = 0;
    int64_t videoMs = 0;
    int64_t audioMs = 0;
};

// Closes the clip's movie first if it is still open.
OutputVerifyResult verifyOutput(RepairState& state);
