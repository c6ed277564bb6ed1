#include "analysers/chunk/presentation_order.h"

#include <algorithm>
#include <numeric>

namespace {

// The decoded picture buffer holds at most 16 frames, so no frame is shown
// further than that from its place in decode order; a stretch that says
// otherwise holds a damaged order count and keeps its offsets. Counts that
// leave more steps than this between two pictures shown one after another
// are taken as damaged too.
constexpr int64_t kMaxReorder = 16;

// Where each picture of the stretch [begin, end) is shown, in frames from
// the stretch's first picture shown; empty when the counts cannot be used.
std::vector<int64_t> stretchPlaces(const std::vector<OrderedPicture>& pictures, size_t begin, size_t end,
                                   CountSpacing spacing) {
    if (!std::all_of(pictures.begin() + long(begin), pictures.begin() + long(end),
                     [](const OrderedPicture& p) { return p.readable; }))
        return {};
    std::vector<size_t> order(end - begin);
    std::iota(order.begin(), order.end(), begin);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return pictures[a].poc < pictures[b].poc; });
    int64_t step = 0;
    bool regular = spacing == CountSpacing::Regular;
    for (size_t rank = 1; rank < order.size(); ++rank) {
        const int64_t d = pictures[order[rank]].poc - pictures[order[rank - 1]].poc;
        regular = regular && d > 0;
        if (d > 0 && (step == 0 || d < step))
            step = d;
    }
    std::vector<int64_t> place(pictures.size() - begin, 0);
    for (size_t rank = 0; rank < order.size(); ++rank) {
        const int64_t moved = int64_t(order[rank] - begin) - int64_t(rank);
        if (moved > kMaxReorder || -moved > kMaxReorder)
            return {};
        place[order[rank] - begin] =
            regular && step > 0 ? (pictures[order[rank]].poc - pictures[order[0]].poc) / step : int64_t(rank);
        if (rank > 0 && place[order[rank] - begin] - place[order[rank - 1] - begin] > kMaxReorder)
            return stretchPlaces(pictures, begin, end, CountSpacing::Rank);
    }
    place.resize(end - begin);
    return place;
}

// Slots left empty behind the last pictures decoded belong to pictures the
// end of the input cut off, not to a longer showing of the pictures found:
// above the earliest slot of the pictures decoded within the stream's
// reorder depth of its end, the pictures are decoded one frame apart. They
// are still shown in their own slots.
void closeDecodeSlotsAtTheEnd(const std::vector<int64_t>& shown, std::vector<int64_t>& decoded) {
    const size_t n = shown.size();
    int64_t depth = 0;
    for (size_t k = 0; k < n; ++k) {
        const int64_t rank = std::lower_bound(decoded.begin(), decoded.end(), shown[k]) - decoded.begin();
        depth = std::max(depth, rank > int64_t(k) ? rank - int64_t(k) : int64_t(k) - rank);
    }
    if (n == 0 || depth >= int64_t(n))
        return;
    int64_t from = shown[n - 1];
    for (size_t k = n - 1 - size_t(depth); k < n; ++k)
        from = std::min(from, shown[k]);
    const size_t first = size_t(std::upper_bound(decoded.begin(), decoded.end(), from) - decoded.begin());
    for (size_t r = first; r < n; ++r)
        decoded[r] = from + 1 + int64_t(r - first);
}

}  // namespace

size_t applyPresentationOrder(const std::vector<OrderedPicture>& pictures, FoundSampleList& samples,
                              int64_t frameDuration, int64_t declaredDelay, CountSpacing spacing) {
    // The slot (in frames) each picture is shown in. A stretch whose counts
    // cannot be used takes one slot per picture in decode order and keeps
    // its offsets; the stretches follow each other.
    const size_t n = pictures.size();
    std::vector<int64_t> shown(n, 0);
    std::vector<bool> counted(n, false);
    int64_t base = 0;
    for (size_t begin = 0; begin < n;) {
        size_t end = begin + 1;
        while (end < n && !pictures[end].restarts)
            ++end;
        const std::vector<int64_t> place = stretchPlaces(pictures, begin, end, spacing);
        int64_t last = 0;
        for (size_t k = begin; k < end; ++k) {
            shown[k] = base + (place.empty() ? int64_t(k - begin) : place[k - begin]);
            counted[k] = !place.empty();
            last = std::max(last, shown[k]);
        }
        base = last + 1;
        begin = end;
    }
    // The k-th picture decoded takes the k-th slot: a slot the counts leave
    // empty (a frame shown longer, a picture lost) lengthens the picture
    // decoded before it.
    std::vector<int64_t> decoded(shown);
    std::sort(decoded.begin(), decoded.end());
    closeDecodeSlotsAtTheEnd(shown, decoded);
    int64_t delay = std::min(declaredDelay, kMaxReorder);
    for (size_t k = 0; k < n; ++k)
        if (counted[k])
            delay = std::max(delay, decoded[k] - shown[k]);
    size_t rewritten = 0;
    for (size_t k = 0; k < n; ++k) {
        if (!counted[k])
            continue;
        samples.setExtra(pictures[k].index, int32_t((shown[k] - decoded[k] + delay) * frameDuration));
        ++rewritten;
    }
    const bool even = n == 0 || decoded.back() - decoded.front() + 1 == int64_t(n);
    for (size_t k = 0; k < n; ++k)
        samples.setDuration(pictures[k].index,
                            even ? 0 : int32_t((k + 1 < n ? decoded[k + 1] - decoded[k] : 1) * frameDuration));
    return rewritten;
}
