#include "bitstream/h264/sample_units.h"

#include "bitstream/h264/slice_header.h"

#include <cstring>

namespace H264 {

namespace {

// A sample is never split into more units than this; the walk stops there
// rather than trusting an endless run of tiny units.
constexpr uint32_t kMaxTilingUnits = 512;
// The prefix unit's own bytes: its header and three bytes of extension.
constexpr uint32_t kPrefixBytes = 4;
// Units in front of a wrapped picture's first slice (SEI, delimiter) are
// looked through up to this many.
constexpr int kMaxWrappedLeadingUnits = 16;

// Offset of the next three-byte start code in [from, end), or `end`.
uint32_t nextStartCode(const uint8_t* unit, uint32_t from, uint32_t end) {
    for (uint32_t i = from; i + 3 <= end;) {
        const void* zero = std::memchr(unit + i, 0, end - i - 2);
        if (!zero)
            break;
        i = uint32_t(static_cast<const uint8_t*>(zero) - unit);
        if (unit[i + 1] == 0 && unit[i + 2] == 1)
            return i;
        ++i;
    }
    return end;
}

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

bool wrappedPictureSlice(const uint8_t* unit, uint32_t length, WrappedSlice& out) {
    if (length < kPrefixBytes + 5 || (unit[0] & 0x1F) != kPrefixUnit)
        return false;
    uint32_t pos = kPrefixBytes;
    if (unit[pos] == 0 && unit[pos + 1] == 0 && unit[pos + 2] == 0 && unit[pos + 3] == 1)
        ++pos;
    if (unit[pos] != 0 || unit[pos + 1] != 0 || unit[pos + 2] != 1)
        return false;
    pos += 3;
    for (int units = 0; units < kMaxWrappedLeadingUnits && pos < length; ++units) {
        const uint8_t header = unit[pos];
        if (header & 0x80)
            return false;
        if ((header & 0x1B) == 1) {
            out.offset = pos;
            out.type = header & 0x1F;
            return true;
        }
        const uint32_t next = nextStartCode(unit, pos, length);
        if (next >= length)
            return false;
        pos = next + 3;
    }
    return false;
}

SampleTiling tileSample(const uint8_t* data, int64_t size, uint8_t extras, unsigned lengthSize) {
    SampleTiling t;
    const int64_t minUnit = int64_t(lengthSize) + 1;
    if (size < minUnit)
        return t;
    int64_t pos = 0;
    while (size - pos >= minUnit && t.units < kMaxTilingUnits) {
        NalUnitCheck nal;
        if (!nalUnitCheck(data + pos, size - pos, nal, kMinKnownSliceLength, extras, lengthSize))
            return t;
        if (nal.type == kPrefixUnit || nal.type == kSliceExtension)
            t.extras |= kScalableUnits;
        else if (nal.type == 7 || nal.type == 8)
            t.extras |= kParameterSetUnits;
        WrappedSlice wrapped;
        if (nal.type == kPrefixUnit && t.firstSliceLength == 0 &&
            wrappedPictureSlice(data + pos + lengthSize, nal.length, wrapped)) {
            t.firstSliceLength = nal.length - wrapped.offset;
            t.firstSliceType = wrapped.type;
            t.firstSliceOffset = pos + wrapped.offset;
            ++t.slices;
        }
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
        pos += int64_t(nal.length) + lengthSize;
    }
    t.exact = pos == size;
    return t;
}

int32_t firstSlicePpsId(const uint8_t* sample, int64_t size, uint8_t extras, unsigned lengthSize) {
    int64_t pos = 0;
    NalUnitCheck nal;
    while (size - pos > int64_t(lengthSize) &&
           nalUnitCheck(sample + pos, size - pos, nal, kMinScanSliceLength, extras, lengthSize)) {
        const uint8_t* unit = sample + pos + lengthSize;
        WrappedSlice wrapped;
        uint32_t at = 0;
        if (nal.type == kPrefixUnit && wrappedPictureSlice(unit, nal.length, wrapped))
            at = wrapped.offset;
        if (nal.slice || at) {
            SliceHeaderStart start;
            if (!readSliceHeaderStart(unit + at, nal.length - at, start))
                return -1;
            return int32_t(start.pic_parameter_set_id);
        }
        pos += int64_t(nal.length) + lengthSize;
    }
    return -1;
}

}  // namespace H264
