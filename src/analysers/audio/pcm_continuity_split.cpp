#include "analysers/audio/pcm_continuity_split.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The best layout's jumps must stay under this (in bends past the
// allowance), and every other layout's reach this: a wrong boundary in a
// tone jumps hundreds of bends.
constexpr double kSmooth = 8;
constexpr double kJumpy = 64;
// Grid positions of one stretch weighed at most (pairs of them are tried).
constexpr int64_t kMaxCells = 1024;

double valueAt(const uint8_t* p, const PcmFormat& f) { return PcmContinuitySplit::firstValue(p, f); }

}  // namespace

double PcmContinuitySplit::firstValue(const uint8_t* p, const PcmFormat& f) {
    return double(f.sampleAt(p)) / double(int64_t(1) << (f.bitsPerSample - 1));
}

namespace {

// How far past the allowance the frame at `at` lies from where `last` and
// `before` point, in typical bends of the track.
double jump(const uint8_t* data, int64_t at, const PcmTrackTail& tail, double last, double before) {
    const double next = valueAt(data + at, tail.format);
    return std::max(0.0, std::fabs(next - (2 * last - before)) / tail.bend - PcmContinuitySplit::kCarriesOn);
}

}  // namespace

std::vector<PcmContentRun> PcmContinuitySplit::split(const uint8_t* data, int64_t n, int64_t grid,
                                                     const std::vector<PcmTrackTail>& tails, size_t first) {
    if (tails.size() != 2 || grid < 1 || n < grid || n / grid > kMaxCells)
        return {};
    for (const PcmTrackTail& t : tails)
        if (!t.known || t.bend <= 0 || !t.format.usable() || grid % t.format.frameBytes() != 0)
            return {};
    const int64_t cells = n / grid;
    // The two values in front of grid position k, read as track t.
    auto tailAt = [&](size_t t, int64_t k, double& last, double& before) {
        const int64_t fb = tails[t].format.frameBytes();
        last = valueAt(data + k * grid - fb, tails[t].format);
        before = valueAt(data + k * grid - 2 * fb, tails[t].format);
    };
    // inner[t][k]: the jumps at grid positions 1..k-1 read as track t's
    // sound carrying on, summed.
    std::vector<std::vector<double>> inner(2, std::vector<double>(size_t(cells) + 1, 0));
    for (size_t t = 0; t < 2; ++t)
        for (int64_t k = 1; k <= cells; ++k) {
            double j = 0;
            if (k > 1) {
                double last = 0, before = 0;
                tailAt(t, k - 1, last, before);
                j = jump(data, (k - 1) * grid, tails[t], last, before);
            }
            inner[t][size_t(k)] = inner[t][size_t(k - 1)] + j;
        }
    auto within = [&](size_t t, int64_t from, int64_t to) { return inner[t][size_t(to)] - inner[t][size_t(from + 1)]; };
    // A tone repeats: where it carries on as well from either track's last
    // value, the track furthest behind writes first, so only the layouts
    // that begin with it are weighed. Those of one run or two, then those
    // with a run inside another: the ones that carry both tracks on, and
    // whether any neither does nor clearly jumps.
    std::vector<std::vector<PcmContentRun>> smooth[2];
    bool unclear[2] = {false, false};
    auto weigh = [&](double cost, std::vector<PcmContentRun> runs) {
        if (runs.front().track != first)
            return;
        const size_t count = runs.size() < 3 ? 0 : 1;
        if (cost <= kSmooth)
            smooth[count].push_back(std::move(runs));
        else if (cost < kJumpy)
            unclear[count] = true;
    };
    for (size_t a = 0; a < 2; ++a) {
        const size_t b = 1 - a;
        const double startA = jump(data, 0, tails[a], tails[a].last, tails[a].before);
        weigh(startA + within(a, 0, cells), {{a, cells}});
        for (int64_t x = 1; x < cells; ++x) {
            const double headA = startA + within(a, 0, x);
            const double startB = jump(data, x * grid, tails[b], tails[b].last, tails[b].before);
            weigh(headA + startB + within(b, x, cells), {{a, x}, {b, cells - x}});
            double last = 0, before = 0;
            tailAt(a, x, last, before);
            for (int64_t y = x + 1; y < cells; ++y)
                weigh(headA + startB + within(b, x, y) + jump(data, y * grid, tails[a], last, before) +
                          within(a, y, cells),
                      {{a, x}, {b, y - x}, {a, cells - y}});
        }
    }
    // In a tone, each place a run may end is one more chance that the
    // other track's bytes happen to carry a sound on (a tone repeats every
    // few blocks), and a run inside another has many: it is believed only
    // where no layout of one run or two fits.
    for (size_t count = 0; count < 2; ++count) {
        if (unclear[count] || smooth[count].size() > 1)
            return {};
        if (smooth[count].size() == 1)
            return std::move(smooth[count].front());
    }
    return {};
}
