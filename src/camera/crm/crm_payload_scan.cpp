#include "camera/crm/crm_payload_scan.h"

#include "camera/crm/crm_marker_search.h"
#include "camera/crm/crm_sample_format.h"
#include "platform/file.h"

#include <algorithm>
#include <stdexcept>

namespace crm {

CrmPayloadScan scanCrmPayload(const std::string& fileName, uint64_t payloadStart) {
    platform::File file;
    if (!file.open(fileName, platform::File::Mode::Read))
        throw std::runtime_error("damaged open failed");
    const uint64_t size = uint64_t(std::max<int64_t>(file.size(), 0));
    if (payloadStart > size)
        payloadStart = 0;
    CrmPayloadScan scan;
    uint64_t pos = findCrmSample(file, payloadStart, size);
    if (pos < size && pos > payloadStart)
        scan.audioRuns.push_back({0, pos - payloadStart});
    while (pos < size) {
        scan.chunkOffsets.push_back(pos - payloadStart);
        uint32_t count = 0;
        while (size - pos >= kSampleHeaderBytes) {
            uint8_t header[kSampleHeaderBytes];
            if (file.readAt(int64_t(pos), header, sizeof header) != sizeof header || !isMarker(header))
                break;
            const uint64_t bytes = validSampleBytes(header, pos, size);
            if (bytes == 0) {
                if (count == 0)
                    throw std::runtime_error("invalid Canon CRM video sample marker");
                break;  // a damaged tail ends the chunk
            }
            scan.sampleSizes.push_back(uint32_t(bytes));
            ++count;
            pos += bytes;
        }
        if (count == 0)
            throw std::runtime_error("empty video chunk");
        scan.chunkSampleCounts.push_back(count);
        const uint64_t next = findCrmSample(file, pos, size);
        if (pos < next)
            scan.audioRuns.push_back({pos - payloadStart, next - pos});
        pos = next;
    }
    if (scan.sampleSizes.empty())
        throw std::runtime_error("no Canon CRM video samples found");
    return scan;
}

}  // namespace crm
