#include "analysers/audio/pcm_sound_profile.h"

#include <cmath>
#include <cstdlib>

namespace {

// Added to each ratio before two are compared: a silent stretch or a
// channel pair that never differs gives 0, which no factor reaches.
constexpr double kRatioFloor = 0.02;
// Loudness below this is silence (a hundred-thousandth of full scale).
constexpr double kQuiet = 1e-5;
// Loudness counts for less than the ratios: a track gets louder and softer.
constexpr double kLevelWeight = 0.25;

struct Features {
    double steps, spread, level;
};

Features featuresOf(const PcmSoundSums& s) {
    const double level = s.samples > 0 ? s.level / double(s.samples) : 0;
    const double scale = level + kQuiet;
    return {s.stepCount > 0 ? s.steps / double(s.stepCount) / scale : 0,
            s.frames > 0 ? s.spread / double(s.frames) / scale : 0, std::log(scale)};
}

double apart(double a, double b) { return std::fabs(std::log((a + kRatioFloor) / (b + kRatioFloor))); }

}  // namespace

void PcmSoundSums::add(const PcmSoundSums& other) {
    level += other.level;
    steps += other.steps;
    spread += other.spread;
    bends += other.bends;
    bendCount += other.bendCount;
    samples += other.samples;
    stepCount += other.stepCount;
    frames += other.frames;
}

PcmSoundSums PcmSoundProfile::measure(const uint8_t* data, int64_t n) const {
    PcmSoundSums s;
    if (!m_format.usable() || !data)
        return s;
    const int bytes = m_format.bitsPerSample / 8, channels = m_format.channels, frameBytes = m_format.frameBytes();
    const double scale = 1.0 / double(int64_t(1) << (m_format.bitsPerSample - 1));
    // The previous frame's first two channels; further channels count
    // towards the loudness only.
    double previous[2] = {0, 0};
    double earlier = 0;  // the first channel's value before the previous frame's
    for (int64_t at = 0; at + frameBytes <= n; at += frameBytes) {
        double x[2] = {0, 0};
        for (int c = 0; c < channels; ++c) {
            const double v = double(m_format.sampleAt(data + at + c * bytes)) * scale;
            s.level += std::fabs(v);
            ++s.samples;
            if (c < 2)
                x[c] = v;
        }
        const int kept = channels < 2 ? 1 : 2;
        if (at > 0)
            for (int c = 0; c < kept; ++c) {
                s.steps += std::fabs(x[c] - previous[c]);
                ++s.stepCount;
            }
        if (channels >= 2)
            s.spread += std::fabs(x[0] - x[1]);
        if (s.frames >= 2) {
            s.bends += std::fabs(x[0] - 2 * previous[0] + earlier);
            ++s.bendCount;
        }
        earlier = previous[0];
        ++s.frames;
        previous[0] = x[0];
        previous[1] = x[1];
    }
    return s;
}

double PcmSoundProfile::distance(const uint8_t* data, int64_t n) const {
    const Features mine = featuresOf(m_sums), theirs = featuresOf(measure(data, n));
    double d = apart(mine.steps, theirs.steps) + kLevelWeight * std::fabs(mine.level - theirs.level);
    if (m_format.channels >= 2)
        d += apart(mine.spread, theirs.spread);
    return d;
}
