#pragma once
// Composition offsets of found HEVC samples from their own slice headers: the
// picture order count of each picture's first slice segment says where it is
// shown. An encoder that picks B-frames by content gives every scene its own
// frame-type pattern, so the reference's offsets fit another recording only
// by chance.

#include "bitstream/hevc/parameter_sets.h"
#include "scan/media_sample.h"

#include <cstddef>
#include <cstdint>

class ScanBuffer;

class HevcCompositionOrder {
public:
    // The decoder configuration's parameter sets; false when they hold no
    // usable SPS.
    bool configure(const HEVC::ParameterSets& sets);

    // Rewrites the composition offsets of the video samples in `samples`
    // (decode order, `frameDuration` media units each) from their picture
    // order counts, one stretch between IDR or BLA pictures at a time. A
    // stretch with a sample whose first slice cannot be read keeps the
    // offsets it has. Returns the number of samples rewritten.
    size_t apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration) const;

private:
    // The first slice segment of the sample: its type, temporal id and order count lsb.
    bool readFirstSlice(ScanBuffer& input, const MediaSample& sample, uint8_t& type, uint8_t& temporalId,
                        uint32_t& pocLsb) const;

    bool m_ready = false;
    HEVC::ParameterSets m_sets;
    int64_t m_maxPocLsb = 16;
    // Pictures the decoder holds back before showing the first one, as the
    // SPS declares it; players and muxers start the timeline that late.
    int64_t m_declaredDelay = 0;
};
