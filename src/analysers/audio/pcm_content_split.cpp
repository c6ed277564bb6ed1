#include "analysers/audio/pcm_content_split.h"

#include <algorithm>
#include <limits>

namespace {

// A block is told for one track when the next likeliest is this much less
// like it (a feature off by a fifth).
constexpr double kTold = 0.2;
// Share of the blocks that must be told, and of those the runs must agree
// with, for the sound to decide the layout.
constexpr double kToldShare = 0.8;
constexpr double kAgreedShare = 0.97;
// What a change of track costs: a block or two that sounds like the other
// track (a quiet moment) does not split a chunk. Tracks that sound only a
// little apart (two tones a fifth apart) tell each block by less: there a
// change costs a little less than a block told by the stretch's typical
// margin, so that one packet of two blocks between another track's stands
// out, and a lone block (two changes) does not.
constexpr double kChangeCost = 2.0;
constexpr double kChangeMargins = 0.9;
// Blocks of one stretch weighed at most (the search is quadratic).
constexpr size_t kMaxBlocks = 4096;
constexpr size_t kMaxTracks = 8;

// Block k's likeliest track, and by how much the next likeliest is less
// like it.
size_t likeliest(const std::vector<std::vector<double>>& costs, size_t k, double& margin) {
    size_t best = 0;
    for (size_t t = 1; t < costs.size(); ++t)
        if (costs[t][k] < costs[best][k])
            best = t;
    double next = std::numeric_limits<double>::max();
    for (size_t t = 0; t < costs.size(); ++t)
        if (t != best)
            next = std::min(next, costs[t][k]);
    margin = next - costs[best][k];
    return best;
}

}  // namespace

bool PcmContentSplit::contradicts(const std::vector<std::vector<double>>& costs,
                                  const std::vector<PcmContentRun>& runs) {
    size_t k = 0;
    for (const PcmContentRun& run : runs)
        for (int64_t b = 0; b < run.blocks; ++b, ++k) {
            if (costs.empty() || k >= costs.front().size())
                return false;
            double margin = 0;
            if (likeliest(costs, k, margin) != run.track && margin >= kTold)
                return true;
        }
    return false;
}

std::vector<PcmContentRun> PcmContentSplit::split(const std::vector<std::vector<double>>& costs,
                                                  const std::vector<int64_t>& packets) {
    const size_t tracks = costs.size();
    if (tracks < 2 || tracks > kMaxTracks || packets.size() != tracks)
        return {};
    const size_t n = costs.front().size();
    if (n == 0 || n > kMaxBlocks)
        return {};
    for (size_t t = 0; t < tracks; ++t)
        if (costs[t].size() != n || packets[t] < 1)
            return {};
    // Each block's likeliest track, where the sound tells it, and by how much.
    std::vector<int> told(n, -1);
    std::vector<double> margins;
    size_t toldCount = 0;
    for (size_t k = 0; k < n; ++k) {
        double margin = 0;
        const size_t best = likeliest(costs, k, margin);
        if (margin >= kTold) {
            told[k] = int(best);
            margins.push_back(margin);
            ++toldCount;
        }
    }
    if (double(toldCount) < kToldShare * double(n))
        return {};
    std::nth_element(margins.begin(), margins.begin() + std::ptrdiff_t(margins.size() / 2), margins.end());
    const double changeCost = std::min(kChangeCost, kChangeMargins * margins[margins.size() / 2]);
    // Sums of each track's costs, so that a run's cost is one difference.
    std::vector<std::vector<double>> sum(tracks, std::vector<double>(n + 1, 0));
    for (size_t t = 0; t < tracks; ++t)
        for (size_t k = 0; k < n; ++k)
            sum[t][k + 1] = sum[t][k] + costs[t][k];
    // best[k][t]: the cheapest runs covering blocks [0, k) whose last run is
    // track t's; from[k][t] where that run begins.
    const double none = std::numeric_limits<double>::max();
    std::vector<std::vector<double>> best(n + 1, std::vector<double>(tracks, none));
    std::vector<std::vector<int64_t>> from(n + 1, std::vector<int64_t>(tracks, -1));
    for (size_t k = 1; k <= n; ++k)
        for (size_t t = 0; t < tracks; ++t)
            for (int64_t j = int64_t(k) - packets[t]; j >= 0; j -= packets[t]) {
                double before = j == 0 ? 0 : none;
                for (size_t u = 0; u < tracks && j > 0; ++u)
                    if (u != t && best[size_t(j)][u] < none)
                        before = std::min(before, best[size_t(j)][u] + changeCost);
                if (before == none)
                    continue;
                const double cost = before + sum[t][k] - sum[t][size_t(j)];
                if (cost < best[k][t]) {
                    best[k][t] = cost;
                    from[k][t] = j;
                }
            }
    size_t last = 0;
    for (size_t t = 1; t < tracks; ++t)
        if (best[n][t] < best[n][last])
            last = t;
    if (best[n][last] == none)
        return {};
    std::vector<PcmContentRun> runs;
    for (size_t k = n, t = last; k > 0;) {
        const int64_t j = from[k][t];
        runs.push_back({t, int64_t(k) - j});
        if (j == 0)
            break;
        // The run in front is the cheapest of another track ending at j.
        size_t previous = tracks;
        for (size_t u = 0; u < tracks; ++u)
            if (u != t && best[size_t(j)][u] < none &&
                (previous == tracks || best[size_t(j)][u] < best[size_t(j)][previous]))
                previous = u;
        k = size_t(j);
        t = previous;
    }
    std::reverse(runs.begin(), runs.end());
    // The runs must agree with what the blocks tell.
    size_t agreed = 0, k = 0;
    for (const PcmContentRun& run : runs)
        for (int64_t b = 0; b < run.blocks; ++b, ++k)
            agreed += told[k] == int(run.track) ? 1 : 0;
    if (double(agreed) < kAgreedShare * double(toldCount))
        return {};
    return runs;
}
