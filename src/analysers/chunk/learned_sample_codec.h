#pragma once
// A SampleCodec that learns from the reference's own samples what a sample
// of the recorder looks like. The chunk-driven video analyser feeds it the
// reference's samples and then hands it to the chunk search.

#include "analysers/chunk/sample_codec.h"
#include "bitstream/common/byte_read.h"

#include <algorithm>
#include <cstdint>

class LearnedSampleCodec : public SampleCodec {
public:
    // Forget everything learnt.
    virtual void clear() = 0;
    // Learns from one reference sample (its bytes, whole); false when the
    // sample does not split into units and was skipped.
    virtual bool learn(const uint8_t* data, int64_t size) = 0;
    // Learns from one sample of another video track of the reference (a
    // preview or proxy stream in the same format), whose pictures the search
    // must leave alone. A codec that cannot tell the tracks apart ignores it.
    virtual void learnOtherTrack(const uint8_t* data, int64_t size) {
        (void)data;
        (void)size;
    }
    // Size of the picture of such another track that begins at `data` (n
    // bytes, whole pictures or other media behind it), or 0.
    virtual int64_t measureOtherTrackSample(const uint8_t* data, int64_t n) const {
        (void)data;
        (void)n;
        return 0;
    }
    // Is the unit (`length` bytes behind its length field) byte for byte a
    // parameter set that the reference's samples carried?
    virtual bool carriedParameterSet(const uint8_t* unit, int64_t length) const {
        (void)unit;
        (void)length;
        return false;
    }
    // Does measureOtherTrackSample() tell that track's pictures by their content?
    virtual bool tellsOtherTrackApart() const { return false; }
    // After the last learn() and learnOtherTrack().
    virtual void finishLearning() = 0;
    // Nothing learnt: no sample can be told.
    virtual bool empty() const = 0;
    // Is the `size`-byte buffer exactly one sample of the codec (units that
    // end at its end)? Used on the reference's chunks, whose samples are
    // known whole.
    virtual bool wholeSample(const uint8_t* data, int64_t size) const = 0;
    // Could a unit of a sample, however short, begin at `data` (n bytes)?
    // The cheap test in front of fitting samples between known bounds.
    virtual bool boundedUnitAt(const uint8_t* data, int64_t n) const = 0;
    // The first position from `from` on at which boundedUnitAt() holds for
    // the bytes from there to `n`, or `n`: the search of a gap, position by
    // position, in one call.
    virtual int64_t nextBoundedUnit(const uint8_t* data, int64_t n, int64_t from) const {
        for (int64_t p = std::max<int64_t>(from, 0); p < n; ++p)
            if (boundedUnitAt(data + p, n - p))
                return p;
        return n;
    }
    // The next measurements read the bytes [data, data + n), which are the
    // input's from file offset `offset` on; nullptr when they read anything
    // else. Lets a codec remember what it read of the input across searches.
    virtual void setSearchWindow(const uint8_t* data, int64_t n, int64_t offset) {
        (void)data;
        (void)n;
        (void)offset;
    }
    // Samples are runs of units behind big-endian lengths of lengthSize() bytes.
    uint32_t unitCount(const uint8_t* sample, int64_t size) const override {
        const unsigned prefix = lengthSize();
        uint32_t units = 0;
        int64_t pos = 0;
        while (size - pos >= int64_t(prefix)) {
            pos += prefix + int64_t(bitstream::readUnitLength(sample + pos, prefix));
            ++units;
        }
        return pos == size ? units : 0;
    }
};

// nextBoundedUnit() for codecs whose units begin with a big-endian length
// of `lengthSize` bytes that boundedUnitAt() (`test`) requires to be
// non-zero and to fit the bytes: nearly every position of sound or other
// media fails that at once, without the unit test proper.
template <class Test>
int64_t nextLengthPrefixedUnit(const uint8_t* data, int64_t n, int64_t from, unsigned lengthSize, Test&& test) {
    for (int64_t p = std::max<int64_t>(from, 0); p + lengthSize <= n; ++p) {
        const uint32_t length = bitstream::readUnitLength(data + p, lengthSize);
        if (length != 0 && int64_t(length) + lengthSize <= n - p && test(data + p, n - p))
            return p;
    }
    return n;
}
