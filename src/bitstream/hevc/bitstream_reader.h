#pragma once
// Reader for the payload of one HEVC NAL unit (the bytes after its two-byte
// header), most significant bit first, with emulation-prevention bytes dropped
// on the fly so the payload is never copied. Reading past the end (or past a
// limit set for an SEI payload) raises BitstreamError; the parse of that unit
// ends there.

#include "bitstream/common/bit_reader.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace HEVC {

class BitstreamError : public std::runtime_error {
public:
    explicit BitstreamError(const std::string& what) : std::runtime_error(what) {}
};

class BitstreamReader {
public:
    BitstreamReader() = default;
    BitstreamReader(const uint8_t* data, size_t size) { init(data, size); }

    void init(const uint8_t* data, size_t size);

    // Bits still to read before the end of the payload, counting
    // emulation-prevention bytes ahead as payload.
    int64_t bitsAvailable() const;
    // Byte position of the next 00 00 01 (or 00 00 00 01) at or after the
    // current byte, or the size when there is none.
    size_t nextStartCode() const;

    uint32_t getBit();
    bool getFlag() { return getBit() != 0; }
    void skipBits(uint64_t n);
    uint32_t showBits(unsigned n) const;
    uint32_t getBits(unsigned n);  // n at most 32
    uint32_t getUe();              // more than 31 leading zeros yields 0
    int32_t getSe();

    // Payload bits read so far (emulation-prevention bytes not counted).
    uint64_t bitsRead() const { return m_reader.bitsConsumed(); }
    bool byteAligned() const { return m_reader.byteAligned(); }
    bool moreRbspData() const { return m_reader.moreRbspData(); }

    // Reads beyond bitsRead() + bits fail until the limit is cleared; used to
    // keep an SEI payload inside its declared size.
    void setLimit(uint64_t bits) { m_limit = m_reader.bitsConsumed() + bits; }
    void clearLimit() { m_limit = kNoLimit; }
    uint64_t limit() const { return m_limit; }
    void restoreLimit(uint64_t absolute) { m_limit = absolute; }

private:
    static constexpr uint64_t kNoLimit = ~uint64_t(0);
    void need(uint64_t bits) const;

    bitstream::BitReader m_reader;
    uint64_t m_limit = kNoLimit;
};

}  // namespace HEVC
