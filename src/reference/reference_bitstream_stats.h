#pragma once
// Debug statistics of the reference's video bitstream: the NAL unit patterns
// of its H.264 samples and the HEVC unit walk, gathered during the chunk walk
// at DEBUG level.

#include "platform/file.h"

#include <cstdint>
#include <memory>

struct VideoParameters;

class ReferenceBitstreamStats {
public:
    ReferenceBitstreamStats();
    ~ReferenceBitstreamStats();
    ReferenceBitstreamStats(const ReferenceBitstreamStats&) = delete;
    ReferenceBitstreamStats& operator=(const ReferenceBitstreamStats&) = delete;

    // One reference video sample: class "avc1" goes to the H.264 sequence
    // analysis, "hvc1" to the HEVC one; other classes are ignored.
    void analyseSample(platform::File& file, uint64_t offset, uint32_t size, const VideoParameters& video);

    // The H.264 NAL unit sequences seen, "nalseq N: 09 06 05 " lines on
    // standard output (nothing when no H.264 sample was analysed).
    void printNalSequences() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
