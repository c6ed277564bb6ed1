#include "analysers/aic/icod_analyser.h"

#include "bitstream/common/byte_read.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>
#include <iomanip>

namespace {

constexpr uint8_t kSignature[2] = {0x01, 0x16};
constexpr int32_t kHeaderBytes = 10;
// Beyond this a size field is damage: no AIC frame is that large.
constexpr uint32_t kMaxFrameSize = 8388607;
// The widths AIC is recorded at (HD, HDV, 720p, 960-wide HD).
constexpr uint16_t kKnownWidths[] = {1920, 1440, 1280, 960};

}  // namespace

ICODAnalyser::ICODAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : FrameAnalyser(repairState, scanInfo, "AIC", "") {}

bool ICODAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    if (available < kHeaderBytes || data[0] != kSignature[0] || data[1] != kSignature[1])
        return false;
    const uint16_t width = bitstream::readBE16(data + 6);
    const uint32_t working = m_repairState->m_video->m_width;
    if (working != 0)
        return width == working;
    return std::find(std::begin(kKnownWidths), std::end(kKnownWidths), width) != std::end(kKnownWidths);
}

int32_t ICODAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    return findByKeyByte(kSignature[0], 0, offset, data, count, available);
}

FrameHeader ICODAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const uint8_t* p = buffer.get(offset, kHeaderBytes);
    if (buffer.available() < kHeaderBytes)
        return frame;
    const uint32_t size = bitstream::readBE32(p + 2);
    frame.width = bitstream::readBE16(p + 6);
    frame.height = bitstream::readBE16(p + 8);
    // Every header is told, the refused ones too.
    FLOG(LogLevel::Info) << "AIC   at " << std::setw(11) << offset << "  size=" << std::setw(10) << size
                         << "  dim=" << frame.width << " x " << frame.height;
    if (size < uint32_t(kHeaderBytes) || size > kMaxFrameSize) {
        FLOG(LogLevel::Error) << "framesize too high (" << size << ")";
        return frame;
    }
    // The signature and width are four bytes that sound can hold too; the
    // height, where known, must agree as well before megabytes are taken.
    const uint32_t working = m_repairState->m_video->m_height;
    if (working != 0 && frame.height != working)
        return frame;
    frame.size = size;
    return frame;
}

void ICODAnalyser::completeParameters(const FrameHeader& frame) { fillParameters("icod", "sowt", frame); }
