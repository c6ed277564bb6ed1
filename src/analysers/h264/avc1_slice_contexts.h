#pragma once
// What a slice header needs of its parameter sets, for every PPS of an avcC
// record whose SPS the record holds: the context in which the composition
// order reads the picture order count, and in which the sample tests read a
// whole header.

#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"

#include <vector>

struct H264Config;

struct Avc1SliceContexts {
    std::vector<H264::SequenceParameterSet> sps;  // those that parse, in the record's order
    std::vector<H264::SliceContext> contexts;     // by pic_parameter_set_id, 256 of them
    std::vector<bool> present;                    // which ids have one
};

// A PPS that parses (features it cannot follow allowed) takes the first SPS
// of its seq_parameter_set_id.
Avc1SliceContexts avc1SliceContexts(const H264Config& avc);
