#pragma once
// Finds H.264 video (avc1) in the damaged payload, chunk by chunk, together
// with the audio interleaved with it. Learns from the reference what a video
// sample and a video chunk look like, searches the input for byte runs that
// form a whole chunk of that kind, emits its frames with the reference's
// composition offsets, fills the audio gap next to it and keeps the output
// avcC's PPS list complete.

#include "analysers/audio/aac_analyser.h"
#include "analysers/audio/audio_interleave.h"
#include "analysers/chunk/chunk_candidate.h"
#include "analysers/chunk/gap_video.h"
#include "analysers/core/top_level_atom.h"
#include "analysers/h264/avc1_composition_order.h"
#include "analysers/h264/avc1_pps_clone.h"
#include "analysers/h264/avc1_sample_profile.h"
#include "reference/video_chunk_profiles.h"
#include "scan/byte_block.h"

#include <cstdint>
#include <string>
#include <vector>

class AVC1Analyser : public AACAnalyser, private GapVideo {
public:
    AVC1Analyser(RepairState* repairState, ScanInfo* scanInfo);

    // True at every position from the skip-until offset on, once prepare()
    // enabled the chunk scanner.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    // The first position at or past the skip-until offset (the audio base's
    // sync-byte search does not apply to video).
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    // One chunk search from the offset; true when a chunk was emitted.
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    // The audio behind the last chunk.
    void finish(ScanBuffer& buffer) override;
    // Learns from the reference and enables the chunk scanner.
    void prepare() override;
    bool accepts() override;
    std::string name() const override { return "AVC1Analyser"; }

    bool scannerEnabled() const { return m_scannerEnabled; }
    bool audioBeforeVideo() const { return m_audioBeforeVideo; }
    int64_t skipUntil() const { return m_skipUntil; }
    const Avc1SampleProfile& sampleProfile() const { return m_profile; }
    const std::vector<ChunkProfile>& chunkProfiles() const { return m_chunkProfiles; }
    const PpsIdSet& referencedPps() const { return m_referencedPps; }
    // The most bytes allowed between two samples of one chunk.
    int64_t gapLimit() const;

private:
    void learnSamples();
    void learnChunks();
    void decideInterleavePhase();
    bool emitChunk(const ChunkCandidate& chunk, ScanBuffer& buffer);
    // The scan has reached a top-level atom: the audio in front of it is
    // taken and the atom (or a media data atom's header) passed over.
    void passAtom(const TopLevelAtom& atom, ScanBuffer& buffer);
    // Composition offsets of the collected frames from their picture order counts.
    void applyCompositionOrder(ScanBuffer& buffer);
    void noteReferencedPps(const ChunkCandidate& chunk);
    void noteReferencedPps(int32_t ppsId);
    // Pictures whose slices are all too short for the chunk search, found
    // where a gap's audio leaves a stretch of known bounds.
    bool samplesFill(ScanBuffer& input, int64_t from, int64_t to) override;
    int64_t samplesFrom(ScanBuffer& input, int64_t from, int64_t to) override;
    int64_t emitSamplesFilling(ScanBuffer& input, int64_t from, int64_t to) override;
    // Where the whole samples that end exactly at `to` begin, at the earliest,
    // within the last bytes of [from, to); `to` when none do.
    int64_t trailingSamplesStart(ScanBuffer& input, int64_t from, int64_t to);
    // The sizes of the samples that fill [from, to) exactly, read into `block`.
    bool tileStretch(ScanBuffer& input, int64_t from, int64_t to, ByteBlock& block, std::vector<int32_t>& sizes);
    // Video samples in the found list.
    uint64_t videoSamplesCollected() const;
    int32_t referenceCompositionOffset(uint64_t index) const;

    AudioInterleave m_interleave;
    Avc1CompositionOrder m_compositionOrder;
    Avc1SampleProfile m_profile;
    std::vector<ChunkProfile> m_chunkProfiles;
    bool m_scannerEnabled = false;
    int64_t m_skipUntil = 0;
    bool m_audioBeforeVideo = false;
    PpsIdSet m_referencedPps;
    PpsIdSet m_loggedPps;
    PpsIdSet m_reportedPps;
};
