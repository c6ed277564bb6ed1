#include "camera/rsv/klv_group.h"

#include <cstring>

namespace rsv {

namespace {
const uint8_t kKey[kKeyComparedBytes] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x01};
}  // namespace

bool isGroupKey(const uint8_t* p, size_t available) {
    return available >= kKeyBytes && p[0] == kKey[0] && std::memcmp(p, kKey, kKeyComparedBytes) == 0;
}

bool isRtmdHeader(const uint8_t* p, size_t available) {
    return available >= kRtmdHeaderBytes && p[0] == 0x00 && p[1] == 0x1C && p[2] == 0x01 && p[3] == 0x00 &&
           p[8] == 0xF0 && p[9] == 0x01 && p[10] == 0x00 && p[11] == 0x10;
}

uint64_t groupEnd(const uint8_t* p, size_t available, uint64_t start, uint64_t fileSize) {
    if (!isGroupKey(p, available) || available < kKeyBytes + 1)
        return 0;
    const uint8_t first = p[kKeyBytes];
    uint64_t length = 0;
    size_t lengthBytes = 1;
    if (first < 0x80) {
        length = first;
    } else {
        const size_t k = first & 0x7F;
        if (k < 1 || k > 8 || available < kKeyBytes + 1 + k)
            return 0;
        for (size_t i = 0; i < k; ++i)
            length = (length << 8) | p[kKeyBytes + 1 + i];
        lengthBytes += k;
    }
    const uint64_t head = kKeyBytes + lengthBytes;
    if (start > fileSize || head > fileSize - start || length > fileSize - start - head)
        return 0;
    return start + head + length;
}

}  // namespace rsv
