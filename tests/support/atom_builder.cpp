#include "support/atom_builder.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

void put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

void put32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(uint8_t(v >> shift));
}

void put64(Bytes& b, uint64_t v) {
    put32(b, uint32_t(v >> 32));
    put32(b, uint32_t(v));
}

void putType(Bytes& b, const char* type) { b.insert(b.end(), type, type + 4); }

Bytes u32s(std::initializer_list<uint32_t> values) {
    Bytes b;
    for (uint32_t v : values)
        put32(b, v);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

void setBe32(uint8_t* p, uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}

void setBe64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}

Bytes atom(const char* type, const Bytes& payload, std::optional<uint32_t> claimedSize) {
    Bytes b;
    put32(b, claimedSize ? *claimedSize : uint32_t(payload.size() + 8));
    putType(b, type);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes atom64(const char* type, const Bytes& payload, std::optional<uint64_t> claimedSize) {
    Bytes b;
    put32(b, 1);
    putType(b, type);
    put64(b, claimedSize ? *claimedSize : uint64_t(payload.size() + 16));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes fullAtom(const char* type, uint8_t version, uint32_t flags, const Bytes& payload) {
    return atom(type, concat({u32s({uint32_t(version) << 24 | (flags & 0xFFFFFF)}), payload}));
}

size_t findType(const Bytes& bytes, const char* type, size_t from) {
    if (from >= bytes.size())
        return std::string::npos;
    const auto it = std::search(bytes.begin() + long(from), bytes.end(), type, type + std::strlen(type));
    return it == bytes.end() ? std::string::npos : size_t(it - bytes.begin());
}

}  // namespace testsupport
