#pragma once
// NAL unit byte building: MP4-style samples (each unit behind a 4-byte
// big-endian length), avcC and hvcC records, and a bit writer for
// hand-written parameter sets and slice headers.

#include "support/atom_builder.h"

#include <initializer_list>
#include <utility>
#include <vector>

namespace testsupport {

// Appends one unit behind its 4-byte length.
void appendLengthPrefixed(Bytes& out, const uint8_t* nal, size_t size);
// A sample of the given units, each behind its 4-byte length.
Bytes lengthPrefixed(std::initializer_list<Bytes> nals);

// An avcC record (4-byte lengths) holding the parameter sets; profile and
// level come from the first SPS when it has them.
Bytes avcC(const std::vector<Bytes>& sps, const std::vector<Bytes>& pps);

// An hvcC record (4-byte lengths): one array per NAL unit type.
using HvccArray = std::pair<uint8_t, std::vector<Bytes>>;
Bytes hvcC(const std::vector<HvccArray>& arrays);

// Writes RBSP bits after the NAL header bytes given as they are.
class RbspWriter {
public:
    explicit RbspWriter(std::initializer_list<uint8_t> header) : m_bytes(header) {}
    RbspWriter& u(unsigned n, uint64_t v);
    RbspWriter& ue(uint64_t v);
    RbspWriter& se(int64_t v);
    // rbsp_trailing_bits, then emulation prevention as an encoder adds it.
    Bytes finish();

private:
    void bit(unsigned b);
    Bytes m_bytes;
    unsigned m_fill = 0;
};

}  // namespace testsupport
