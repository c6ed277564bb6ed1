#include "reference/reference_bitstream_stats.h"

#include "bitstream/h264/nal_data.h"
#include "bitstream/hevc/hevc_utils.h"
#include "reference/hevc_config_units.h"
#include "reference/video_parameters.h"

#include <limits>

struct ReferenceBitstreamStats::Impl {
    H264::NalData h264;
    HEVC::HevcUtils hevc;
};

ReferenceBitstreamStats::ReferenceBitstreamStats() : m_impl(new Impl()) {}
ReferenceBitstreamStats::~ReferenceBitstreamStats() = default;

void ReferenceBitstreamStats::analyseSample(platform::File& file, uint64_t offset, uint32_t size,
                                            const VideoParameters& video) {
    if (offset > uint64_t(std::numeric_limits<int64_t>::max()))
        return;
    if (video.m_class == "avc1") {
        // The decoder needs the reference's SPS and PPS before the first
        // slice: the samples themselves usually carry none.
        const H264Config& avc = video.m_avc;
        H264::NalData::ParameterSets sets;
        sets.lengthSize = avc.lengthSize();
        if (avc.spsCount() > 0) {
            sets.sps = avc.m_sps[0];
            sets.spsSize = avc.m_spsLength[0] < kMaxSpsBytes ? avc.m_spsLength[0] : kMaxSpsBytes;
        }
        if (avc.ppsCount() > 0) {
            sets.pps = avc.m_pps[0];
            sets.ppsSize = avc.m_ppsLength[0] < kMaxPpsBytes ? avc.m_ppsLength[0] : kMaxPpsBytes;
        }
        m_impl->h264.seq_analyze(file, int64_t(offset), size, sets);
    }
    if (video.m_class == "hvc1") {
        m_impl->hevc.seq_analyze(file, int64_t(offset), size, hevcConfigUnits(video.m_hevc),
                                 hevcLengthSize(video.m_hevc));
    }
}

void ReferenceBitstreamStats::printNalSequences() const {
    m_impl->h264.printSequences();
}

const HEVC::HevcUtils& ReferenceBitstreamStats::hevcUtils() const {
    return m_impl->hevc;
}
