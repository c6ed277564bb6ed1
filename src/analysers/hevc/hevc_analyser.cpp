#include "analysers/hevc/hevc_analyser.h"

#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/hevc_config_units.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <algorithm>

namespace {

bool isHevc(const std::string& codec) { return codec == "hvc1" || codec == "hev1"; }

}  // namespace

HEVCAnalyser::HEVCAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : ChunkVideoAnalyser(repairState, scanInfo, "HEVC") {}

bool HEVCAnalyser::accepts() {
    const ReferenceInfo* ref = reference();
    return ref && isHevc(ref->video().m_codec);
}

std::string HEVCAnalyser::outputCodec() const {
    // The output carries the reference's sample description, whose format
    // says whether parameter sets may also come in band.
    const ReferenceInfo* ref = reference();
    return ref && isHevc(ref->video().m_codec) ? ref->video().m_codec : "hvc1";
}

bool HEVCAnalyser::configurationUsable() {
    m_sets = HEVC::ParameterSets();
    // Samples are read as units behind 4-byte lengths; with shorter ones
    // every unit would be misread, and the output's hvcC would say so.
    const unsigned lengthSize = hevcLengthSize(m_repairState->m_video->m_hevc);
    if (lengthSize != 4) {
        FLOG(LogLevel::Warning) << "HEVC chunk scanner: skipped (the reference's NAL units have " << lengthSize
                                << "-byte lengths; only 4-byte lengths are read)";
        return false;
    }
    for (const HEVC::ConfigUnit& u : hevcConfigUnits(m_repairState->m_video->m_hevc)) {
        if (u.size < 3)
            continue;
        try {
            HEVC::parseUnit(m_sets, u.data + 2, u.size - 2, u.arrayType & 0x3F);
        } catch (const HEVC::BitstreamError&) {
            // A unit that does not parse names nothing the slices can use.
        }
    }
    if (m_sets.sps.empty() || m_sets.pps.empty()) {
        FLOG(LogLevel::Notice) << "HEVC chunk scanner: skipped (no usable SPS and PPS in hvcC)";
        return false;
    }
    m_profile.setParameterSets(m_sets);
    return true;
}

void HEVCAnalyser::logLearnedProfile() {
    uint32_t minSize = 0, maxSize = 0, minFirst = 0, maxFirst = 0;
    bool any = false;
    for (const HevcSampleClass& c : m_profile.classes()) {
        minSize = any ? std::min(minSize, c.minSize) : c.minSize;
        maxSize = any ? std::max(maxSize, c.maxSize) : c.maxSize;
        minFirst = any ? std::min(minFirst, c.minFirstSlice) : c.minFirstSlice;
        maxFirst = any ? std::max(maxFirst, c.maxFirstSlice) : c.maxFirstSlice;
        any = true;
    }
    FLOG(LogLevel::Info) << "HEVC reference sample profile classes=" << m_profile.classes().size()
                         << " sample_size=" << minSize << ".." << maxSize << " first_slice=" << minFirst << ".."
                         << maxFirst;
    if (m_profile.tellsOtherTrackApart())
        FLOG(LogLevel::Info) << "HEVC pictures of the reference's other video track are told apart by their "
                                "slices' entry points";
}

bool HEVCAnalyser::configureCompositionOrder() { return m_compositionOrder.configure(m_sets); }

size_t HEVCAnalyser::applyPictureOrder(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                                       bool rewriteOffsets) {
    return m_compositionOrder.apply(input, samples, frameDuration, rewriteOffsets);
}

void HEVCAnalyser::noteEmittedSample(const ScanBuffer& input, int64_t offset, int32_t size) {
    m_compositionOrder.remember(input, offset, size);
}

void HEVCAnalyser::finish(ScanBuffer& buffer) {
    ChunkVideoAnalyser::finish(buffer);
    FLOG(LogLevel::Info) << "HEVC chunk scan finish";
}
