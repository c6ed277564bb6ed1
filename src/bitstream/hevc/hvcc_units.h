#pragma once
// The NAL units of an HEVC decoder configuration record (hvcC payload),
// located in place.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace HEVC {

struct ConfigUnit {
    uint8_t arrayType = 0;  // the array's type byte (NAL_unit_type in the low 6 bits)
    const uint8_t* data = nullptr;  // the unit, two-byte NAL header included
    size_t size = 0;
};

// Walks the arrays of an hvcC payload (the 23-byte header, then the arrays).
// Stops at the first array or unit that does not fit. lengthSize, when given,
// receives lengthSizeMinusOne + 1 (4 when the header is missing).
std::vector<ConfigUnit> hvccUnits(const uint8_t* hvcC, size_t size, unsigned* lengthSize = nullptr);

}  // namespace HEVC
