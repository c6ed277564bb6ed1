#include "analysers/dnxhd/dnxhd_analyser.h"

#include "bitstream/common/byte_read.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

namespace {

// Bytes read from a frame's start: the prefix up to the compression id.
constexpr int32_t kHeaderRead = 0x2C;
constexpr uint32_t kHeaderSizeHdMin = 0x280;  // DNxHR's header size field bounds
constexpr uint32_t kHeaderSizeHrMax = 0x2170;

bool prefix(const uint8_t* p) {
    if (p[0] != 0 || p[1] != 0)
        return false;
    const uint32_t headerSize = bitstream::readBE16(p + 2);
    if (p[4] == 1 || p[4] == 2)
        return headerSize == kHeaderSizeHdMin;
    return p[4] == 3 && headerSize >= kHeaderSizeHdMin && headerSize <= kHeaderSizeHrMax &&
           headerSize % 4 == 0;
}

}  // namespace

DNxHDAnalyser::DNxHDAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : FrameAnalyser(repairState, scanInfo, "dnxhd", "dnxhd   at ") {}

bool DNxHDAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= 6 && prefix(data);
}

int32_t DNxHDAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    // DNxHR ('AVdh') frames have the version byte 3 four bytes in; DNxHD
    // ('AVdn') ones a header size of 0x280, whose 0x80 stands three bytes in.
    if (repairState()->m_video->m_codec == "AVdh")
        return findByKeyByte(3, 4, offset, data, count, available);
    return findByKeyByte(0x80, 3, offset, data, count, available);
}

FrameHeader DNxHDAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const uint8_t* p = buffer.get(offset, kHeaderRead);
    if (buffer.available() < kHeaderRead)
        return frame;
    frame.height = bitstream::readBE16(p + 0x18);
    frame.width = bitstream::readBE16(p + 0x1A);
    const uint32_t compressionId = bitstream::readBE32(p + 0x28);
    // The length comes from the reference's frames of this codec alone.
    const ReferenceInfo* ref = reference();
    const std::string& codec = repairState()->m_video->m_codec;
    if (!ref || (codec != "AVdn" && codec != "AVdh") || frame.width == 0 || frame.height == 0)
        return frame;
    if (m_compressionId != 0 && compressionId != m_compressionId)
        return frame;
    FLOG(LogLevel::Debug) << "dnxhd cid=" << compressionId << " dim=" << frame.width << "x" << frame.height;
    frame.size = int64_t(ref->layout().m_videoSampleSizeMax);
    if (frame.size > 0)
        m_compressionId = compressionId;
    return frame;
}

void DNxHDAnalyser::completeParameters(const FrameHeader& frame) { fillParameters("AVdn", "sowt", frame); }
