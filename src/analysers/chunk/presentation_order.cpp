#include "analysers/chunk/presentation_order.h"

#include <algorithm>
#include <numeric>

namespace {

// The decoded picture buffer holds at most 16 frames, so no frame is shown
// further than that from its place in decode order; a stretch that says
// otherwise holds a damaged order count and keeps its offsets.
constexpr int64_t kMaxReorder = 16;

}  // namespace

size_t applyPresentationOrder(const std::vector<OrderedPicture>& pictures, FoundSampleList& samples,
                              int64_t frameDuration, int64_t declaredDelay, CountSpacing spacing) {
    // Presentation index of every picture (-1: keep its offset), and the
    // delay that keeps every offset non-negative.
    std::vector<int64_t> shown(pictures.size(), -1);
    int64_t delay = std::min(declaredDelay, kMaxReorder);
    for (size_t begin = 0; begin < pictures.size();) {
        size_t end = begin + 1;
        while (end < pictures.size() && !pictures[end].restarts)
            ++end;
        const bool readable = std::all_of(pictures.begin() + long(begin), pictures.begin() + long(end),
                                          [](const OrderedPicture& p) { return p.readable; });
        if (readable) {
            std::vector<size_t> order(end - begin);
            std::iota(order.begin(), order.end(), begin);
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return pictures[a].poc < pictures[b].poc; });
            // Where each picture of the stretch is shown, in count order.
            std::vector<int64_t> place(order.size());
            int64_t step = 0;
            for (size_t rank = 1; rank < order.size(); ++rank) {
                const int64_t d = pictures[order[rank]].poc - pictures[order[rank - 1]].poc;
                if (d > 0 && (step == 0 || d < step))
                    step = d;
            }
            for (size_t rank = 0; rank < order.size(); ++rank)
                place[rank] = spacing == CountSpacing::Regular && step > 0
                                  ? int64_t(begin) + (pictures[order[rank]].poc - pictures[order[0]].poc) / step
                                  : int64_t(begin + rank);
            int64_t stretchDelay = 0;
            bool plausible = true;
            for (size_t rank = 0; rank < order.size(); ++rank) {
                const int64_t moved = int64_t(order[rank]) - place[rank];
                plausible = plausible && moved <= kMaxReorder && -moved <= kMaxReorder;
                stretchDelay = std::max(stretchDelay, moved);
            }
            if (plausible) {
                for (size_t rank = 0; rank < order.size(); ++rank)
                    shown[order[rank]] = place[rank];
                delay = std::max(delay, stretchDelay);
            }
        }
        begin = end;
    }
    size_t rewritten = 0;
    for (size_t k = 0; k < pictures.size(); ++k) {
        if (shown[k] < 0)
            continue;
        samples.setExtra(pictures[k].index, int32_t((shown[k] - int64_t(k) + delay) * frameDuration));
        ++rewritten;
    }
    return rewritten;
}
