#pragma once
// The search both length-prefixed codecs run for the next place a sample
// could begin: a cheap mask marks, sixteen positions at a time, the bytes a
// unit's length can begin with, and only those get the codec's whole test.

#include <cstdint>

// The first position in [from, last] where `isStart(at)` holds, looking only
// at positions `mask16(data + i)` marks (bit k for i + k) while `reach`
// bytes from i are in the buffer, and at those `mayStart(at)` admits
// behind that; -1 when there is none.
template <typename Mask, typename MayStart, typename IsStart>
int64_t firstMarkedStart(const uint8_t* data, int64_t n, int64_t from, int64_t last, int64_t reach, Mask mask16,
                         MayStart mayStart, IsStart isStart) {
    int64_t i = from;
    for (; i + reach <= n && i <= last; i += 16)
        for (uint32_t marks = mask16(data + i); marks; marks &= marks - 1) {
            const int64_t at = i + __builtin_ctz(marks);
            if (at > last)
                return -1;
            if (isStart(at))
                return at;
        }
    for (; i <= last; ++i)
        if (mayStart(i) && isStart(i))
            return i;
    return -1;
}
