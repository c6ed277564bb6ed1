#pragma once
// A SampleCodec that learns from the reference's own samples what a sample
// of the recorder looks like. The chunk-driven video analyser feeds it the
// reference's samples and then hands it to the chunk search.

#include "analysers/chunk/sample_codec.h"

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
    // The next measurements read the bytes [data, data + n), which are the
    // input's from file offset `offset` on; nullptr when they read anything
    // else. Lets a codec remember what it read of the input across searches.
    virtual void setSearchWindow(const uint8_t* data, int64_t n, int64_t offset) {
        (void)data;
        (void)n;
        (void)offset;
    }
};
