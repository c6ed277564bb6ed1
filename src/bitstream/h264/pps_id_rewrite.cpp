#include "bitstream/h264/pps_id_rewrite.h"

#include "bitstream/common/bit_reader.h"

namespace H264 {

namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void put(uint32_t bit) {
        if (m_bits == 0)
            m_out.push_back(0);
        if (bit)
            m_out.back() |= uint8_t(0x80 >> m_bits);
        m_bits = (m_bits + 1) & 7;
    }
    void putUe(uint32_t value) {
        const uint64_t code = uint64_t(value) + 1;
        int length = 0;
        while ((code >> (length + 1)) != 0)
            ++length;
        for (int i = 0; i < length; ++i)
            put(0);
        for (int i = length; i >= 0; --i)
            put(uint32_t(code >> i) & 1);
    }

private:
    std::vector<uint8_t>& m_out;
    unsigned m_bits = 0;  // bits used in the last byte
};

}  // namespace

bool clonePpsWithId(const uint8_t* src, size_t size, uint32_t newId, std::vector<uint8_t>& out) {
    out.clear();
    if (!src || size < 2)
        return false;
    // Raw bits, as stored: the clone copies the source's bits behind the id
    // without touching emulation prevention.
    bitstream::BitReader r(src + 1, size - 1, bitstream::Emulation::Keep);
    r.readUE();  // pic_parameter_set_id of the source
    if (!r.ok())
        return false;
    out.push_back(src[0]);
    BitWriter w(out);
    w.putUe(newId);
    for (int64_t left = r.bitsLeft(); left > 0; --left)
        w.put(r.readBit());
    // The source's stop bit survives the copy; whole zero bytes behind it are
    // alignment only.
    while (out.size() > 1 && out.back() == 0)
        out.pop_back();
    return true;
}

}  // namespace H264
