#include "bitstream/hevc/hvcc_units.h"

#include "bitstream/common/byte_read.h"

namespace HEVC {

// configurationVersion ... lengthSizeMinusOne, then numOfArrays.
constexpr size_t kHvccHeaderSize = 22;

std::vector<ConfigUnit> hvccUnits(const uint8_t* p, size_t size, unsigned* lengthSize) {
    std::vector<ConfigUnit> out;
    if (lengthSize)
        *lengthSize = 4;
    if (!p || size < kHvccHeaderSize + 1)
        return out;
    if (lengthSize)
        *lengthSize = (p[21] & 3u) + 1;
    const unsigned numArrays = p[22];
    size_t pos = kHvccHeaderSize + 1;
    for (unsigned a = 0; a < numArrays; ++a) {
        if (size - pos < 3)
            return out;
        const uint8_t type = p[pos];
        const unsigned numNalus = bitstream::readBE16(p + pos + 1);
        pos += 3;
        for (unsigned n = 0; n < numNalus; ++n) {
            if (size - pos < 2)
                return out;
            const size_t len = bitstream::readBE16(p + pos);
            pos += 2;
            if (len > size - pos)
                return out;
            out.push_back(ConfigUnit{type, p + pos, len});
            pos += len;
        }
    }
    return out;
}

}  // namespace HEVC
