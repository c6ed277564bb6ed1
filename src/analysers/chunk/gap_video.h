#pragma once
// Video samples too small for the chunk search to propose can still be told
// apart where both their bounds are known: a stretch that the audio of a gap
// leaves between the end of one run of frames and the start of the next (or
// the video on either side) holds nothing but samples, and all of it must be
// explained. The audio side finds such stretches; the video analyser, which
// knows its codec, decides whether samples fill one and emits them.

#include <cstdint>

class ScanBuffer;

class GapVideo {
public:
    virtual ~GapVideo() = default;
    // Do whole video samples fill [from, to) exactly? Emits nothing.
    virtual bool samplesFill(ScanBuffer& input, int64_t from, int64_t to) = 0;
    // How many bytes from `from` on whole video samples fill, one after
    // another, before bytes that begin none (at most to - from). Emits nothing.
    virtual int64_t samplesFrom(ScanBuffer& input, int64_t from, int64_t to) = 0;
    // The same for the `n` bytes at `data`, which the caller holds already.
    virtual int64_t samplesAt(const uint8_t* data, int64_t n) = 0;
    // Emits, in file order, the video samples that fill [from, to) exactly
    // and returns how many; 0 (and nothing emitted) when the bytes are not
    // whole samples from end to end.
    virtual int64_t emitSamplesFilling(ScanBuffer& input, int64_t from, int64_t to) = 0;
};
