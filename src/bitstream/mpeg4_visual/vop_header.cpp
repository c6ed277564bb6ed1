#include "bitstream/mpeg4_visual/vop_header.h"

namespace mpeg4v {

bool readVopType(const uint8_t* p, int64_t n, VopType& out) {
    if (n < 5 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != kVop)
        return false;
    out = VopType(p[4] >> 6);  // vop_coding_type
    return true;
}

void displayIndices(const VopType* types, int64_t count, int64_t* display) {
    int64_t next = 0;
    int64_t pendingAnchor = -1;
    for (int64_t k = 0; k < count; ++k) {
        if (types[k] == VopType::Bidirectional) {
            display[k] = next++;
            continue;
        }
        if (pendingAnchor >= 0)
            display[pendingAnchor] = next++;
        pendingAnchor = k;
    }
    if (pendingAnchor >= 0)
        display[pendingAnchor] = next;
}

}  // namespace mpeg4v
