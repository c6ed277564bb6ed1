#include "output/media_data_extent.h"

#include "platform/file.h"

#include <cstring>

bool findMediaDataExtent(const std::string& input, int64_t offset, MediaDataExtent& out) {
    platform::File file;
    if (offset < 0 || !file.open(input, platform::File::Mode::Read))
        return false;
    const int64_t size = file.size();
    int64_t at = 0;
    while (at + 8 <= size) {
        uint8_t header[16] = {};
        if (file.readAt(at, header, 8) != 8)
            return false;
        uint64_t length = (uint64_t(header[0]) << 24) | (uint64_t(header[1]) << 16) | (uint64_t(header[2]) << 8) |
                          header[3];
        if (length == 1) {
            if (file.readAt(at + 8, header + 8, 8) != 8)
                return false;
            length = 0;
            for (int i = 8; i < 16; ++i)
                length = (length << 8) | header[i];
        } else if (length == 0) {
            length = uint64_t(size - at);  // to the end of the file
        }
        if (length < 8 || length > uint64_t(INT64_MAX - at))
            return false;
        const int64_t end = at + int64_t(length);
        if (offset < end) {
            if (std::memcmp(header + 4, "mdat", 4) != 0)
                return false;
            out.end = end;
            out.fileSize = size;
            return true;
        }
        at = end;
    }
    return false;
}
