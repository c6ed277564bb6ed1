#pragma once
// Which of two sound tracks wrote which part of a stretch of PCM, told by
// where each track's sound carries on: a tone or any band-limited sound
// moves little from one sample to the next, so a run of a track begins
// where that track's sound left off, and the bytes where one track's run
// ends and the other's begins jump. Where the two tracks sound alike by
// their features (a tone, and its octave at twice the sample rate), this
// still tells them; white noise carries on from nothing, and then the
// caller falls back to timing.

#include "analysers/audio/pcm_analyser.h"
#include "analysers/audio/pcm_content_split.h"

#include <cstdint>
#include <vector>

// Where a track's sound left off.
struct PcmTrackTail {
    PcmFormat format;
    double last = 0, before = 0;  // its last two values of the first channel, full scale 1
    double bend = 0;              // its typical |x[n] - 2 x[n-1] + x[n-2]| (0: not known)
    bool known = false;
};

class PcmContinuitySplit {
public:
    // A value within this many of a track's typical bends of where the two
    // before it point carries its sound on; what lies further is a jump.
    static constexpr double kCarriesOn = 8;
    // The first channel's value of the frame at `frame`, full scale 1.
    static double firstValue(const uint8_t* frame, const PcmFormat& f);
    // The `n` bytes at `data` as one run of a track, or one of each, or a
    // run of one with the other's whole run inside it, each run a whole
    // number of `grid` bytes, beginning with track `first` (the one whose
    // sound is furthest behind): the only layout of one run or two that
    // carries both tracks on, else the only one with a run inside another;
    // empty where two of a kind do, or where one of that kind or a simpler
    // neither carries on nor clearly jumps.
    static std::vector<PcmContentRun> split(const uint8_t* data, int64_t n, int64_t grid,
                                            const std::vector<PcmTrackTail>& tails, size_t first);
};
