#include "reference/video_frame_duration.h"

#include "qt/movie_track.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

namespace {

// A period must be held by this share of the frames (and by more than one)
// to count: a few odd entries are edits or damage, not the recorder's rate.
constexpr double kMinimumShare = 0.05;
// The common duration is at most this many periods: beyond it, a short
// duration is more likely an odd entry than the rate.
constexpr uint32_t kMaximumMultiple = 16;
// How far from a whole number of periods the common duration may be
// (timescales that cannot express the period exactly round each entry).
constexpr double kMultipleTolerance = 0.01;
// The share of the frames a period's whole multiples must hold: a recorder
// that holds frames gives every frame a whole number of periods, while a
// jittering clock only happens to give a few of its values such a ratio.
constexpr double kMultiplesShare = 0.8;
// Below this share the common duration is not the rate but one value of a
// jittering clock (phones time each frame as it comes).
constexpr double kSteadyShare = 0.5;
// The share of frames at each end of a jittering clock's durations that its
// rate is taken without.
constexpr double kTrimmedShare = 0.1;
// The share of the frames one duration holds in a steady rate.
constexpr double kSteadyRateShare = 0.9;
// Frames whose presentation times are looked at, and the share of their
// spacings one value must hold to be the rate they are shown at.
constexpr uint64_t kMaxShownFrames = 20000;
constexpr double kShownShare = 0.8;

// The spacing most of the frames are shown at, from the decode durations
// and composition offsets; 0 when no spacing holds most of them. Slow-motion
// recorders decode most frames a few ticks apart and show them at the
// playback rate through the composition offsets.
uint32_t shownSpacing(const MovieTrack& track) {
    if (track.m_compositionOffsets.empty())
        return 0;
    std::vector<int64_t> shown;
    int64_t decode = 0;
    size_t entry = 0;
    uint32_t left = 0;
    for (const TimeToSampleEntry& e : track.m_timeToSample) {
        for (uint32_t i = 0; i < e.m_sampleCount && shown.size() < kMaxShownFrames; ++i) {
            while (left == 0 && entry < track.m_compositionOffsets.size())
                left = track.m_compositionOffsets[entry++].m_sampleCount;
            if (left == 0)
                return 0;
            shown.push_back(decode + int32_t(track.m_compositionOffsets[entry - 1].m_offset));
            --left;
            decode += e.m_duration;
        }
    }
    if (shown.size() < 3)
        return 0;
    std::sort(shown.begin(), shown.end());
    std::map<int64_t, uint64_t> spacings;
    for (size_t i = 1; i < shown.size(); ++i)
        ++spacings[shown[i] - shown[i - 1]];
    const auto most = std::max_element(spacings.begin(), spacings.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    const bool held = double(most->second) >= kShownShare * double(shown.size() - 1);
    return held && most->first > 0 && most->first <= INT32_MAX ? uint32_t(most->first) : 0;
}

// How many periods `duration` is, when it is a whole number of them (up to
// kMaximumMultiple); 0 otherwise.
uint32_t wholeMultiple(uint32_t duration, uint32_t period) {
    const double multiple = double(duration) / double(period);
    const double whole = std::round(multiple);
    return whole >= 1 && whole <= kMaximumMultiple && std::abs(multiple - whole) <= kMultipleTolerance * whole
               ? uint32_t(whole)
               : 0;
}

// The frames whose durations are whole numbers of `period`.
double framesInMultiples(const std::map<uint32_t, uint64_t>& framesPerDuration, uint32_t period) {
    double frames = 0;
    for (const auto& [duration, count] : framesPerDuration)
        if (wholeMultiple(duration, period) > 0)
            frames += double(count);
    return frames;
}

// The rate of a jittering clock: the least-squares slope of the middle
// frames' decode times over their numbers. A held first frame or a late one
// at either end falls outside them; unlike the median it is not stuck on
// one of the whole ticks the clock rounds to, and unlike the mean of the
// durations it does not carry how early or late the first and last of them
// happened to come (over a short reference that is a few tenths of a percent).
double middleRate(const MovieTrack& track, uint64_t frames) {
    const uint64_t skip = uint64_t(kTrimmedShare * double(frames));
    std::vector<double> times;
    double decode = 0;
    uint64_t index = 0;
    for (const TimeToSampleEntry& e : track.m_timeToSample) {
        if (e.m_duration == 0)
            continue;
        for (uint32_t i = 0; i < e.m_sampleCount && index < frames - skip; ++i, ++index) {
            if (index >= skip)
                times.push_back(decode);
            decode += e.m_duration;
        }
    }
    if (times.size() < 2)
        return 0;
    const double n = double(times.size()), meanIndex = (n - 1) / 2;
    double meanTime = 0;
    for (double t : times)
        meanTime += t / n;
    double covariance = 0, variance = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        covariance += (double(i) - meanIndex) * (times[i] - meanTime);
        variance += (double(i) - meanIndex) * (double(i) - meanIndex);
    }
    return covariance / variance;
}

}  // namespace

uint32_t videoFrameDuration(const MovieTrack& track) {
    std::map<uint32_t, uint64_t> framesPerDuration;
    uint64_t frames = 0;
    uint32_t common = track.m_sampleDuration;
    for (const TimeToSampleEntry& e : track.m_timeToSample) {
        if (e.m_duration == 0 || e.m_sampleCount == 0)
            continue;
        framesPerDuration[e.m_duration] += e.m_sampleCount;
        frames += e.m_sampleCount;
    }
    if (common == 0 || frames == 0)
        return common;
    // Frames shown at a steady spacing that no notable share of the decode
    // durations has: the decode timeline is packed, the shown one is the rate.
    const uint32_t spacing = shownSpacing(track);
    const auto decoded = framesPerDuration.find(spacing);
    if (spacing && (decoded == framesPerDuration.end() || double(decoded->second) < kMinimumShare * double(frames)))
        return spacing;
    // Shortest first: the first that qualifies is the period.
    for (const auto& [duration, count] : framesPerDuration) {
        if (duration >= common)
            break;
        if (count < 2 || double(count) < kMinimumShare * double(frames))
            continue;
        if (wholeMultiple(common, duration) >= 2 &&
            framesInMultiples(framesPerDuration, duration) >= kMultiplesShare * double(frames))
            return duration;
    }
    const auto held = framesPerDuration.find(common);
    if (held == framesPerDuration.end() || double(held->second) >= kSteadyShare * double(frames))
        return common;
    const double rate = middleRate(track, frames);
    return rate > 0 ? uint32_t(std::lround(rate)) : common;
}

bool videoRateSteady(const MovieTrack& track) {
    std::map<uint32_t, uint64_t> framesPerDuration;
    uint64_t frames = 0;
    // The first frame and the last are left out: a held first picture and
    // the last one's share of the track's end are no rate.
    const int64_t from = 1, to = int64_t(track.m_sampleCount) - 1;
    int64_t index = 0;
    for (const TimeToSampleEntry& e : track.m_timeToSample) {
        const int64_t n = std::min<int64_t>(index + e.m_sampleCount, to) - std::max<int64_t>(index, from);
        index += e.m_sampleCount;
        if (n > 0) {
            framesPerDuration[e.m_duration] += uint64_t(n);
            frames += uint64_t(n);
        }
    }
    uint64_t most = 0;
    for (const auto& entry : framesPerDuration)
        most = std::max(most, entry.second);
    return frames == 0 || double(most) >= kSteadyRateShare * double(frames);
}
