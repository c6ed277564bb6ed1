#include "analysers/audio/pcm_chunk_fill.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Packets tried either side of a track's even share of the stretch: the
// tracks' chunks differ from it by a packet or two of rounding, and a
// track a whole chunk ahead writes none.
constexpr int64_t kPacketsAround = 8;
// Tracks a stretch is shared by at most; no recorder writes more sound tracks.
constexpr size_t kMaxTracks = 4;

// Chunks one gap holds at most, and layouts tried at most: a gap holds a
// few chunks per track.
constexpr size_t kMaxTurns = 12;
constexpr int kMaxTries = 20000;
// Start times closer than this are the same (sums of chunk durations).
constexpr double kSameTime = 1e-7;

struct TurnSearch {
    const std::vector<PcmChunkTrack>& tracks;
    const std::vector<std::vector<int64_t>>& sizes;
    const std::vector<size_t>& order;
    std::vector<double> seconds;
    std::vector<PcmChunkTurn> turns;
    int tries = 0;
    // Of the layouts that fill the stretch, the one whose tracks end
    // closest together in time (the likeliest first on a tie): one packet
    // more of one track and one less of another often fill it as well,
    // but the muxer cut each track's chunks by the same clock.
    std::vector<PcmChunkTurn> best;
    double bestSpread = std::numeric_limits<double>::max();
    // Chunks of the best layout that are no length the track wrote before:
    // a layout of the tracks' own lengths wins over one that cuts chunks.
    size_t bestCut = kMaxTurns;
    // The track's chunk was cut short where another's began.
    std::vector<bool> cut;

    bool fill(int64_t left) {
        if (left == 0) {
            const auto [low, high] = std::minmax_element(seconds.begin(), seconds.end());
            const size_t cutChunks =
                size_t(std::count_if(turns.begin(), turns.end(), [](const PcmChunkTurn& t) { return !t.whole; }));
            if (cutChunks < bestCut || (cutChunks == bestCut && *high - *low < bestSpread - kSameTime)) {
                bestCut = cutChunks;
                bestSpread = *high - *low;
                best = turns;
            }
            return bestCut == 0 && bestSpread < kSameTime;
        }
        if (turns.size() >= kMaxTurns || ++tries > kMaxTries)
            return false;
        size_t next = tracks.size();
        for (size_t i : order)
            if (next == tracks.size() || seconds[i] < seconds[next] - kSameTime)
                next = i;
        const size_t own = sizes[next].size();
        const std::vector<int64_t> lengths = candidates(next, left);
        for (size_t n = 0; n < lengths.size(); ++n) {
            const int64_t size = lengths[n];
            if (size < 1 || size > left)
                continue;
            const double before = seconds[next];
            const bool wasCut = cut[next];
            seconds[next] += double(size) / tracks[next].byteRate;
            cut[next] = cut[next] || (n >= own && size < left);
            turns.push_back({next, size, n < own});
            if (fill(left - size))
                return true;
            turns.pop_back();
            seconds[next] = before;
            cut[next] = wasCut;
        }
        return false;
    }

    // The lengths tried for track t's next chunk: its own, then two a
    // muxer that cuts a track's chunk where another's begins writes. A
    // track behind the others writes up to about where the one ahead
    // stands, that one its whole chunk, and the first track's chunk goes
    // on until the video's: the gap's last chunk is what is left.
    std::vector<int64_t> candidates(size_t t, int64_t left) const {
        std::vector<int64_t> lengths = sizes[t];
        const int64_t packet = tracks[t].packet;
        if (packet < 1 || sizes[t].empty())
            return lengths;
        const int64_t longest = *std::max_element(sizes[t].begin(), sizes[t].end());
        if (cut[t] && turns.back().track != t && left % packet == 0 && left <= longest)
            lengths.push_back(left);
        const bool wroteHere = std::any_of(turns.begin(), turns.end(), [&](const PcmChunkTurn& c) { return c.track == t; });
        double ahead = seconds[t];
        for (size_t i = 0; i < tracks.size(); ++i)
            ahead = std::max(ahead, seconds[i]);
        const double packetSeconds = double(packet) / tracks[t].byteRate;
        const int64_t reach = int64_t(std::ceil((ahead - seconds[t]) / packetSeconds - kSameTime)) * packet;
        if (!wroteHere && reach > 0 && reach < longest)
            lengths.push_back(reach);
        return lengths;
    }
};

}  // namespace

