#include "reference/video_frame_duration.h"

#include "qt/movie_track.h"

#include <algorithm>
#include <cmath>
#include <map>

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
// Below this share the common duration is not the rate but one value of a
// jittering clock (phones time each frame as it comes).
constexpr double kSteadyShare = 0.5;
// The share of frames at each end of a jittering clock's durations that its
// rate is taken without.
constexpr double kTrimmedShare = 0.1;

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
    // Shortest first: the first that qualifies is the period.
    for (const auto& [duration, count] : framesPerDuration) {
        if (duration >= common)
            break;
        if (count < 2 || double(count) < kMinimumShare * double(frames))
            continue;
        const double multiple = double(common) / double(duration);
        const double whole = std::round(multiple);
        if (whole >= 2 && whole <= kMaximumMultiple && std::abs(multiple - whole) <= kMultipleTolerance * whole)
            return duration;
    }
    const auto held = framesPerDuration.find(common);
    if (held == framesPerDuration.end() || double(held->second) >= kSteadyShare * double(frames))
        return common;
    // The mean of the middle frames: a held first frame or a late one at
    // either end falls outside it, and unlike the median it is not stuck on
    // one of the whole ticks the clock rounds to.
    const double skip = kTrimmedShare * double(frames);
    double seen = 0, kept = 0, ticks = 0;
    for (const auto& [duration, count] : framesPerDuration) {
        const double from = std::max(seen, skip), to = std::min(seen + double(count), double(frames) - skip);
        if (to > from) {
            kept += to - from;
            ticks += (to - from) * double(duration);
        }
        seen += double(count);
    }
    return kept > 0 ? uint32_t(std::lround(ticks / kept)) : common;
}