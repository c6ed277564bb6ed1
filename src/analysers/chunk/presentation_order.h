#pragma once
// Composition offsets from picture order counts, whatever the codec: within
// each stretch that begins with a picture that restarts the count, the
// pictures are shown in the order of their counts.

#include "scan/media_sample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// One video sample of the found list, in decode order.
struct OrderedPicture {
    size_t index = 0;       // in the sample list
    bool readable = false;  // its order count could be read
    bool restarts = false;  // the count starts again here (IDR)
    int64_t poc = 0;
};

// How a picture's place in presentation follows from the counts of a stretch.
enum class CountSpacing {
    Rank,     // the pictures of the stretch are shown one after another in count order
    Regular,  // the counts grow by one step per picture shown (the smallest difference
              // of the stretch), so a picture whose neighbours were lost keeps its place
};

// Sets the composition offset of every picture of a stretch whose counts are
// all readable and plausible (no picture shown more than 16 places from its
// decode position) to (shown - decoded + delay) * frameDuration, where the
// delay is the larger of `declaredDelay` and what keeps every offset
// non-negative. Other stretches keep their offsets. Where regular counts
// leave places empty (a variable frame rate, lost pictures), every picture
// gets its duration: the k-th decoded lasts from the k-th place shown to
// the next one. Returns how many samples were rewritten.
size_t applyPresentationOrder(const std::vector<OrderedPicture>& pictures, FoundSampleList& samples,
                              int64_t frameDuration, int64_t declaredDelay,
                              CountSpacing spacing = CountSpacing::Rank);
