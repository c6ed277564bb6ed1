#pragma once
// What a sound track's PCM looks like, read in its own format: how far
// consecutive values of a channel move against how loud it is, how close
// its first two channels stay, and its loudness. Two tracks of different
// rates, channel counts or content differ in these, so a stretch of bytes
// can be told for one track's or the other's where timing alone cannot.

#include "analysers/audio/pcm_analyser.h"

#include <cstdint>

// Sums over sample values scaled to full scale 1.
struct PcmSoundSums {
    double level = 0;   // sum of |x| over every sample
    double steps = 0;   // sum of |x[n] - x[n-1]| within each channel
    double spread = 0;  // sum of |first channel - second channel| over frames
    double bends = 0;   // sum of |x[n] - 2 x[n-1] + x[n-2]| on the first channel
    int64_t samples = 0, stepCount = 0, frames = 0, bendCount = 0;

    void add(const PcmSoundSums& other);
};

class PcmSoundProfile {
public:
    explicit PcmSoundProfile(const PcmFormat& format = PcmFormat()) : m_format(format) {}

    // The sums of the whole frames of `n` bytes at `data` read as this
    // track's sound.
    PcmSoundSums measure(const uint8_t* data, int64_t n) const;
    void learn(const uint8_t* data, int64_t n) { m_sums.add(measure(data, n)); }
    // Sample frames learnt so far.
    int64_t frames() const { return m_sums.frames; }
    // How far the first channel's values typically bend from a straight
    // line through the two before them (0: not known).
    double bend() const { return m_sums.bendCount > 0 ? m_sums.bends / double(m_sums.bendCount) : 0; }
    // How unlike this track's sound the `n` bytes at `data` are: 0 for
    // sound just like it, about 1 for each feature off by a factor of e.
    double distance(const uint8_t* data, int64_t n) const;

private:
    PcmFormat m_format;
    PcmSoundSums m_sums;
};
