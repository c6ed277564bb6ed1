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

namespace {

// Motion-JPEG format A stores both fields of an interlaced frame in one
// sample, each a whole image whose APP1 segment ("mjpg") tells, among other
// things, how far behind its start of image the next field begins (0 in
// the last field).
constexpr uint8_t kAPP1 = 0xE1;
constexpr int32_t kMjpgTagAt = 8;         // from the marker: length (2), reserved (4)
constexpr int32_t kMjpgNextFieldAt = 20;  // tag, field size, padded field size
constexpr int32_t kMjpgBytes = kMjpgNextFieldAt + 4;

struct Image {
    int64_t size = 0;       // start through end of image; 0: no image; past the input: cut
    uint32_t width = 0, height = 0;
    int64_t nextField = 0;  // from the APP1 mjpg segment; 0: none follows
};

// The image whose start of image is at `offset`, followed marker segment by
// marker segment up to its end of image.
Image readImage(ScanBuffer& buffer, int64_t offset) {
    Image image;
    const int64_t end = std::min(buffer.fileSize(), offset + kMaxFrameBytes);
    bool sawFrameHeader = false;
    const int64_t cut = buffer.fileSize() + 1 - offset;
    for (int64_t at = offset + 2; at < end;) {
        const uint8_t* p = buffer.get(at, kMjpgBytes);
        if (buffer.available() < 2) {
            // Cut inside the picture: what is there is reported as too long.
            image.size = sawFrameHeader ? cut : 0;
            return image;
        }
        if (p[0] != kMarker)
            return image;
        const uint8_t m = p[1];
        if (m == kMarker) {  // fill byte in front of a marker
            ++at;
            continue;
        }
        if (m == kEOI) {
            image.size = sawFrameHeader ? at + 2 - offset : 0;
            return image;
        }
        if (m == kSOI || m == 0x00)
            return image;
        if (standalone(m)) {
            at += 2;
            continue;
        }
        if (buffer.available() < 4) {
            image.size = sawFrameHeader ? cut : 0;
            return image;
        }
        const uint16_t length = bitstream::readBE16(p + 2);  // Lf, Ls, Lq, ...: counts itself, not the marker
        if (length < 2)
            return image;
        if (startOfFrame(m)) {
            if (buffer.available() < 9 || length < 8)
                return image;
            image.height = bitstream::readBE16(p + 5);  // Y
            image.width = bitstream::readBE16(p + 7);   // X
            sawFrameHeader = true;
        }
        if (m == kAPP1 && length + 2 >= kMjpgBytes && buffer.available() >= kMjpgBytes &&
            std::memcmp(p + kMjpgTagAt, "mjpg", 4) == 0)
            image.nextField = bitstream::readBE32(p + kMjpgNextFieldAt);
        at += 2 + length;
        if (m == kSOS) {
            if (!sawFrameHeader)
                return image;
            const int64_t marker = nextMarker(buffer, at, end);
            if (marker < 0) {
                image.size = end == buffer.fileSize() ? cut : 0;
                return image;
            }
            at = marker;
        }
    }
    if (sawFrameHeader && end == buffer.fileSize())
        image.size = cut;
    return image;
}

}  // namespace

FrameHeader JPEGAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const Image first = readImage(buffer, offset);
    frame.size = first.size;
    frame.width = first.width;
    frame.height = first.height;
    if (first.size <= 0 || offset + first.size > buffer.fileSize() || first.nextField < first.size ||
        first.nextField > kMaxFrameBytes)
        return frame;
    // The second field of the frame, which ends the sample.
    const int64_t field = offset + first.nextField;
    const uint8_t* p = buffer.get(field, 3);
    if (buffer.available() < 3) {
        frame.size = buffer.fileSize() + 1 - offset;
        return frame;
    }
    if (!check(field, p, 3))
        return frame;
    const Image second = readImage(buffer, field);
    if (second.size <= 0)
        return frame;
    frame.size = first.nextField + second.size;
    frame.height = first.height + second.height;
    return frame;
}

void JPEGAnalyser::completeParameters(const FrameHeader& frame) { fillParameters("jpeg", "twos", frame); }
