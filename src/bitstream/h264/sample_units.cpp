#include "bitstream/h264/sample_units.h"

#include "bitstream/h264/slice_header.h"

#include <cstring>

namespace H264 {

namespace {

// A sample is never split into more units than this; the walk stops there
// rather than trusting an endless run of tiny units.
constexpr uint32_t kMaxTilingUnits = 512;

}  // namespace

bool nalPayloadClean(const uint8_t* unit, uint32_t length) {
    if (length == 0 || unit[length - 1] == 0)
        return false;
    // Every forbidden sequence begins with two zero bytes; zeros are rare in
    // coded data, so jumping from zero to zero is quick.
    const uint8_t* p = unit;
    const uint8_t* const end = unit + length;
    while (end - p >= 3) {
        const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(p, 0, size_t(end - p - 2)));
        if (!zero)
            return true;
        if (zero[1] == 0 && zero[2] <= 2)
            return false;
        p = zero + 1;
    }
    return true;
}

SampleTiling tileSample(const uint8_t* data, int64_t size) {
    SampleTiling t;
    if (size < 5)
        return t;
    int64_t pos = 0;
    while (size - pos >= 5 && t.units < kMaxTilingUnits) {
        NalUnitCheck nal;
        if (!nalUnitCheck(data + pos, size - pos, nal, kMinKnownSliceLength))
            return t;
        if (t.units == 0) {
            t.firstUnitLength = nal.length;
            t.firstUnitType = nal.type;
        }
        if (nal.slice && t.firstSliceLength == 0) {
            t.firstSliceLength = nal.length;
            t.firstSliceType = nal.type;
            t.firstSliceOffset = pos;
        }
        t.slices += nal.slice;
        ++t.units;
        pos += int64_t(nal.length) + 4;
    }
    t.exact = pos == size;
    return t;
}

int32_t firstSlicePpsId(const uint8_t* sample, int64_t size) {
    int64_t pos = 0;
    NalUnitCheck nal;
    while (size - pos >= 5 && nalUnitCheck(sample + pos, size - pos, nal)) {
        if (nal.slice) {
            SliceHeaderStart start;
            if (!readSliceHeaderStart(sample + pos + 4, nal.length, start))
                return -1;
            return int32_t(start.pic_parameter_set_id);
        }
        pos += int64_t(nal.length) + 4;
    }
    return -1;
}

}  // namespace H264
