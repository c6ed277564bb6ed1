#include "camera/rsv/rsv_search.h"

#include "camera/rsv/klv_group.h"
#include "scan/scan_buffer.h"

#include <cstring>

namespace rsv {

namespace {

// Searches go through the scan's own window: a stretch full of structures
// that do not hold up must not cost a file read each.
template <class Test>
uint64_t search(ScanBuffer& input, uint64_t from, int32_t overlap, uint8_t first, Test test) {
    const uint64_t size = uint64_t(input.fileSize() > 0 ? input.fileSize() : 0);
    for (uint64_t at = from; at < size;) {
        const uint8_t* window = input.get(int64_t(at), 2 * overlap);
        const int32_t got = input.available();
        if (got <= 0)
            break;
        // Positions whose structure reaches past the window are tested again
        // in the next one, unless the window already ends the input.
        const bool last = at + uint64_t(got) >= size;
        const int32_t limit = last ? got : got - overlap;
        for (int32_t i = 0; i < limit; ++i) {
            const void* hit = std::memchr(window + i, first, size_t(limit - i));
            if (!hit)
                break;
            i = int32_t(static_cast<const uint8_t*>(hit) - window);
            if (test(window + i, size_t(got - i), at + uint64_t(i), size))
                return at + uint64_t(i);
        }
        if (last || limit <= 0)
            break;
        at += uint64_t(limit);
    }
    return size;
}

}  // namespace

uint64_t nextGroup(ScanBuffer& input, uint64_t from) {
    return search(input, from, 32, 0x06, [](const uint8_t* p, size_t n, uint64_t offset, uint64_t size) {
        return groupEnd(p, n, offset, size) != 0;
    });
}

uint64_t nextRtmd(ScanBuffer& input, uint64_t from) {
    return search(input, from, 16, 0x00, [](const uint8_t* p, size_t n, uint64_t, uint64_t) {
        return isRtmdHeader(p, n);
    });
}

}  // namespace rsv
