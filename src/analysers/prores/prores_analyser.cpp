#include "analysers/prores/prores_analyser.h"

#include "bitstream/common/byte_read.h"
#include "log/logger.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kTag[4] = {'i', 'c', 'p', 'f'};
// The frame header fields up to the flags byte.
constexpr int32_t kHeaderRead = 21;
// The frame header proper (after size and tag) holds at least the fields up
// to the flags; a picture header follows it with its own few bytes.
constexpr uint32_t kMinHeaderSize = 20;
constexpr uint32_t kMinPictureHeader = 8;
// No ProRes frame comes near this (an 8K 4444 XQ frame is some 20 MB); a
// larger size field is damage, never a frame.
constexpr uint32_t kMaxFrameSize = 64 * 1024 * 1024;

}  // namespace

ProResAnalyser::ProResAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : FrameAnalyser(repairState, scanInfo, "prores", "prores   at ") {}

bool ProResAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= 8 && std::memcmp(data + 4, kTag, 4) == 0;
}

int32_t ProResAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    // The tag's first byte, four bytes further on.
    return findByKeyByte(kTag[0], 4, offset, data, count, available);
}

FrameHeader ProResAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const uint8_t* p = buffer.get(offset, kHeaderRead);
    if (buffer.available() < kHeaderRead)
        return frame;
    const uint32_t size = bitstream::readBE32(p);          // frame_size
    const uint32_t headerSize = bitstream::readBE16(p + 8);  // frame_header_size
    frame.width = bitstream::readBE16(p + 16);              // horizontal_size
    frame.height = bitstream::readBE16(p + 18);             // vertical_size
    FLOG(LogLevel::Debug) << "prores framesz=" << size << " dim=" << frame.width << "x" << frame.height
                          << " flags=" << unsigned(p[20]);
    // A size of zero would leave the scan where it is, and one that cannot
    // hold the headers or that no frame reaches is damage: no frame here.
    if (headerSize < kMinHeaderSize || size < 8 + headerSize + kMinPictureHeader || size > kMaxFrameSize)
        return frame;
    frame.size = size;
    return frame;
}

void ProResAnalyser::completeParameters(const FrameHeader& frame) {
    // The frame does not name its profile; 422 is the common one.
    fillParameters("apcn", "sowt", frame);
}
