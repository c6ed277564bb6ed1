#pragma once
// A cheap look at the first bits of a raw AAC frame that tells, for most
// bytes that are no frame, that FAAD2 would reject them. The searches try
// a decoder at thousands of positions that hold no audio; each try costs a
// fresh decoder (its transform tables are rebuilt) and, before the decoder
// notices the damage, the reconstruction of every channel it has read. The
// screen reads the syntax the decoder checks first (the element ids, the
// first channel's ics_info and section data, fill elements) with the same
// rules, so a position it rejects is one the decoder rejects too: what the
// searches find does not change, only what they cost.

#include <cstdint>

class AacFrameScreen {
public:
    // Set up from the AudioSpecificConfig. Only plain AAC LC with 1024-sample
    // frames is screened; for anything else every position goes to the
    // decoder.
    AacFrameScreen(const uint8_t* config, uint32_t size);

    // True when the decoder would certainly reject a frame at `data` (`n`
    // bytes available); false when it may take it.
    bool rejects(const uint8_t* data, uint64_t n) const;

private:
    bool m_active = false;
    uint32_t m_longBands = 0;   // scale factor bands of a long window at the rate
    uint32_t m_shortBands = 0;  // of a short window
};
