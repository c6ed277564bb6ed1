#pragma once
// Finds H.264 video (avc1) in the damaged payload, chunk by chunk, together
// with the audio interleaved with it (see ChunkVideoAnalyser). The H.264
// part: the sample profile, composition offsets from H.264 order counts, and
// keeping the output avcC's PPS list complete.

#include "analysers/chunk/chunk_video_analyser.h"
#include "analysers/h264/avc1_composition_order.h"
#include "analysers/h264/avc1_pps_clone.h"
#include "analysers/h264/avc1_sample_profile.h"

#include <cstdint>
#include <string>

class AVC1Analyser : public ChunkVideoAnalyser {
public:
    AVC1Analyser(RepairState* repairState, ScanInfo* scanInfo);

    bool accepts() override;
    std::string name() const override { return "AVC1Analyser"; }

    const Avc1SampleProfile& sampleProfile() const { return m_profile; }
    const PpsIdSet& referencedPps() const { return m_referencedPps; }

private:
    LearnedSampleCodec& codec() override { return m_profile; }
    bool configurationUsable() override;
    void logLearnedProfile() override;
    std::string outputCodec() const override { return "avc1"; }
    bool configureCompositionOrder() override;
    size_t applyPictureOrder(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                             bool rewriteOffsets) override;
    void noteParameterSet(int32_t ppsId) override;
    bool strangeParameterSet(int32_t ppsId) const override;
    void completeParameterSets() override;
    void resetCodecState() override;

    Avc1CompositionOrder m_compositionOrder;
    Avc1SampleProfile m_profile;
    PpsIdSet m_configuredPps;  // those the avcC holds
    PpsIdSet m_referencedPps;
    uint64_t m_namingPictures = 0;  // pictures noted with a readable PPS id
    PpsIdSet m_loggedPps;
    PpsIdSet m_reportedPps;
};
