#include "camera/rsv/rsv_access_units.h"

#include <cstring>

namespace rsv {

namespace {

constexpr uint32_t kMaxNalBytes = 5000000;

bool delimiterAt(const uint8_t* p, size_t left, bool hevc) {
    if (hevc)
        return left >= 6 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 3 && p[4] == 0x46 && p[5] == 0x01;
    return left >= 6 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 2 && p[4] == 0x09 &&
           (p[5] == 0x10 || p[5] == 0x30 || p[5] == 0x50);
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// What a NAL unit header says about its access unit.
enum class Unit { Ends, Other, Picture, KeyPicture };

Unit classify(const uint8_t* nal, uint32_t length, bool hevc) {
    // A set forbidden bit is no NAL unit at all: the bytes are audio or junk.
    if (nal[0] & 0x80)
        return Unit::Ends;
    if (hevc) {
        if (length < 2 || (nal[1] & 0x07) == 0)
            return Unit::Ends;
        const uint8_t type = (nal[0] >> 1) & 0x3F;
        if (type > 40)
            return Unit::Ends;
        if (type >= 16 && type <= 21)
            return Unit::KeyPicture;
        return type < 32 ? Unit::Picture : Unit::Other;
    }
    const uint8_t type = nal[0] & 0x1F;
    if (type == 5)
        return Unit::KeyPicture;
    if (type == 1)
        return Unit::Picture;
    return type >= 6 && type <= 9 ? Unit::Other : Unit::Ends;
}

bool walk(const uint8_t* data, size_t begin, size_t end, uint64_t base, bool hevc, AccessUnit& out) {
    size_t pos = begin;
    bool picture = false;
    out = AccessUnit();
    out.start = base + begin;
    while (end - pos >= 4) {
        const uint32_t length = be32(data + pos);
        // A length of 0 or 1 holds no NAL unit: PCM that starts with quiet
        // samples must not join the picture in front of it.
        if (length <= 1 || length > kMaxNalBytes || length > end - pos - 4)
            break;
        const Unit u = classify(data + pos + 4, length, hevc);
        if (u == Unit::Ends)
            break;
        picture = picture || u == Unit::Picture || u == Unit::KeyPicture;
        out.key = out.key || u == Unit::KeyPicture;
        ++out.nals;
        pos += 4 + size_t(length);
    }
    out.end = base + pos;
    return picture && pos > begin;
}

}  // namespace

size_t nextDelimiter(const uint8_t* data, size_t size, size_t from, bool hevc) {
    // The NAL header byte is rare in coded data; look for it and check the
    // length in front.
    const uint8_t header = hevc ? 0x46 : 0x09;
    for (size_t i = from + 4; i + 2 <= size;) {
        const void* hit = std::memchr(data + i, header, size - 1 - i);
        if (!hit)
            break;
        i = size_t(static_cast<const uint8_t*>(hit) - data);
        if (delimiterAt(data + i - 4, size - i + 4, hevc))
            return i - 4;
        ++i;
    }
    return size;
}

std::vector<AccessUnit> accessUnits(const uint8_t* data, size_t size, uint64_t base, bool hevc) {
    std::vector<AccessUnit> units;
    size_t at = nextDelimiter(data, size, 0, hevc);
    while (at < size) {
        const size_t next = nextDelimiter(data, size, at + 6, hevc);
        AccessUnit unit;
        if (walk(data, at, next, base, hevc, unit))
            units.push_back(unit);
        at = next;
    }
    return units;
}

}  // namespace rsv
