#include "camera/crm/crm_marker_search.h"

#include "camera/crm/crm_box_reader.h"
#include "camera/crm/crm_sample_format.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace crm {

namespace {

// Bytes of a block kept in front of the next: a marker starting in them may
// end in the next block.
constexpr uint64_t kCarry = 3;

}  // namespace

uint64_t findCrmSample(platform::File& file, uint64_t start, uint64_t end, uint64_t blockSize) {
    if (end < start + kSampleHeaderBytes)
        return end;
    blockSize = std::max<uint64_t>(blockSize, 16);
    std::vector<uint8_t> buffer(blockSize + kCarry);
    uint64_t bufferStart = start;  // file offset of buffer[0]
    size_t held = 0;               // bytes carried from the previous block
    uint64_t next = start;         // next file offset to read
    while (next < end) {
        const size_t want = size_t(std::min<uint64_t>(blockSize, end - next));
        const size_t got = file.readAt(int64_t(next), buffer.data() + held, want);
        if (got == 0)
            return end;
        const size_t n = held + got;
        const uint8_t* data = buffer.data();
        for (size_t i = 0; i + 4 <= n;) {
            const void* hit = std::memchr(data + i, kSampleMarker[0], n - 3 - i);
            if (!hit)
                break;
            i = size_t(static_cast<const uint8_t*>(hit) - data);
            const uint64_t p = bufferStart + i;
            if (isMarker(data + i) && p + kSampleHeaderBytes <= end) {
                // The header is read again only when it runs past the block,
                // so a stretch full of false markers costs no file reads.
                uint8_t header[kSampleHeaderBytes];
                const bool inBlock = i + kSampleHeaderBytes <= n;
                if (inBlock)
                    std::memcpy(header, data + i, sizeof header);
                if ((inBlock || file.readAt(int64_t(p), header, sizeof header) == sizeof header) &&
                    validSampleBytes(header, p, end) != 0)
                    return p;
            }
            ++i;
        }
        next += got;
        held = std::min<size_t>(kCarry, n);
        std::memmove(buffer.data(), buffer.data() + n - held, held);
        bufferStart = next - held;
        if (got < want)
            break;
    }
    return end;
}

}  // namespace crm
