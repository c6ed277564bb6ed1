#pragma once
// Bounded most-significant-bit-first reader over (pointer, size), shared by the
// H.264 and HEVC parsers. It never touches memory outside that range and needs
// no padding: a read past the end yields 0 bits and is counted, so a caller
// checks bitsLeft() < 0 (or overRead()) once per structure instead of after
// every field. Optionally drops emulation-prevention bytes (00 00 03) while
// reading, so NAL payloads are read in place without an unescaped copy.

#include <cstddef>
#include <cstdint>

namespace bitstream {

// Exp-Golomb codes with more leading zeros than this cannot be represented in
// 32 bits; such a code is treated as invalid data instead of being shifted.
constexpr unsigned kMaxGolombLeadingZeros = 31;

enum class Emulation {
    Keep,  // the buffer is already RBSP (or emulation prevention is irrelevant)
    Drop   // skip each 0x03 that follows two zero bytes
};

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t size, Emulation mode = Emulation::Keep) { init(data, size, mode); }

    void init(const uint8_t* data, size_t size, Emulation mode = Emulation::Keep);

    // n from 0 to 32; n > 32 marks the reader invalid and yields 0.
    uint32_t readBits(unsigned n) {
        // Slice headers are mostly flags and short codes: bits that the
        // current byte holds, with no byte step behind them, are read here.
        const unsigned avail = 8 - m_bit;
        if (n != 0 && n < avail && m_pos < m_size) {
            m_bit += n;
            m_consumed += n;
            return (uint32_t(m_data[m_pos]) >> (avail - n)) & ((1u << n) - 1u);
        }
        return readBitsAnyWhere(n);
    }
    uint32_t readBit() { return readBits(1); }
    bool readFlag() { return readBits(1) != 0; }
    uint32_t peekBits(unsigned n) const;
    void skipBits(uint64_t n);

    // ue(v) / se(v). More than 31 leading zeros marks the reader invalid and
    // yields 0 (the zeros are consumed).
    uint32_t readUE();
    int32_t readSE();

    // Bits of payload not yet read (emulation-prevention bytes ahead count as
    // payload, so this is an upper bound in Drop mode); negative after an
    // over-read by the number of bits that were missing.
    int64_t bitsLeft() const;
    uint64_t bitsConsumed() const { return m_consumed; }  // payload bits, without dropped bytes
    bool overRead() const { return m_overRead != 0; }
    // False after an over-read, a bit count above 32 or a bad Exp-Golomb code.
    bool ok() const { return m_overRead == 0 && !m_invalid; }
    bool invalid() const { return m_invalid; }
    bool byteAligned() const { return m_bit == 0; }
    void byteAlign() { if (m_bit) skipBits(8 - m_bit); }
    // True when only the rbsp_stop_one_bit and its alignment zeros (and
    // possibly trailing zero bytes) remain.
    bool moreRbspData() const;

    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t bytePosition() const { return m_pos; }  // index of the current byte in the buffer
    unsigned bitInByte() const { return m_bit; }   // bits of the current byte already consumed (0-7)
    // Pointer to the current byte (end of buffer when everything was read).
    const uint8_t* position() const { return m_data + m_pos; }

private:
    void stepByte();
    uint32_t readBitsAnyWhere(unsigned n);
    uint32_t readSlow(unsigned n);

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    unsigned m_bit = 0;  // bits of m_data[m_pos] already consumed
    bool m_drop = false;
    bool m_invalid = false;
    uint64_t m_overRead = 0;
    uint64_t m_consumed = 0;
};

}  // namespace bitstream
