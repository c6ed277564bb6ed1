#include "bitstream/mpeg2/mpeg2_headers.h"

namespace mpeg2 {

bool readSequenceSize(const uint8_t* p, int64_t n, SequenceSize& out) {
    if (n < 7 || !isStartCode(p, n) || p[3] != kSequenceHeader)
        return false;
    out.width = uint32_t(p[4]) << 4 | p[5] >> 4;           // horizontal_size_value
    out.height = uint32_t(p[5] & 0x0F) << 8 | p[6];        // vertical_size_value
    return out.width != 0 && out.height != 0;
}

bool readPictureHeader(const uint8_t* p, int64_t n, PictureHeader& out) {
    if (n < 6 || !isStartCode(p, n) || p[3] != kPictureStart)
        return false;
    out.temporalReference = uint32_t(p[4]) << 2 | p[5] >> 6;  // temporal_reference
    const uint8_t type = (p[5] >> 3) & 7;                      // picture_coding_type
    if (type < 1 || type > 4)
        return false;
    out.type = PictureType(type);
    return true;
}

void displayIndices(const CodedPicture* pictures, int64_t count, int64_t* display) {
    int64_t groupBase = 0;
    for (int64_t k = 0; k < count; ++k) {
        // A stream may leave out group headers; the references then count
        // on from the last one (and wrap at 1024 pictures).
        if (pictures[k].groupStart || k == 0)
            groupBase = k;
        display[k] = groupBase + pictures[k].temporalReference;
    }
}

}  // namespace mpeg2
