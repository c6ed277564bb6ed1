#include "bitstream/common/bit_reader.h"

namespace bitstream {

void BitReader::init(const uint8_t* data, size_t size, Emulation mode) {
    m_data = data;
    m_size = data ? size : 0;
    m_pos = 0;
    m_bit = 0;
    m_drop = mode == Emulation::Drop;
    m_invalid = false;
    m_overRead = 0;
    m_consumed = 0;
}

// Moves to the next byte, dropping an emulation-prevention byte. Only bytes of
// the buffer are looked at (the two before the new position, which lie behind
// the reader), so the first bytes can never form a false 00 00 03.
void BitReader::stepByte() {
    m_bit = 0;
    ++m_pos;
    if (m_drop && m_pos >= 2 && m_pos < m_size && m_data[m_pos] == 0x03 && m_data[m_pos - 1] == 0 &&
        m_data[m_pos - 2] == 0)
        ++m_pos;
}

uint32_t BitReader::readSlow(unsigned n) {
    uint32_t v = 0;
    while (n > 0) {
        if (m_pos >= m_size) {
            // Missing bits read as zero; record how many were missing.
            m_overRead += n;
            return n >= 32 ? 0 : v << n;
        }
        const unsigned avail = 8 - m_bit;
        const unsigned take = n < avail ? n : avail;
        const uint32_t byte = m_data[m_pos];
        const uint32_t bits = (byte >> (avail - take)) & ((1u << take) - 1u);
        v = (v << take) | bits;
        n -= take;
        m_consumed += take;
        m_bit += take;
        if (m_bit == 8)
            stepByte();
    }
    return v;
}

uint32_t BitReader::readBitsAnyWhere(unsigned n) {
    if (n == 0)
        return 0;
    if (n > 32) {
        m_invalid = true;
        return 0;
    }
    return readSlow(n);
}

uint32_t BitReader::peekBits(unsigned n) const {
    BitReader copy = *this;
    return copy.readBits(n);
}

void BitReader::skipBits(uint64_t n) {
    // Whole bytes are skipped one at a time in Drop mode (emulation bytes do
    // not count); without it the position can jump.
    if (!m_drop && m_bit == 0 && n >= 8) {
        const uint64_t bytesLeft = m_size - m_pos;
        const uint64_t whole = n / 8 < bytesLeft ? n / 8 : bytesLeft;
        m_pos += static_cast<size_t>(whole);
        m_consumed += whole * 8;
        n -= whole * 8;
    }
    while (n > 0) {
        if (m_pos >= m_size) {
            m_overRead += n;
            return;
        }
        const unsigned chunk = n > 32 ? 32 : static_cast<unsigned>(n);
        readSlow(chunk);
        n -= chunk;
    }
}

uint32_t BitReader::readUE() {
    unsigned zeros = 0;
    // The usual short code has its one bit in the current byte: its leading
    // zeros are counted at once.
    if (m_pos < m_size) {
        const unsigned avail = 8 - m_bit;
        const uint32_t rest = uint32_t(m_data[m_pos]) & ((1u << avail) - 1u);
        if (rest != 0) {
            const unsigned highest = 31u - unsigned(__builtin_clz(rest));  // bit index of the one
            zeros = avail - 1u - highest;
            readBits(zeros + 1u);
            if (zeros == 0)
                return 0;
            return ((1u << zeros) - 1u) + readBits(zeros);
        }
    }
    while (readBits(1) == 0) {
        if (m_pos >= m_size && m_overRead) {
            return 0;  // ran out of data; the over-read is recorded
        }
        if (++zeros > kMaxGolombLeadingZeros) {
            m_invalid = true;
            return 0;
        }
    }
    if (zeros == 0)
        return 0;
    // zeros <= 31: 2^zeros - 1 + suffix stays below 2^32 - 1.
    return ((1u << zeros) - 1u) + readBits(zeros);
}

int32_t BitReader::readSE() {
    const uint32_t k = readUE();
    // k <= 2^32 - 2, so both halves fit in 32 signed bits.
    if (k & 1u)
        return static_cast<int32_t>((k >> 1) + 1u);
    return -static_cast<int32_t>(k >> 1);
}

int64_t BitReader::bitsLeft() const {
    const int64_t left = m_pos >= m_size ? 0 : static_cast<int64_t>(m_size - m_pos) * 8 - m_bit;
    return left - static_cast<int64_t>(m_overRead);
}

bool BitReader::moreRbspData() const {
    if (m_pos >= m_size)
        return false;
    // Find the last non-zero byte; its lowest set bit is the stop bit.
    size_t last = m_size;
    while (last > m_pos && m_data[last - 1] == 0)
        --last;
    if (last == m_pos)
        return false;
    const uint8_t b = m_data[last - 1];
    unsigned stopBit = 0;  // bit index from the MSB
    for (unsigned i = 0; i < 8; ++i)
        if (b & (0x80u >> i))
            stopBit = i;
    const size_t stopPos = last - 1;
    // More data when the reader is before the stop bit.
    return m_pos < stopPos || (m_pos == stopPos && m_bit < stopBit);
}

}  // namespace bitstream
