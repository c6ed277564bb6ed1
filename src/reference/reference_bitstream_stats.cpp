#include "reference/reference_bitstream_stats.h"

#include "reference/video_parameters.h"

struct ReferenceBitstreamStats::Impl {};

ReferenceBitstreamStats::ReferenceBitstreamStats() : m_impl(new Impl()) {}
ReferenceBitstreamStats::~ReferenceBitstreamStats() = default;

void ReferenceBitstreamStats::analyseSample(platform::File& file, uint64_t offset, uint32_t size,
                                            const VideoParameters& video) {
    (void)file;
    (void)offset;
    (void)size;
    (void)video;  // HOOK: sequence analysers not available yet
}

void ReferenceBitstreamStats::printNalSequences() const {}
