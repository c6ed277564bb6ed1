#pragma once
// Per-scan record shared by the scan driver and the analysers: the user's
// settings and mode flags, where the driver reads next, where it stops, and
// four per-clip counters.

#include "log/logger.h"

#include <array>
#include <cstdint>

struct ScanInfo {
    // Per-clip state shared with the analysers, numbered 0 to 3. Cleared by
    // the driver before the scan and by new clip detection at a clip split.
    std::array<uint64_t, 4> counters{};
    // Where the driver reads the next window; analysers move it forward when
    // they consume data.
    int64_t currentOffset = 0;
    // The scan ends once an offset beyond it is reached; 0 means no limit.
    // -1 until the driver has set the range.
    int64_t stopOffset = -1;

    bool newClipDetection = false;      // -nfd
    bool pcmFilter = false;             // -pcm
    int32_t pcmStartAdjustment = 0;     // -pcmcut, in samples
    bool aacFilter = false;             // -aac
    bool autoDetection = false;         // -auto
    bool singleNalPackets = false;      // -single
    bool strictFrameNumbers = false;    // -strictfnc
    bool canonRepiMode = false;         // -canonrepi or auto detection
    bool sonyRsvMode = false;           // -sonyrsv, ".rsv" input or auto detection
    bool canonCrmMode = false;          // -canoncrm, -canoncrmleading or auto detection
    bool canonCrmWrapped = false;       // CRM payload inside a container (auto detection only)
    bool qtReconstruction = false;      // -qtrc or auto detection
    bool noCompositionOffsets = false;  // -noctts
    bool referenceIsInput = false;      // reference file name equals the input's
    bool referencePriority = false;     // -refprio

    // Starts a clip's counters afresh. Every such reset is announced in the
    // debug log, by the driver and by new clip detection alike, so the line
    // is written here.
    void resetCounters() {
        FLOG(LogLevel::Debug) << "ScanInfo::reset";
        counters.fill(0);
    }
};
