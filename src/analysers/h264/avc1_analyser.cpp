#include "analysers/h264/avc1_analyser.h"

#include "analysers/h264/avc1_slice_contexts.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <utility>

AVC1Analyser::AVC1Analyser(RepairState* repairState, ScanInfo* scanInfo)
    : ChunkVideoAnalyser(repairState, scanInfo, "AVC1") {}

bool AVC1Analyser::accepts() {
    const ReferenceInfo* ref = reference();
    return !ref || ref->video().m_codec.empty() || ref->video().m_class == "avc1";
}

bool AVC1Analyser::configurationUsable() {
    const H264Config& avc = m_repairState->m_video->m_avc;
    if (avc.spsCount() == 0) {
        FLOG(LogLevel::Notice) << "AVC1 auto heuristic: skipped (missing SPS in avcC)";
        return false;
    }
    // Samples are read as units behind 4-byte lengths, or the 2-byte ones
    // some phones write; 1-byte lengths fit no picture a recorder makes.
    const unsigned lengthSize = avc.lengthSize();
    if (lengthSize != 4 && lengthSize != 2) {
        FLOG(LogLevel::Warning) << "AVC1 chunk scanner: skipped (the reference's NAL units have " << lengthSize
                                << "-byte lengths; only 4- and 2-byte lengths are read)";
        return false;
    }
    m_profile.setLengthSize(lengthSize);
    Avc1SliceContexts sets = avc1SliceContexts(avc);
    m_configuredPps.reset();
    for (size_t id = 0; id < sets.present.size() && id < m_configuredPps.size(); ++id)
        m_configuredPps.set(id, sets.present[id]);
    m_profile.setSliceContexts(std::move(sets.contexts), std::move(sets.present));
    return true;
}

void AVC1Analyser::logLearnedProfile() {
    FLOG(LogLevel::Info) << "AVC1 reference sample profile classes=" << m_profile.classes().size()
                         << " sample_size=" << m_profile.minSampleSize() << ".." << m_profile.maxSampleSize()
                         << " first_slice=" << m_profile.minFirstSlice() << ".." << m_profile.maxFirstSlice();
    if (!m_profile.anchors().empty())
        FLOG(LogLevel::Info) << "AVC1 reference sample anchors=" << m_profile.anchors().size()
                             << " coverage=" << m_profile.anchorCoverage() / 10 << "."
                             << m_profile.anchorCoverage() % 10 << "%"
                             << " fast=" << (m_profile.fast() ? "on" : "off");
}

bool AVC1Analyser::configureCompositionOrder() { return m_compositionOrder.configure(m_repairState->m_video->m_avc); }

size_t AVC1Analyser::applyPictureOrder(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                                       bool rewriteOffsets) {
    const size_t rewritten = m_compositionOrder.apply(input, samples, frameDuration, rewriteOffsets);
    // Behind two-byte lengths a picture that keeps every rule of its units
    // and header still turns up in data of any other kind now and then; a
    // recording's pictures continue one another's frame numbers, chance
    // ones only as often as two numbers below MaxFrameNum happen to agree
    // (one pair in seven in random bytes). Where most do not, nothing found
    // is the recorder's (the sound was taken from between those pictures).
    constexpr size_t kMinPairs = 8;
    const Avc1CompositionOrder::Continuity c = m_compositionOrder.lastContinuity();
    if (m_profile.lengthSize() == 2 && c.pairs >= kMinPairs && 2 * c.continuing < c.pairs) {
        FLOG(LogLevel::Warning) << "AVC1: the pictures found do not continue one another (" << c.continuing << " of "
                                << c.pairs << " follow by frame number): with 2-byte unit lengths they are chance "
                                << "matches in other data, and nothing is taken";
        samples.clear();
        return 0;
    }
    return rewritten;
}

void AVC1Analyser::resetCodecState() {
    m_namingPictures = 0;
    m_referencedPps.reset();
    m_loggedPps.reset();
    m_reportedPps.reset();
}

void AVC1Analyser::noteParameterSet(int32_t ppsId) {
    if (ppsId < 0 || size_t(ppsId) >= m_referencedPps.size())
        return;
    m_referencedPps.set(size_t(ppsId));
    ++m_namingPictures;
    if (!m_loggedPps.test(size_t(ppsId))) {
        m_loggedPps.set(size_t(ppsId));
        FLOG(LogLevel::Debug) << "AVC1 referenced PPS id " << ppsId;
    }
}

bool AVC1Analyser::strangeParameterSet(int32_t ppsId) const {
    // Pictures that show which parameter sets the recorder names: its
    // configuration's, or its own session's where it numbers them anew.
    constexpr uint64_t kSettled = 8;
    return ppsId >= 0 && size_t(ppsId) < m_referencedPps.size() && m_namingPictures >= kSettled &&
           !m_referencedPps.test(size_t(ppsId)) && !m_configuredPps.test(size_t(ppsId));
}

void AVC1Analyser::completeParameterSets() {
    addMissingPps(m_repairState->m_video->m_avc, m_referencedPps, m_reportedPps);
}
