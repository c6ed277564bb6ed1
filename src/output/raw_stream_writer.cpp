#include "output/raw_stream_writer.h"

#include "bitstream/common/byte_read.h"

#include <algorithm>

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
// Length prefixes are 4 bytes unless the stored configuration says otherwise.
constexpr int kDefaultLengthSize = 4;

bool isAvc(Fourcc codec) {
    return codec == makeFourcc("avc1") || codec == makeFourcc("aivx") || codec == makeFourcc("avc3");
}
bool isHevc(Fourcc codec) { return codec == makeFourcc("hvc1") || codec == makeFourcc("hev1"); }

}  // namespace

bool RawStreamWriter::open(const std::string& utf8Name) {
    m_written = 0;
    return m_file.open(utf8Name, platform::File::Mode::Write);
}

bool RawStreamWriter::close() {
    if (!m_file.isOpen())
        return true;
    return m_file.closeChecked();
}

void RawStreamWriter::writeRaw(const uint8_t* data, size_t size) {
    if (!m_file.isOpen() || !data || size == 0)
        return;
    m_written += m_file.write(data, size);
}

void RawStreamWriter::writeStartCode() { writeRaw(kStartCode, sizeof kStartCode); }

void RawStreamWriter::writeNalUnit(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    writeStartCode();
    writeRaw(data, size);
}

void RawStreamWriter::writeVideoSample(Fourcc codec, const uint8_t* data, size_t size, const H264Config* avc,
                                       const HEVCConfig* hevc, const ESDescriptor* esds) {
    if (!m_file.isOpen())
        return;
    if (codec == makeFourcc("mp4v")) {
        if (empty() && esds && esds->m_decoderInfoLength > 0)
            writeRaw(esds->m_decoderInfo, esds->m_decoderInfoLength);
        writeRaw(data, size);
        return;
    }
    int lengthSize = kDefaultLengthSize;
    if (isHevc(codec)) {
        if (hevc && hevc->m_arrayCount > 0) {
            lengthSize = (hevc->m_lengthSizeByte & 3) + 1;
            if (empty()) {
                const int arrays = std::min<int>(hevc->m_arrayCount, kMaxHevcArrays);
                for (int a = 0; a < arrays; ++a) {
                    const HEVCNalArray& array = hevc->m_arrays[a];
                    const int nalus = std::min<int>(array.m_nalCount, kMaxHevcNalus);
                    for (int n = 0; n < nalus; ++n)
                        writeNalUnit(array.m_nal[n].data(), std::min<size_t>(array.m_nalLength[n], array.m_nal[n].size()));
                }
            }
        }
        writeLengthPrefixed(data, size, lengthSize);
        return;
    }
    if (isAvc(codec)) {
        if (avc && (avc->spsCount() > 0 || avc->ppsCount() > 0)) {
            lengthSize = int(avc->lengthSize());
            if (empty()) {
                if (avc->spsCount() > 0)
                    writeNalUnit(avc->m_sps[0], std::min<size_t>(avc->m_spsLength[0], kMaxSpsBytes));
                if (avc->ppsCount() > 0)
                    writeNalUnit(avc->m_pps[0], std::min<size_t>(avc->m_ppsLength[0], kMaxPpsBytes));
            }
        }
        writeLengthPrefixed(data, size, lengthSize);
        return;
    }
    writeRaw(data, size);
}

void RawStreamWriter::writeLengthPrefixed(const uint8_t* data, size_t size, int lengthSize) {
    if (!data)
        return;
    // lengthSizeMinusOne = 2 is reserved; treat anything but 1, 2, 4 as 4.
    if (lengthSize != 1 && lengthSize != 2)
        lengthSize = kDefaultLengthSize;
    size_t pos = 0;
    while (size - pos >= size_t(lengthSize)) {
        const uint32_t length = uint32_t(bitstream::readBE(data + pos, unsigned(lengthSize)));
        pos += size_t(lengthSize);
        if (length < 1 || length > size - pos)
            break;
        writeNalUnit(data + pos, length);
        pos += length;
    }
}
