#pragma once
// Finding whole H.264 video chunks of the reference's kind in the damaged
// input: runs of samples that the sample profile accepts, as many as a chunk
// of the reference holds, with no more than a small gap between them.

#include "analysers/h264/avc1_sample_profile.h"

#include <cstdint>
#include <vector>

// Reference video chunks that hold one number of samples.
struct ChunkProfile {
    uint32_t samples = 0;  // samples per chunk (the key)
    uint64_t minSize = 0, maxSize = 0;  // sum of the chunk's sample sizes
    uint32_t chunks = 0;
};

// A chunk found in the damaged input.
struct ChunkCandidate {
    int64_t offset = 0;  // file offset of the first sample
    int64_t size = 0;    // from the chunk offset to the end of the last sample
    struct Sample {
        int64_t start = 0;  // relative to the chunk offset
        int32_t size = 0;
        int32_t ppsId = -1;  // pic_parameter_set_id of the first slice, -1 when unreadable
    };
    std::vector<Sample> samples;
};

class Avc1ChunkSearch {
public:
    // `gapLimit`: the most bytes allowed between two samples of a chunk.
    Avc1ChunkSearch(const Avc1SampleProfile& profile, const std::vector<ChunkProfile>& chunks, int64_t gapLimit)
        : m_profile(profile), m_chunks(chunks), m_gapLimit(gapLimit) {}

    // Does a whole chunk start at `data` (n bytes available)? Tries the chunk
    // profiles in their order; the first that fits gives the candidate
    // (offset left at 0). When none fits, the samples that do follow one
    // another there (at least one, at most as many as the largest profile)
    // make a short chunk: the last chunk of a recording, the part of a chunk
    // in front of damage or of a cut, or a chunk of a length the reference
    // never used.
    bool validate(const uint8_t* data, int64_t n, ChunkCandidate& out) const;

    // The first start in [0, range - 10] where a NAL unit passes and a chunk
    // validates over the bytes from there to n; -1 when there is none.
    // `out.offset` is the start relative to `data`.
    int64_t search(const uint8_t* data, int64_t n, int64_t range, ChunkCandidate& out) const;

    int64_t gapLimit() const { return m_gapLimit; }

private:
    // `samples` samples from `data`; with `allowShort` fewer will do.
    bool validateProfile(const uint8_t* data, int64_t n, uint32_t samples, bool allowShort,
                         ChunkCandidate& out) const;

    const Avc1SampleProfile& m_profile;
    const std::vector<ChunkProfile>& m_chunks;
    int64_t m_gapLimit;
};

// pic_parameter_set_id of the first slice of a sample, or -1.
int32_t firstSlicePpsId(const uint8_t* sample, int64_t size);
