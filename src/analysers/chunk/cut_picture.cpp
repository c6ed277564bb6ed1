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
int64_t cutUnitFrom(const uint8_t* data, int64_t n, int64_t p, int64_t maxUnit) {
    int64_t q = p;
    for (int units = 0; units < kMaxUnits && n - q >= 4; ++units) {
        const int64_t length = bitstream::readBE32(data + q);
        if (length < 2 || length > maxUnit)
            return -1;
        if (q + 4 + length > n)
            return n - q >= kMinCutUnitBytes ? q : -1;
        q += 4 + length;
    }
    return -1;
}

// Are the whole units from `p` to `cut` all parameter sets the reference's
// samples carried?
bool leadsWithCarriedSets(const LearnedSampleCodec& codec, const uint8_t* data, int64_t p, int64_t cut) {
    for (int64_t q = p; q < cut;) {
        const int64_t length = bitstream::readBE32(data + q);
        if (!codec.carriedParameterSet(data + q + 4, length))
            return false;
        q += 4 + length;
    }
    return true;
}

}  // namespace

int64_t cutPictureStart(const LearnedSampleCodec& codec, const uint8_t* data, int64_t n, int64_t maxUnit) {
    // One copy whose cut length field is set for each candidate and put
    // back after: copying the rest of the input per candidate would cost
    // the square of the tail searched.
    std::vector<uint8_t> bytes;
    for (int64_t p = 0; n - p >= kMinCutUnitBytes; ++p) {
        // Lengths below 16 MiB begin with a zero byte.
        if (data[p] != 0)
            continue;
        const int64_t cut = cutUnitFrom(data, n, p, maxUnit);
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
        const uint32_t left = uint32_t(n - cut - 4);
        uint8_t* field = bytes.data() + cut;
        field[0] = uint8_t(left >> 24);
        field[1] = uint8_t(left >> 16);
        field[2] = uint8_t(left >> 8);
        field[3] = uint8_t(left);
        const bool whole = codec.measureBoundedSample(bytes.data() + p, n - p) == n - p;
        std::copy(data + cut, data + cut + 4, field);
        if (whole)
            return p;
    }
    return n;
}
