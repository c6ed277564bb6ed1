#pragma once
// Finds a length-prefixed video codec's samples in the damaged payload,
// chunk by chunk, together with the audio interleaved with them. Learns from
// the reference what a video sample and a video chunk look like, searches
// the input for byte runs that form a whole chunk of that kind, emits its
// frames with the reference's composition offsets (rewritten from the
// frames' own order counts at the end), and fills the audio gap next to each
// chunk. A codec's analyser supplies its learnt sample profile, its
// composition order and its parameter-set bookkeeping.

#include "analysers/audio/aac_analyser.h"
#include "analysers/audio/audio_interleave.h"
#include "analysers/chunk/chunk_candidate.h"
#include "analysers/chunk/gap_video.h"
#include "analysers/chunk/learned_sample_codec.h"
#include "analysers/core/top_level_atom.h"
#include "reference/video_chunk_profiles.h"
#include "scan/byte_block.h"
#include "scan/media_sample.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ChunkVideoAnalyser : public AACAnalyser, private GapVideo {
public:
    // True at every position from the skip-until offset on, once prepare()
    // enabled the chunk scanner.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    // The first position at or past the skip-until offset (the audio base's
    // sync-byte search does not apply to video).
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    // One chunk search from the offset; true when a chunk was emitted.
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    // The audio behind the last chunk, and the frames' composition offsets.
    void finish(ScanBuffer& buffer) override;
    // Learns from the reference and enables the chunk scanner.
    void prepare() override;

    bool scannerEnabled() const { return m_scannerEnabled; }
    bool audioBeforeVideo() const { return m_audioBeforeVideo; }
    int64_t skipUntil() const { return m_skipUntil; }
    const std::vector<ChunkProfile>& chunkProfiles() const { return m_chunkProfiles; }
    // The most bytes allowed between two samples of one chunk.
    int64_t gapLimit() const;

protected:
    // `logLabel` begins the log lines ("AVC1", "HEVC").
    ChunkVideoAnalyser(RepairState* repairState, ScanInfo* scanInfo, const std::string& logLabel);

    const std::string& logLabel() const { return m_label; }

    // The codec's part.
    virtual LearnedSampleCodec& codec() = 0;
    // Can the working parameters' decoder configuration serve the scan?
    // Says why not in the log when it cannot.
    virtual bool configurationUsable() = 0;
    // Logs what the profile learnt from the reference.
    virtual void logLearnedProfile() = 0;
    // The output's video sample format.
    virtual std::string outputCodec() const = 0;
    // Prepares the order-count reading; false when the offsets stay the reference's.
    virtual bool configureCompositionOrder() = 0;
    // Sets the sync states of the video samples found so far and, unless
    // !rewriteOffsets, rewrites their composition offsets, from one reading
    // of each picture's first units; returns how many offsets were
    // rewritten.
    virtual size_t applyPictureOrder(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                                     bool rewriteOffsets) = 0;
    // A sample about to be emitted names this parameter set (-1: unknown).
    virtual void noteParameterSet(int32_t id) { (void)id; }
    // Whether a sample naming this parameter set names one that neither the
    // configuration nor the samples found so far do, though enough of them
    // came to show which ones the recorder names.
    virtual bool strangeParameterSet(int32_t id) const {
        (void)id;
        return false;
    }
    // A sample was just emitted, while the scan's window may still hold its
    // bytes: what the composition order reads of it can be read now.
    virtual void noteEmittedSample(const ScanBuffer& input, int64_t offset, int32_t size) {
        (void)input, (void)offset, (void)size;
    }
    // After samples were emitted: the output's configuration must hold
    // every parameter set they name.
    virtual void completeParameterSets() {}
    // Forget the codec's own scan state (prepare).
    virtual void resetCodecState() {}

