#include "bitstream/hevc/bitstream_reader.h"

#include "bitstream/common/nal_span.h"

namespace HEVC {

void BitstreamReader::init(const uint8_t* data, size_t size) {
    m_reader.init(data, size, bitstream::Emulation::Drop);
    m_limit = kNoLimit;
}

int64_t BitstreamReader::bitsAvailable() const {
    const int64_t left = m_reader.bitsLeft();
    if (m_limit == kNoLimit)
        return left;
    const int64_t toLimit = static_cast<int64_t>(m_limit - m_reader.bitsConsumed());
    return toLimit < left ? toLimit : left;
}

size_t BitstreamReader::nextStartCode() const {
    return bitstream::findStartCode(m_reader.data(), m_reader.size(), m_reader.bytePosition());
}

void BitstreamReader::need(uint64_t bits) const {
    if (bits == 0)
        return;
    const int64_t left = m_reader.bitsLeft();
    if (left < 0 || static_cast<uint64_t>(left) < bits ||
        (m_limit != kNoLimit && m_reader.bitsConsumed() + bits > m_limit))
        throw BitstreamError("BitstreamReader: not enought data");
}

uint32_t BitstreamReader::getBit() {
    need(1);
    return m_reader.readBits(1);
}

uint32_t BitstreamReader::getBits(unsigned n) {
    if (n > 32)
        throw BitstreamError("BitstreamReader num=" + std::to_string(n));
    if (n == 0)
        return 0;
    // The byte count above includes emulation-prevention bytes still ahead,
    // so the real read can still come up short: check it afterwards too.
    need(n);
    const uint32_t v = m_reader.readBits(n);
    if (m_reader.overRead())
        throw BitstreamError("BitstreamReader: not enought data");
    return v;
}

uint32_t BitstreamReader::showBits(unsigned n) const {
    BitstreamReader copy = *this;
    return copy.getBits(n);
}

void BitstreamReader::skipBits(uint64_t n) {
    need(n);
    m_reader.skipBits(n);
    if (m_reader.overRead())
        throw BitstreamError("BitstreamReader: not enought data");
}

uint32_t BitstreamReader::getUe() {
    unsigned zeros = 0;
    while (getBit() == 0) {
        if (++zeros > bitstream::kMaxGolombLeadingZeros)
            return 0;
    }
    if (zeros == 0)
        return 0;
    return ((1u << zeros) - 1u) + getBits(zeros);
}

int32_t BitstreamReader::getSe() {
    const uint32_t k = getUe();
    if (k & 1u)
        return static_cast<int32_t>((k >> 1) + 1u);
    return -static_cast<int32_t>(k >> 1);
}

}  // namespace HEVC
