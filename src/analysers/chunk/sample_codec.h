#pragma once
// What the chunk search needs to know of one video codec: where a sample
// could begin, where a sample that begins somewhere ends, how samples of one
// chunk follow each other, and which parameter set a sample uses. Each video
// analyser learns these from the reference (sample classes, anchors) and
// hands them to the one search that every codec shares.

#include <cstdint>

class SampleCodec {
public:
    virtual ~SampleCodec() = default;

    // The first position in [from, last] where the codec's cheap unit test
    // passes, i.e. where a sample could begin; -1 when there is none. `data`
    // holds `n` bytes (last < n). A search calls this once per hit rather
    // than once per byte, so the test runs in the codec's own tight loop.
    virtual int64_t nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const = 0;
    // Size of the sample that begins at `data` (n bytes available), or 0
    // when none does.
    virtual int64_t measureSample(const uint8_t* data, int64_t n) const = 0;
    // May the next sample of a chunk begin right here, where the previous
    // one ended?
    virtual bool continuesAt(const uint8_t* data, int64_t n) const = 0;
    // When it may not: does a sample begin here, behind padding the recorder
    // left between two samples of a chunk?
    virtual bool beginsAfterPadding(const uint8_t* data, int64_t n) const = 0;
    // Size of the sample that begins at `data` where the `n` bytes are known
    // to hold nothing but whole samples (a stretch between audio frames, say),
    // or 0 when none does. Knowing the bounds allows what a search must
    // refuse: units too short to tell from chance matches in other data.
    // A codec that cannot tell says 0.
    virtual int64_t measureBoundedSample(const uint8_t* data, int64_t n) const {
        (void)data;
        (void)n;
        return 0;
    }
    // How many units the `size`-byte sample at `sample` holds, for codecs
    // whose samples are runs of length-prefixed units; 0 when its samples
    // are not, or the lengths do not walk to the sample's end.
    virtual uint32_t unitCount(const uint8_t* sample, int64_t size) const {
        (void)sample;
        (void)size;
        return 0;
    }
    // Bytes of the big-endian length in front of each such unit.
    virtual unsigned lengthSize() const { return 4; }
    // The parameter set the sample's first picture data names, or -1 when
    // it cannot be read or the codec has none to name.
    virtual int32_t parameterSetId(const uint8_t* sample, int64_t size) const = 0;
};
