#pragma once
// Finds HEVC video (hvc1, hev1) in the damaged payload, chunk by chunk,
// together with the audio interleaved with it (see ChunkVideoAnalyser). The
// HEVC part: the sample profile, read against the decoder configuration's
// parameter sets, and composition offsets from HEVC picture order counts.

#include "analysers/chunk/chunk_video_analyser.h"
#include "analysers/hevc/hevc_composition_order.h"
#include "analysers/hevc/hevc_sample_profile.h"

#include <cstdint>
#include <string>

class HEVCAnalyser : public ChunkVideoAnalyser {
public:
    HEVCAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // Also logs that the scan is over.
    void finish(ScanBuffer& buffer) override;
    bool accepts() override;
    std::string name() const override { return "HEVCAnalyser"; }

    const HevcSampleProfile& sampleProfile() const { return m_profile; }

private:
    LearnedSampleCodec& codec() override { return m_profile; }
    bool configurationUsable() override;
    void logLearnedProfile() override;
    std::string outputCodec() const override;
    bool configureCompositionOrder() override;
    size_t applyPictureOrder(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                             bool rewriteOffsets) override;
    void noteEmittedSample(const ScanBuffer& input, int64_t offset, int32_t size) override;

    HevcSampleProfile m_profile;
    HevcCompositionOrder m_compositionOrder;
    HEVC::ParameterSets m_sets;
};
