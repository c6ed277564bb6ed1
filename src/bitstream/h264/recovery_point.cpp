#include "bitstream/h264/recovery_point.h"

namespace H264 {

namespace {

constexpr uint8_t kSeiUnit = 6;
constexpr uint32_t kRecoveryPointMessage = 6;

// The unit's payload bytes with the emulation prevention bytes left out: a
// message size counts the payload without them.
class PayloadBytes {
public:
    PayloadBytes(const uint8_t* data, size_t n) : m_data(data), m_n(n) {}
    bool next(uint8_t& byte) {
        if (m_zeros >= 2 && m_pos < m_n && m_data[m_pos] == 3) {
            ++m_pos;
            m_zeros = 0;
        }
        if (m_pos >= m_n)
            return false;
        byte = m_data[m_pos++];
        m_zeros = byte == 0 ? m_zeros + 1 : 0;
        return true;
    }
    bool atTrailingBits() const { return m_pos + 1 == m_n ? m_data[m_pos] == 0x80 : m_pos >= m_n; }

private:
    const uint8_t* m_data;
    size_t m_n;
    size_t m_pos = 0;
    int m_zeros = 0;
};

// payloadType and payloadSize: bytes of 0xFF adding 255 each, then the rest.
bool readValue(PayloadBytes& bytes, uint32_t& value) {
    value = 0;
    uint8_t b = 0;
    do {
        if (!bytes.next(b) || value > 0xFFFF)
            return false;
        value += b;
    } while (b == 0xFF);
    return true;
}

}  // namespace

bool announcesRecoveryPoint(const uint8_t* unit, size_t n) {
    if (!unit || n < 2 || (unit[0] & 0x1F) != kSeiUnit)
        return false;
    PayloadBytes bytes(unit + 1, n - 1);
    while (!bytes.atTrailingBits()) {
        uint32_t type = 0, size = 0;
        if (!readValue(bytes, type) || !readValue(bytes, size))
            return false;
        if (type == kRecoveryPointMessage)
            return true;
        uint8_t skipped = 0;
        for (uint32_t i = 0; i < size; ++i)
            if (!bytes.next(skipped))
                return false;
    }
    return false;
}

}  // namespace H264
