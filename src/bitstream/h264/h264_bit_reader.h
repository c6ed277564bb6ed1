#pragma once
// The H.264 flavour of the shared bit reader: initialised with a length in
// bits, as the H.264 callers hand it. Over-reads yield 0 and clear ok(); later
// reads go on from what is left, so callers test ok() where they care.

#include "bitstream/common/bit_reader.h"

#include <cstddef>
#include <cstdint>

class H264BitReader : public bitstream::BitReader {
public:
    H264BitReader() = default;
    H264BitReader(const uint8_t* data, uint64_t lengthInBits,
                  bitstream::Emulation mode = bitstream::Emulation::Keep) {
        init(data, lengthInBits, mode);
    }
    // Whole bytes only: a trailing partial byte of lengthInBits is ignored.
    void init(const uint8_t* data, uint64_t lengthInBits, bitstream::Emulation mode = bitstream::Emulation::Keep) {
        BitReader::init(data, static_cast<size_t>(lengthInBits / 8), mode);
    }
    uint32_t readUe() { return readUE(); }
    int32_t readSe() { return readSE(); }
};
