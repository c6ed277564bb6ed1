#include "app/auto_detection.h"

#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "bitstream/common/byte_read.h"
#include "log/logger.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// How much of the input head the CRM test reads, and the REPI/RSV tests.
constexpr int64_t kCrmHeadBytes = 8 * 1024 * 1024;
constexpr int64_t kRecordHeadBytes = 256 * 1024;
// A CRM payload block is large: its length field must exceed 1 MiB, and the
// block plus its 872-byte trailer stays below 200 MB and inside the file.
constexpr uint32_t kCrmMinPayload = 0x100000;
constexpr int64_t kCrmTrailer = 872;
constexpr int64_t kCrmMaxBlock = 199999999;
// Wrapped CRM containers put the inner ftyp at least 1 MiB into the file.
constexpr int64_t kCrmWrappedSearchStart = 0x100000;

std::vector<uint8_t> readHead(ScanBuffer& input, int64_t want) {
    const int64_t n = std::min<int64_t>(input.fileSize(), want);
    std::vector<uint8_t> head(static_cast<size_t>(std::max<int64_t>(n, 0)));
    if (!head.empty())
        head.resize(input.read(head.data(), 0, head.size()));
    return head;
}

bool startsWithFtyp(const std::vector<uint8_t>& head) {
    return head.size() >= 12 && std::memcmp(head.data() + 4, "ftyp", 4) == 0;
}

}  // namespace

bool findCrmPayload(const uint8_t* data, int64_t n, int64_t fileSize) {
    static const uint8_t sig[4] = {0xFF, 0x11, 0x00, 0x10};
    for (int64_t p = 0; p + 8 < n; ++p) {
        if (data[p] != 0xFF || std::memcmp(data + p, sig, 4) != 0)
            continue;
        const uint32_t len = bitstream::readBE32(data + p + 4);
        if (len > kCrmMinPayload && int64_t(len) + kCrmTrailer <= kCrmMaxBlock &&
            p + int64_t(len) + kCrmTrailer <= fileSize)
            return true;
    }
    return false;
}

bool findCrmWrappedContainer(const uint8_t* data, int64_t n) {
    static const uint8_t sig[12] = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'c', 'r', 'x', ' '};
    if (n < 12 || std::memcmp(data + 4, "ftyp", 4) != 0 || n <= 0x10000C)
        return false;
    for (int64_t p = kCrmWrappedSearchStart; p < n - 12; ++p)
        if (data[p + 3] == 0x18 && std::memcmp(data + p, sig, 12) == 0)
            return true;
    return false;
}

bool findRepiRecord(const uint8_t* data, int64_t n) {
    if (n <= 12)
        return false;
    for (int64_t p = 0; p + 12 <= n; ++p) {
        if (data[p] != 'r' || std::memcmp(data + p, "repi", 4) != 0)
            continue;
        if (std::memcmp(data + p + 8, "vide", 4) == 0 || std::memcmp(data + p + 8, "lpcm", 4) == 0)
            return true;
    }
    return false;
}

int findRsvSignature(const uint8_t* data, int64_t n) {
    static const uint8_t klv[12] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x01};
    static const uint8_t rtmdHead[4] = {0x00, 0x1C, 0x01, 0x00};
    static const uint8_t rtmdTail[4] = {0xF0, 0x01, 0x00, 0x10};
    if (n < 18)
        return 0;
    for (int64_t p = 0; p <= n - 18; ++p) {
        if (std::memcmp(data + p, klv, 12) == 0)
            return 1;
        if (std::memcmp(data + p, rtmdHead, 4) == 0 && std::memcmp(data + p + 8, rtmdTail, 4) == 0)
            return 2;
    }
    return 0;
}

void runAutoDetection(ScanBuffer& input, const std::string& videoClass, ScanInfo& info) {
    const int64_t fileSize = input.fileSize();
    if (!info.canonCrmMode && videoClass == "CRAW") {
        const std::vector<uint8_t> head = readHead(input, kCrmHeadBytes);
        const int64_t n = static_cast<int64_t>(head.size());
        const bool wrapped = findCrmWrappedContainer(head.data(), n);
        const bool payload = n > 8 && findCrmPayload(head.data(), n, fileSize);
        if (payload) {
            info.canonCrmMode = true;
            FLOG(LogLevel::Notice) << "auto selected Canon CRM payload recovery candidate";
            if (wrapped) {
                info.canonCrmWrapped = true;
                FLOG(LogLevel::Notice) << "auto selected Canon CRM wrapped-container candidate";
            }
        } else if (wrapped) {
            info.canonCrmMode = true;
            info.canonCrmWrapped = true;
            FLOG(LogLevel::Notice) << "auto selected Canon CRM wrapped-container candidate";
        } else if (startsWithFtyp(head)) {
            info.qtReconstruction = true;
            FLOG(LogLevel::Notice) << "auto selected QT reconstruction candidate";
        }
    }
    if (info.canonRepiMode && info.sonyRsvMode)
        return;
    // Both record tests look at the same head of the file: read it once.
    const std::vector<uint8_t> head = readHead(input, kRecordHeadBytes);
    if (!info.canonRepiMode) {
        if (findRepiRecord(head.data(), static_cast<int64_t>(head.size()))) {
            info.canonRepiMode = true;
            FLOG(LogLevel::Notice) << "auto selected Canon REPI recovery candidate";
        }
    }
    if (!info.sonyRsvMode) {
        if (!startsWithFtyp(head)) {
            const int found = findRsvSignature(head.data(), static_cast<int64_t>(head.size()));
            if (found != 0) {
                info.sonyRsvMode = true;
                FLOG(LogLevel::Notice) << (found == 1 ? "auto selected Sony RSV recovery candidate"
                                                      : "auto selected Sony RSV rtmd recovery candidate");
            }
        }
    }
}