double PcmChunkFill::commonEnd(const std::vector<PcmChunkTrack>& tracks, double bytes) {
    std::vector<const PcmChunkTrack*> order;
    for (const PcmChunkTrack& t : tracks)
        order.push_back(&t);
    std::sort(order.begin(), order.end(), [](const PcmChunkTrack* x, const PcmChunkTrack* y) {
        return x->seconds < y->seconds;
    });
    double time = order.empty() ? 0 : order.front()->seconds, rate = 0;
    for (const PcmChunkTrack* t : order) {
        if (rate > 0 && rate * (t->seconds - time) >= bytes)
            break;
        bytes -= rate * (t->seconds - time);
        time = t->seconds;
        rate += t->byteRate;
    }
    return rate > 0 ? time + bytes / rate : time;
}

std::vector<PcmChunkTurn> PcmChunkFill::inTurns(const std::vector<PcmChunkTrack>& tracks,
                                                const std::vector<std::vector<int64_t>>& sizes,
                                                const std::vector<size_t>& order, int64_t bytes) {
    if (tracks.empty() || sizes.size() != tracks.size() || order.size() != tracks.size() || bytes < 1)
        return {};
    for (const PcmChunkTrack& t : tracks)
        if (t.byteRate <= 0)
            return {};
    TurnSearch search{tracks, sizes, order, {}, {}, 0, {}, std::numeric_limits<double>::max(), kMaxTurns,
                      std::vector<bool>(tracks.size(), false)};
    for (const PcmChunkTrack& t : tracks)
        search.seconds.push_back(t.seconds);
    search.fill(bytes);
    return search.best;
}

std::vector<PcmChunkTurn> PcmChunkFill::endingIn(const std::vector<PcmChunkTrack>& tracks,
                                                  const std::vector<int64_t>& frames, const std::vector<size_t>& order,
                                                  int64_t bytes, size_t& ended) {
    // Packets a gap of the default interleave holds at most.
    constexpr size_t kMaxPackets = 256;
    const size_t k = tracks.size();
    if (k < 2 || frames.size() != k || order.size() != k || bytes < 1)
        return {};
    for (size_t i = 0; i < k; ++i)
        if (tracks[i].packet < 1 || tracks[i].byteRate <= 0 || frames[i] < 1)
            return {};
    std::vector<PcmChunkTurn> best;
    double bestLead = std::numeric_limits<double>::max();
    // The track furthest behind of those in `live` writes next.
    auto nextOf = [&](const std::vector<double>& seconds, const std::vector<bool>& live) {
        size_t next = k;
        for (size_t i : order)
            if (live[i] && (next == k || seconds[i] < seconds[next] - kSameTime))
                next = i;
        return next;
    };
    for (size_t ender = 0; ender < k; ++ender) {
        // The ending track's packets in front of its last one.
        for (size_t before = 0; before < kMaxPackets; ++before) {
            std::vector<double> seconds;
            for (const PcmChunkTrack& t : tracks)
                seconds.push_back(t.seconds);
            std::vector<bool> live(k, true);
            std::vector<PcmChunkTurn> turns;
            int64_t left = bytes;
            size_t taken = 0;
            bool reached = false;
            while (left > 0 && turns.size() < kMaxPackets) {
                const size_t next = nextOf(seconds, live);
                if (next == ender && taken == before) {
                    reached = true;
                    break;
                }
                if (tracks[next].packet > left)
                    break;
                turns.push_back({next, tracks[next].packet});
                seconds[next] += double(tracks[next].packet) / tracks[next].byteRate;
                left -= tracks[next].packet;
                taken += next == ender ? 1 : 0;
            }
            if (!reached)
                break;
            // The last packet, then the others' whole packets in time order
            // up to the gap's end: each count of those is a layout.
            const size_t at = turns.size();
            live[ender] = false;
            std::vector<PcmChunkTurn> after;
            std::vector<double> afterSeconds = seconds;
            int64_t rest = 0;
            for (;;) {
                const int64_t last = left - rest;
                if (last > 0 && last < tracks[ender].packet && last % frames[ender] == 0) {
                    const double end = seconds[ender] + double(last) / tracks[ender].byteRate;
                    double latest = 0;
                    for (size_t i = 0; i < k; ++i)
                        if (i != ender)
                            latest = std::max(latest, afterSeconds[i]);
                    if (latest <= end + kSameTime && end - latest < bestLead) {
                        bestLead = end - latest;
                        best.assign(turns.begin(), turns.begin() + long(at));
                        best.push_back({ender, last});
                        best.insert(best.end(), after.begin(), after.end());
                        ended = ender;
                    }
                }
                const size_t next = nextOf(afterSeconds, live);
                if (next == k || rest + tracks[next].packet >= left || after.size() >= kMaxPackets)
                    break;
                after.push_back({next, tracks[next].packet});
                afterSeconds[next] += double(tracks[next].packet) / tracks[next].byteRate;
                rest += tracks[next].packet;
            }
        }
    }
    return best;
}

