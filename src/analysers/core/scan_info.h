#pragma once
// Per-scan record shared by the scan driver and the analysers: the user's
// settings and mode flags, where the driver reads next, where it stops, and
// four per-clip counters.

#include "log/logger.h"

#include <array>
#include <cstdint>

struct ScanInfo {
    // Four per-clip positions shared by the analysers of one scan (a video
    // analyser and the audio analyser beside it), cleared by the driver before
    // the scan and by new clip detection at a clip split. 0 means unset.
    //
    // gapStart    where the audio gap after the last sample taken begins: the
    //             end of the last video sample, or the start of the last audio
    //             block for analysers that place audio behind each frame.
    // audioEnd    the last byte of the last audio block.
    // frameStart  the start of the last frame, chunk or group of pictures taken.
    // frameEnd    the last byte of the last frame or chunk taken.
    uint64_t gapStart() const { return m_counters[0]; }
    void setGapStart(uint64_t v) { m_counters[0] = v; }
    uint64_t audioEnd() const { return m_counters[1]; }
    void setAudioEnd(uint64_t v) { m_counters[1] = v; }
    uint64_t frameStart() const { return m_counters[2]; }
    void setFrameStart(uint64_t v) { m_counters[2] = v; }
    uint64_t frameEnd() const { return m_counters[3]; }
    void setFrameEnd(uint64_t v) { m_counters[3] = v; }

    // Where the driver reads the next window; analysers move it forward when
    // they consume data.
    int64_t currentOffset = 0;
    // The scan ends once an offset beyond it is reached; 0 means no limit.
    // -1 until the driver has set the range.
    int64_t stopOffset = -1;

    bool newClipDetection = false;      // -nfd
    bool pcmFilter = false;             // -pcm
    int32_t pcmStartAdjustment = 0;     // -pcmcut, in samples
    // -pcm where the reference places no sound between its video chunks: the
    // PCM analyser finds the sound by its runs, and the video analysers leave
    // the bytes in front of their chunks to it.
    bool pcmRuns = false;
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
        m_counters.fill(0);
    }

private:
    std::array<uint64_t, 4> m_counters{};
};
