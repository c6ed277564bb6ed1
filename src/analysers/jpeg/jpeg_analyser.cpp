#include "analysers/jpeg/jpeg_analyser.h"

#include "bitstream/common/byte_read.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kTEM = 0x01;
constexpr uint8_t kRST0 = 0xD0, kRST7 = 0xD7;
// A picture beyond this is no frame of a recorder (a 4K frame at the
// highest quality is a few MB); the walk gives up there.
constexpr int64_t kMaxFrameBytes = 32 * 1024 * 1024;
// Bytes looked at per read while following the entropy-coded data.
constexpr int32_t kStep = 64 * 1024;

// Start of frame markers (SOF0-SOF15) carry the picture size; C4 (DHT),
// C8 (JPG) and CC (DAC) share their range without being one.
bool startOfFrame(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

bool standalone(uint8_t m) { return m == kTEM || (m >= kRST0 && m <= kRST7); }

// The offset of the first marker at or behind `from` in entropy-coded
// data, whose own FF bytes are followed by 00 (stuffing) or a restart
// marker; -1 when none comes before `end` or the file ends.
int64_t nextMarker(ScanBuffer& buffer, int64_t from, int64_t end) {
    for (int64_t at = from; at < end;) {
        const uint8_t* p = buffer.get(at, 2);
        const int32_t n = int32_t(std::min<int64_t>(std::min(buffer.available(), kStep), end - at));
        if (n < 2)
            return -1;
        for (int32_t i = 0; i + 1 < n;) {
            const void* hit = std::memchr(p + i, kMarker, size_t(n - 1 - i));
            if (!hit)
                break;
            i = int32_t(static_cast<const uint8_t*>(hit) - p);
            const uint8_t m = p[i + 1];
            if (m != 0x00 && m != kMarker && !(m >= kRST0 && m <= kRST7))
                return at + i;
            ++i;
        }
        // The last byte may be an FF whose marker lies in the next read.
        at += n - 1;
    }
    return -1;
}

}  // namespace

JPEGAnalyser::JPEGAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : FrameAnalyser(repairState, scanInfo, "jpeg", "jpeg  at ") {}

bool JPEGAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= 3 && data[0] == kMarker && data[1] == kSOI && data[2] == kMarker;
}

int32_t JPEGAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    return findByKeyByte(kMarker, 0, offset, data, count, available);
}

FrameHeader JPEGAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const int64_t end = std::min(buffer.fileSize(), offset + kMaxFrameBytes);
    bool sawFrameHeader = false;
    for (int64_t at = offset + 2; at < end;) {
        const uint8_t* p = buffer.get(at, 9);
        if (buffer.available() < 2) {
            // Cut inside the picture: what is there is reported as too long.
            frame.size = sawFrameHeader ? buffer.fileSize() + 1 - offset : 0;
            return frame;
        }
        if (p[0] != kMarker)
            return frame;
        const uint8_t m = p[1];
        if (m == kMarker) {  // fill byte in front of a marker
            ++at;
            continue;
        }
        if (m == kEOI) {
            frame.size = sawFrameHeader ? at + 2 - offset : 0;
            return frame;
        }
        if (m == kSOI || m == 0x00)
            return frame;
        if (standalone(m)) {
            at += 2;
            continue;
        }
        if (buffer.available() < 4) {
            frame.size = sawFrameHeader ? buffer.fileSize() + 1 - offset : 0;
            return frame;
        }
        const uint16_t length = bitstream::readBE16(p + 2);  // Lf, Ls, Lq, ...: counts itself, not the marker
        if (length < 2)
            return frame;
        if (startOfFrame(m)) {
            if (buffer.available() < 9 || length < 8)
                return frame;
            frame.height = bitstream::readBE16(p + 5);  // Y
            frame.width = bitstream::readBE16(p + 7);   // X
            sawFrameHeader = true;
        }
        at += 2 + length;
        if (m == kSOS) {
            if (!sawFrameHeader)
                return frame;
            const int64_t marker = nextMarker(buffer, at, end);
            if (marker < 0) {
                frame.size = end == buffer.fileSize() ? buffer.fileSize() + 1 - offset : 0;
                return frame;
            }
            at = marker;
        }
    }
    if (sawFrameHeader && end == buffer.fileSize())
        frame.size = buffer.fileSize() + 1 - offset;
    return frame;
}

void JPEGAnalyser::completeParameters(const FrameHeader& frame) { fillParameters("jpeg", "twos", frame); }
