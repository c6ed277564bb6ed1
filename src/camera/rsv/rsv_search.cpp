#include "camera/rsv/rsv_search.h"

#include "camera/rsv/klv_group.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <vector>

namespace rsv {

namespace {

constexpr uint64_t kWindow = 1048576;

template <class Test>
uint64_t search(ScanBuffer& input, uint64_t from, uint64_t overlap, Test test) {
    const uint64_t size = uint64_t(input.fileSize() > 0 ? input.fileSize() : 0);
    std::vector<uint8_t> window(kWindow);
    for (uint64_t at = from; at < size;) {
        const size_t got = input.read(window.data(), int64_t(at), size_t(std::min(kWindow, size - at)));
        if (got == 0)
            break;
        // Positions whose structure reaches past the window are tested again
        // in the next one, unless the window already ends the input.
        const bool last = at + got >= size;
        const size_t limit = last ? got : (got > overlap ? got - overlap : 0);
        for (size_t i = 0; i < limit; ++i)
            if (test(window.data() + i, got - i, at + i, size))
                return at + i;
        if (last || limit == 0)
            break;
        at += limit;
    }
    return size;
}

}  // namespace

uint64_t nextGroup(ScanBuffer& input, uint64_t from) {
    return search(input, from, 32, [](const uint8_t* p, size_t n, uint64_t offset, uint64_t size) {
        return p[0] == 0x06 && groupEnd(p, n, offset, size) != 0;
    });
}

uint64_t nextRtmd(ScanBuffer& input, uint64_t from) {
    return search(input, from, 16, [](const uint8_t* p, size_t n, uint64_t, uint64_t) {
        return p[0] == 0x00 && isRtmdHeader(p, n);
    });
}

}  // namespace rsv