std::vector<int64_t> PcmChunkFill::closingTogether(const std::vector<PcmChunkTrack>& tracks,
                                                  const std::vector<std::vector<int64_t>>& sizes,
                                                  const std::vector<int64_t>& last) {
    if (sizes.size() != tracks.size() || last.size() != tracks.size())
        return last;
    double end = 0;
    for (size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].byteRate > 0)
            end = std::max(end, tracks[i].seconds + double(last[i]) / tracks[i].byteRate);
    std::vector<int64_t> chunks = last;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].byteRate <= 0)
            continue;
        auto miss = [&](int64_t bytes) {
            return std::fabs(tracks[i].seconds + double(bytes) / tracks[i].byteRate - end);
        };
        for (int64_t bytes : sizes[i])
            if (bytes > 0 && miss(bytes) < miss(chunks[i]) - kSameTime)
                chunks[i] = bytes;
    }
    return chunks;
}

std::vector<int64_t> PcmChunkFill::split(const std::vector<PcmChunkTrack>& tracks, int64_t bytes) {
    if (tracks.empty() || tracks.size() > kMaxTracks || bytes < 1)
        return {};
    for (const PcmChunkTrack& t : tracks)
        if (t.packet < 1 || t.byteRate <= 0)
            return {};
    const double end = commonEnd(tracks, double(bytes));
    const size_t k = tracks.size();
    // Every track but the last tries packet counts around its share; the
    // last takes what is left, when that is whole packets.
    std::vector<int64_t> low(k), count(k), best;
    for (size_t i = 0; i + 1 < k; ++i) {
        const double share = std::max(0.0, (end - tracks[i].seconds) * tracks[i].byteRate) / double(tracks[i].packet);
        low[i] = std::max<int64_t>(0, std::llround(share) - kPacketsAround);
        count[i] = low[i];
    }
    double bestSpread = std::numeric_limits<double>::max(), bestMiss = bestSpread;
    for (;;) {
        int64_t used = 0;
        for (size_t i = 0; i + 1 < k; ++i)
            used += count[i] * tracks[i].packet;
        const int64_t left = bytes - used;
        if (left >= 0 && left % tracks[k - 1].packet == 0) {
            count[k - 1] = left / tracks[k - 1].packet;
            double lo = std::numeric_limits<double>::max(), hi = -lo, miss = 0;
            for (size_t i = 0; i < k; ++i) {
                const double ends = tracks[i].seconds + double(count[i] * tracks[i].packet) / tracks[i].byteRate;
                lo = std::min(lo, ends);
                hi = std::max(hi, ends);
                miss += std::fabs(ends - end);
            }
            // Closest together first; of equal spreads, closest to the
            // even share.
            if (hi - lo < bestSpread - 1e-9 || (hi - lo < bestSpread + 1e-9 && miss < bestMiss)) {
                bestSpread = hi - lo;
                bestMiss = miss;
                best.assign(k, 0);
                for (size_t i = 0; i < k; ++i)
                    best[i] = count[i] * tracks[i].packet;
            }
        }
        // The next combination of the counts tried.
        size_t i = 0;
        while (i + 1 < k && count[i] == low[i] + 2 * kPacketsAround) {
            count[i] = low[i];
            ++i;
        }
        if (i + 1 >= k)
            break;
        ++count[i];
    }
    return best;
}
