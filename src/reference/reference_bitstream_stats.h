#pragma once
// Debug statistics of the reference's video bitstream: the NAL unit patterns
// of its H.264 samples and the HEVC unit walk, gathered during the chunk walk
// at DEBUG level.

#include "platform/file.h"

#include <cstdint>
#include <memory>

struct VideoParameters;
namespace H264 {
class NalData;
}
namespace HEVC {
class HevcUtils;
}

class ReferenceBitstreamStats {
public:
    ReferenceBitstreamStats();
    ~ReferenceBitstreamStats();
    ReferenceBitstreamStats(const ReferenceBitstreamStats&) = delete;
    ReferenceBitstreamStats& operator=(const ReferenceBitstreamStats&) = delete;

    // One reference video sample: class "avc1" goes to the H.264 sequence
    // analysis, "hvc1" to the HEVC one; other classes are ignored.
    void analyseSample(platform::File& file, uint64_t offset, uint32_t size, const VideoParameters& video);

    // The H.264 NAL unit sequences seen, "nalseq N: 09 06 05 " lines and an
    // empty line on standard output.
    void printNalSequences() const;

    // The HEVC sequence record.
    const HEVC::HevcUtils& hevcUtils() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
