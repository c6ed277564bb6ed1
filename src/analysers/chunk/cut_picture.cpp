#include "analysers/chunk/cut_picture.h"

#include "bitstream/common/byte_read.h"

#include <algorithm>
#include <vector>

namespace {

// A length field and a unit header; fewer bytes of the cut unit tell nothing.
constexpr int64_t kMinCutUnitBytes = 8;
// Units of one picture: slices, parameter sets, messages.
constexpr int kMaxUnits = 256;

// Where the unit that runs past the end begins, when whole units lead to it
// from `p`; -1 otherwise.
int64_t cutUnitFrom(const uint8_t* data, int64_t n, int64_t p, int64_t maxUnit, unsigned prefix) {
    int64_t q = p;
    for (int units = 0; units < kMaxUnits && n - q >= int64_t(prefix); ++units) {
        const int64_t length = bitstream::readUnitLength(data + q, prefix);
        if (length < 2 || length > maxUnit)
            return -1;
        if (q + prefix + length > n)
            return n - q >= kMinCutUnitBytes ? q : -1;
        q += prefix + length;
    }
    return -1;
}

// Are the whole units from `p` to `cut` all parameter sets the reference's
// samples carried?
bool leadsWithCarriedSets(const LearnedSampleCodec& codec, const uint8_t* data, int64_t p, int64_t cut) {
    const unsigned prefix = codec.lengthSize();
    for (int64_t q = p; q < cut;) {
        const int64_t length = bitstream::readUnitLength(data + q, prefix);
        if (!codec.carriedParameterSet(data + q + prefix, length))
            return false;
        q += prefix + length;
    }
    return true;
}

}  // namespace

int64_t cutPictureStart(const LearnedSampleCodec& codec, const uint8_t* data, int64_t n, int64_t maxUnit) {
    // One copy whose cut length field is set for each candidate and put
    // back after: copying the rest of the input per candidate would cost
    // the square of the tail searched.
    std::vector<uint8_t> bytes;
    const unsigned prefix = codec.lengthSize();
    for (int64_t p = 0; n - p >= kMinCutUnitBytes; ++p) {
        // Four-byte lengths below 16 MiB begin with a zero byte.
        if (prefix == 4 && data[p] != 0)
            continue;
        const int64_t cut = cutUnitFrom(data, n, p, maxUnit, prefix);
        if (cut < 0)
            continue;
        // Cut in the units in front of its first slice: the recorder's own
        // parameter sets lead up to the cut one.
        if (cut > p && leadsWithCarriedSets(codec, data, p, cut))
            return p;
        if (bytes.empty())
            bytes.assign(data, data + n);
        // The picture as if its last unit ended with the input: the codec's
        // own test of a whole picture decides.
        const uint32_t left = uint32_t(n - cut - prefix);
        uint8_t* field = bytes.data() + cut;
        for (unsigned i = 0; i < prefix; ++i)
            field[i] = uint8_t(left >> (8 * (prefix - 1 - i)));
        const bool whole = codec.measureBoundedSample(bytes.data() + p, n - p) == n - p;
        std::copy(data + cut, data + cut + prefix, field);
        if (whole)
            return p;
    }
    return n;
}
