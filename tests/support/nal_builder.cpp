#include "support/nal_builder.h"

namespace testsupport {

void appendLengthPrefixed(Bytes& out, const uint8_t* nal, size_t size) {
    put32(out, uint32_t(size));
    out.insert(out.end(), nal, nal + size);
}

Bytes lengthPrefixed(std::initializer_list<Bytes> nals) {
    Bytes out;
    for (const Bytes& n : nals)
        appendLengthPrefixed(out, n.data(), n.size());
    return out;
}

Bytes avcC(const std::vector<Bytes>& sps, const std::vector<Bytes>& pps) {
    Bytes b = {1, 100, 0, 30, 0xFF, uint8_t(0xE0 | sps.size())};
    if (!sps.empty() && sps[0].size() >= 4)
        b[1] = sps[0][1], b[2] = sps[0][2], b[3] = sps[0][3];
    for (const Bytes& s : sps) {
        put16(b, uint16_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
    }
    b.push_back(uint8_t(pps.size()));
    for (const Bytes& p : pps) {
        put16(b, uint16_t(p.size()));
        b.insert(b.end(), p.begin(), p.end());
    }
    return b;
}

Bytes hvcC(const std::vector<HvccArray>& arrays) {
    Bytes b(22, 0);
    b[0] = 1;
    b[21] = 0x03;  // lengthSizeMinusOne
    b.push_back(uint8_t(arrays.size()));
    for (const auto& [type, units] : arrays) {
        b.push_back(uint8_t(0x80 | type));
        put16(b, uint16_t(units.size()));
        for (const Bytes& u : units) {
            put16(b, uint16_t(u.size()));
            b.insert(b.end(), u.begin(), u.end());
        }
    }
    return b;
}

RbspWriter& RbspWriter::u(unsigned n, uint64_t v) {
    for (unsigned i = n; i-- > 0;)
        bit((v >> i) & 1);
    return *this;
}

RbspWriter& RbspWriter::ue(uint64_t v) {
    const uint64_t code = v + 1;
    unsigned len = 0;
    while ((code >> len) > 1)
        ++len;
    u(len, 0);
    return u(len + 1, code);
}

RbspWriter& RbspWriter::se(int64_t v) { return ue(v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }

Bytes RbspWriter::finish() {
    bit(1);
    while (m_fill)
        bit(0);
    Bytes out;
    int zeros = 0;
    for (uint8_t b : m_bytes) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

void RbspWriter::bit(unsigned b) {
    if (m_fill == 0)
        m_bytes.push_back(0);
    if (b)
        m_bytes.back() |= uint8_t(0x80 >> m_fill);
    m_fill = (m_fill + 1) & 7;
}

}  // namespace testsupport
