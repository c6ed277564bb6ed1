#include "bitstream/mpeg4_visual/vop_header.h"

#include <algorithm>

namespace mpeg4v {

bool readVopType(const uint8_t* p, int64_t n, VopType& out) {
    if (n < 5 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != kVop)
        return false;
    out = VopType(p[4] >> 6);  // vop_coding_type
    return true;
}

void displayIndices(const VopType* types, int64_t count, int64_t* display, bool cutShort) {
    int64_t next = 0;
    int64_t pendingAnchor = -1;
    int64_t run = 0, lastRun = 0;  // B-VOPs since the last anchor, and between the two before
    for (int64_t k = 0; k < count; ++k) {
        if (types[k] == VopType::Bidirectional) {
            display[k] = next++;
            ++run;
            continue;
        }
        if (pendingAnchor >= 0) {
            display[pendingAnchor] = next++;
            lastRun = run;
        }
        run = 0;
        pendingAnchor = k;
    }
    // In a stream cut short the B-VOPs that the last anchor waits for may
    // be missing: as many as came before it are assumed, so that it keeps
    // its place on the timeline. An encoder ends a whole stream with
    // fewer.
    if (pendingAnchor >= 0)
        display[pendingAnchor] = next + (cutShort ? std::max<int64_t>(lastRun - run, 0) : 0);
}

}  // namespace mpeg4v
