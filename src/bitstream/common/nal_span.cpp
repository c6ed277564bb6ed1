#include "bitstream/common/nal_span.h"

#include "bitstream/common/byte_read.h"

namespace bitstream {

bool LengthPrefixedNals::next(NalSpan& nal) {
    if (m_stopped || m_pos >= m_size)
        return false;
    if (m_lengthSize != 1 && m_lengthSize != 2 && m_lengthSize != 4) {
        m_stopped = true;
        return false;
    }
    if (m_size - m_pos < m_lengthSize) {
        m_stopped = true;
        return false;
    }
    const uint64_t len = readBE(m_data + m_pos, m_lengthSize);
    const size_t start = m_pos + m_lengthSize;
    if (len > m_size - start) {
        m_stopped = true;
        return false;
    }
    nal.data = m_data + start;
    nal.size = static_cast<size_t>(len);
    nal.offset = start;
    m_pos = start + static_cast<size_t>(len);
    return true;
}

size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
    if (!data || size < 3)
        return size;
    for (size_t i = from; i + 2 < size; ++i) {
        // Skip ahead quickly: a start code needs data[i + 2] == 1 and zeros before.
        if (data[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return i;
    }
    return size;
}

std::vector<NalSpan> splitAnnexB(const uint8_t* data, size_t size) {
    std::vector<NalSpan> out;
    size_t sc = findStartCode(data, size, 0);
    while (sc < size) {
        const size_t begin = sc + 3;
        const size_t nextSc = findStartCode(data, size, begin);
        size_t end = nextSc;
        while (end > begin && data[end - 1] == 0)
            --end;
        if (end > begin)
            out.push_back(NalSpan{data + begin, end - begin, begin});
        sc = nextSc;
    }
    return out;
}

std::string nalSequenceText(const std::vector<uint8_t>& sequence) {
    static const char hex[] = "0123456789abcdef";
    std::string s;
    s.reserve(sequence.size() * 3);
    for (uint8_t b : sequence) {
        s += hex[b >> 4];
        s += hex[b & 15];
        s += ' ';
    }
    return s;
}

}  // namespace bitstream
