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

Bytes u32s(const std::vector<uint32_t>& values) {
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

bool isContainer(const std::string& type) {
    return type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl";
}

namespace {

void walk(const Bytes& f, size_t begin, size_t end, std::vector<AtomSpan>& out) {
    for (size_t at = begin; at + 8 <= end;) {
        uint64_t size = be32(&f[at]);
        if (size == 1 && at + 16 <= end)
            size = be64(&f[at + 8]);
        if (size < 8 || size > end - at)
            break;
        const std::string type(f.begin() + long(at) + 4, f.begin() + long(at) + 8);
        out.push_back({type, at, size_t(size)});
        if (isContainer(type))
            walk(f, at + 8, at + size, out);
        at += size;
    }
}

}  // namespace

std::vector<AtomSpan> atomTree(const Bytes& file) {
    std::vector<AtomSpan> out;
    walk(file, 0, file.size(), out);
    return out;
}

void mapChunkOffsets(Bytes& file, const std::function<uint64_t(uint64_t)>& to) {
    for (const AtomSpan& a : atomTree(file)) {
        if ((a.type != "stco" && a.type != "co64") || a.size < 16)
            continue;
        const size_t width = a.type == "co64" ? 8 : 4;
        const size_t count = std::min<size_t>(be32(&file[a.start + 12]), (a.size - 16) / width);
        for (uint8_t* p = &file[a.start + 16]; p < &file[a.start + 16] + count * width; p += width)
            width == 8 ? setBe64(p, to(be64(p))) : setBe32(p, uint32_t(to(be32(p))));
    }
}

}  // namespace testsupport