private:
    void learnSamples();
    void learnChunks();
    void decideInterleavePhase();
    // Learns whether the reference's other video track in this format
    // writes its runs of pictures right behind ours, always as many.
    void learnOtherTrackPlacement();
    // Says which of the reference's video tracks are not repaired.
    void noteSkippedVideoTracks() const;
    bool emitChunk(const ChunkCandidate& chunk, ScanBuffer& buffer);
    // Adds a found picture to the samples and lets the codec read what the
    // composition order will want of it while the window holds it.
    void addVideoSample(ScanBuffer& input, int64_t offset, int32_t size, int32_t compositionOffset);
    // The scan has reached a top-level atom: the audio in front of it is
    // taken and the atom (or a media data atom's header) passed over.
    void passAtom(const TopLevelAtom& atom, ScanBuffer& buffer);
    // Where the picture that the cut of the input left unfinished begins in
    // the last gap [from, end): `end` when the gap holds none (or ends at an
    // atom rather than at the end of the input).
    int64_t cutPictureAtEnd(ScanBuffer& buffer, int64_t from, int64_t end);
    // Do the bytes at `at` lie inside the AAC or MPEG audio frames that run
    // from `from`: two or more frames across it (unless `pictureBehind`), or
    // frames that end where a picture begins?
    bool insideSoundFrames(ScanBuffer& buffer, int64_t from, int64_t at, bool pictureBehind = false);
    // Composition offsets of the collected frames from their picture order counts.
    void applyCompositionOrder(ScanBuffer& buffer);
    // Pictures whose slices are all too short for the chunk search, found
    // where a gap's audio leaves a stretch of known bounds.
    bool samplesFill(ScanBuffer& input, int64_t from, int64_t to) override;
    int64_t samplesFrom(ScanBuffer& input, int64_t from, int64_t to) override;
    int64_t samplesAt(const uint8_t* data, int64_t n) override;
    int64_t emitSamplesFilling(ScanBuffer& input, int64_t from, int64_t to) override;
    // Where the whole samples that end exactly at `to` begin, at the earliest,
    // within the last bytes of [from, to); `to` when none do.
    int64_t trailingSamplesStart(ScanBuffer& input, int64_t from, int64_t to);
    // Does a whole video sample begin and end strictly inside [from, to)?
    bool sampleInside(ScanBuffer& input, int64_t from, int64_t to);
    // The sizes of the samples that fill [from, to) exactly, read into `block`.
    bool tileStretch(ScanBuffer& input, int64_t from, int64_t to, ByteBlock& block, std::vector<int32_t>& sizes);
    // Where the pictures of the reference's other video track that follow
    // one another from `from` end (`from` when none begins there); they are
    // passed over, being neither this track's frames nor audio.
    int64_t passOtherTrackSamples(ScanBuffer& input, int64_t from, int64_t to);
    // The other track's run of pictures that begins where our last chunk
    // ended, by its place alone; true when it was passed over.
    bool passOtherTrackRun(ScanBuffer& input, int64_t from, int64_t to);
    // Where the samples that follow one another from `from` on end, as far
    // as the window already read holds them (`from` when none begins there).
    // A candidate ends where its search's read did, so a recorder's chunk
    // larger than the reference's is found in parts, and the gap behind it
    // opens only behind the last: a guess for the gap measured ahead, never
    // used for what is recovered.
    int64_t samplesRunEnd(ScanBuffer& input, int64_t from);
    // Video samples in the found list.
    uint64_t videoSamplesCollected() const;
    int32_t referenceCompositionOffset(uint64_t index) const;

    std::string m_label;
    AudioInterleave m_interleave;
    // Pictures of the other video track that follow each of our chunks
    // (0: that track's pictures are not placed so, or there is none).
    uint32_t m_otherTrackRunBehind = 0;
    int64_t m_lastChunkEnd = -1;
    std::vector<ChunkProfile> m_chunkProfiles;
    bool m_scannerEnabled = false;
    int64_t m_skipUntil = 0;
    bool m_audioBeforeVideo = false;
};
