#include "camera/crm/crm_payload_location.h"

#include "camera/crm/crm_box_reader.h"
#include "log/logger.h"

#include <cstring>
#include <stdexcept>

namespace crm {

namespace {

// A nested CRM file starts with a file type box of brand "crx ".
bool startsCrmFile(platform::File& file, uint64_t at, uint64_t fileSize) {
    if (fileSize < at || fileSize - at < 12)
        return false;
    uint8_t head[12];
    readBytesAt(file, at, head, sizeof head);
    return std::memcmp(head + 4, "ftyp", 4) == 0 && std::memcmp(head + 8, "crx ", 4) == 0;
}

// The payload of the first mdat among the boxes from `pos` on, or 0.
uint64_t nestedMediaPayload(platform::File& file, uint64_t pos, uint64_t fileSize) {
    while (pos + 8 <= fileSize) {
        uint8_t head[16];
        readBytesAt(file, pos, head, 8);
        uint64_t size = readU32(head);
        uint64_t header = 8;
        if (size == 1) {
            if (pos + 16 > fileSize)
                return 0;
            readBytesAt(file, pos, head, 16);
            size = readU64(head + 8);
            header = 16;
        } else if (size == 0) {
            size = fileSize - pos;
        }
        if (size < header)
            return 0;
        if (std::memcmp(head + 4, "mdat", 4) == 0)
            return pos + header;
        if (size > fileSize - pos)
            return 0;
        pos += size;
    }
    return 0;
}

}  // namespace

CrmPayloadLocation findCrmPayload(platform::File& file, uint64_t fileSize) {
    CrmPayloadLocation where;
    const BoxNode* mdat = nullptr;
    const std::vector<BoxNode> top = parseBoxes(file, 0, fileSize);
    for (const BoxNode& b : top) {
        if (b.type == "mdat") {
            mdat = &b;
            break;
        }
    }
    if (!mdat)
        return where;
    const uint64_t outer = mdat->offset + mdat->header;
    where.start = outer;
    if (!startsCrmFile(file, outer, fileSize))
        return where;
    const uint64_t nested = nestedMediaPayload(file, outer, fileSize);
    if (nested <= outer || nested >= fileSize)
        throw std::runtime_error("wrapped Canon CRM media payload not found");
    where.start = nested;
    where.wrapped = true;
    FLOG(LogLevel::Notice) << "CanonCRM wrapped container media payload detected at payload_start=" << nested;
    return where;
}

}  // namespace crm
