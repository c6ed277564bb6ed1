#pragma once
// The audio between video chunks, for every video analyser that finds its
// samples chunk by chunk (H.264 and HEVC). When a video chunk is taken, the
// bytes between the previous video and the new chunk hold the audio of that
// interval. How many audio frames they should give follows from the video
// frames emitted since the last audio, so audio and video stay in step over
// the whole file: drift is padded with copies of the last good frame or
// trimmed, within a tenth of a second.

#include "analysers/audio/aac_chain_prefetch.h"
#include "analysers/audio/aac_frame_chain.h"
#include "analysers/audio/frame_chain.h"
#include "analysers/audio/pcm_gap_layout.h"
#include "analysers/audio/pcm_continuity_split.h"
#include "analysers/audio/pcm_sound_profile.h"

#include <bitset>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class GapVideo;
struct SplitFrame;
struct SplitTrack;
class ScanBuffer;
class ReferenceInfo;
struct RepairState;
struct ScanInfo;

// The numbers the expectation is made of.
struct InterleaveTiming {
    double videoTimescale = 0;      // T
    double frameDuration = 0;       // d, in video timescale units
    double audioRate = 0;           // r, Hz
    double samplesPerFrame = 1024;  // spf
    bool rateKnown = false;
};

class AudioInterleave {
public:
    // `logLabel` names the video codec in the log lines ("AVC1" gives
    // "AVC1a ..." for frames and "AVC1pcm ..." for PCM blocks).
    AudioInterleave(RepairState* repairState, ScanInfo* scanInfo, std::string logLabel)
        : m_repairState(repairState), m_scanInfo(scanInfo), m_logLabel(std::move(logLabel)) {}

    // Forget everything (a new scan).
    void reset();
    // The reference's AAC configuration that AAC gaps are decoded with; set
    // before the first gap (its bytes must outlive the gaps).
    void setAacChain(const AacChainConfig& config) {
        m_aacChain = config;
        m_prefetch.reset();
    }
    // AAC frames of gaps can be measured on a second thread while this one
    // works on. A chunk from `chunkStart` to `chunkEnd` was found, and the
    // gap from `gapStart` in front of it is filled next: unless the worker
    // measures that gap already, it measures the gap behind the chunk while
    // this thread decodes the one in front; if it does, this thread measures
    // the gap behind while it waits for the one in front.
    void prefetchBehindChunk(const ScanBuffer& input, int64_t gapStart, int64_t chunkStart, int64_t chunkEnd);
    // Whether gaps are measured ahead at all (AAC sound on its own).
    bool prefetches(const ScanBuffer& input) { return prefetcher(input) != nullptr; }
    // The chunk in front of the gap from `offset` was emitted: the gap is
    // measured while the chunk behind it is searched, unless the last
    // measure taken was not ready in time (then the gaps are shared as above).
    void prefetchGap(const ScanBuffer& input, int64_t offset);
    // The video analyser that may find whole samples in the stretches a
    // gap's audio leaves unexplained (none: such stretches stay unexplained).
    void setGapVideo(GapVideo* video) { m_gapVideo = video; }
    // The gap from `offset` opens at the start of the input's media data.
    void setMediaDataStart(int64_t offset) { m_mediaDataStart = offset; }
    // One more video sample emitted since the last audio.
    void countVideoSample() {
        ++m_videoSinceAudio;
        for (auto& other : m_otherTracks)
            other->countVideoSample();
    }
    // The accepted audio frame size range, from the reference's audio samples.
    void updateFrameSizeRange();
    // How a gap is bounded beyond its two offsets.
    enum GapFlags : unsigned {
        GapPlain = 0,
        GapStartGuessed = 1,  // no video before it: the start is an estimate and may lie in front of the audio
        GapAtEnd = 2,         // runs to the end of the input, so its last frame may be cut off
        GapBehindVideo = 4,   // filled after the video that follows it was emitted: no video may join in front
    };
    // Emits the audio of the gap [a, b).
    void fillGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags = GapPlain);
    // Emits the pictures too small for the chunk search that stand between
    // two runs of audio frames in the gap [a, b), whose audio begins at `a`,
    // and returns how many. Where the audio is written in front of its video,
    // the gap is filled only behind the chunk that follows it, too late for
    // them to keep their place among the pictures.
    int64_t emitPicturesAmidAudio(ScanBuffer& input, int64_t a, int64_t b);

    uint32_t videoSinceAudio() const { return m_videoSinceAudio; }
    double carry() const { return m_carry; }
    uint64_t minFrameSize() const { return m_minFrameSize; }
    uint64_t maxFrameSize() const { return m_maxFrameSize; }

    // The rules, exposed for tests.
    // E = max(floor(V * d * r / T / spf + carry), 0); 0 when V is 0 or a
    // value is unknown.
    static int64_t expectedFrames(uint32_t videoSamples, const InterleaveTiming& timing, double carry);
    // The fraction left over after k frames were emitted for V video samples.
    static double carryAfter(uint32_t videoSamples, const InterleaveTiming& timing, double carry, int64_t k);
    // Frames in a tenth of a second, at least 1; 5 without a rate.
    static int64_t tolerance(const InterleaveTiming& timing);
    // How many frames to emit when F were found and E expected.
    static int64_t framesToTake(int64_t found, int64_t expected, int64_t tolerance);
    // What a candidate run holds: all its frames, and those that look like
    // the reference's (size in range, a first byte its frames begin with).
    struct RunTally {
        int64_t frames = 0, bytes = 0;
        int64_t plausible = 0, plausibleBytes = 0;
    };
    // Score of a resync candidate starting j bytes into the gap.
    static int64_t resyncScore(const RunTally& run, int64_t j, int64_t expected, int64_t expectedSize);

    InterleaveTiming timing() const;
    // Is the reference's audio MPEG audio (MP3 and its kin), stored as
    // '.mp3' or as 'mp4a' with an MPEG-1/2 audio object type?
    bool mpegAudio() const;
    // With MPEG audio: does a run of at least two frames that begins at
    // `from` run across `at`? Then the bytes at `at` are sound, whatever
    // they look like: frames carry their own length, and no picture data
    // continues a run of them.
    // Beside sound of other codecs (MP3 and AAC tracks), a run of MPEG audio
    // frames from anywhere in the gap counts.
    bool mpegAudioSpans(ScanBuffer& input, int64_t from, int64_t at) const;
    // With AAC: where does the run of frames the decoder takes from `from`
    // on end, when it goes on across `at` with no frame ending there (-1
    // when it does not); `frames` receives its length. AAC frames carry no
    // length, so unlike MPEG audio this says only that the bytes at `at` read
    // as the inside of a frame; it is asked where chance pictures are common
    // (units behind two-byte lengths).
    int64_t aacRunAcross(ScanBuffer& input, int64_t from, int64_t at, size_t& frames) const;
    // The same with the frames of the reference's one MPEG audio track.
    int64_t mpegRunAcross(ScanBuffer& input, int64_t from, int64_t at, size_t& frames) const;
    // Where a run of sound frames may go on from `pos`: there, or behind a
    // chunk of one of the reference's timed metadata tracks that ends in
    // front of `at`, nearest first.
    std::vector<int64_t> runStarts(ScanBuffer& input, int64_t pos, int64_t at) const;
    // Does the reference hold MPEG audio tracks beside tracks of other codecs?
    bool soundOfOtherCodecs() const;
    // With PCM that the reference writes one chunk per track between two
    // video chunks, each of whole packets: are the bytes from `from` (behind
    // a video chunk) to `at` at least a chunk long, yet no whole number of
    // packets (of sample frames, in the recording's last flush, whose last
    // packets are short, when `lastFlush`)? Then a "picture" at `at` is a
    // chance match inside the sound. `anyLength`: so are shorter bytes, where
    // every picture stands behind whole packets. Where the reference shows
    // no such chunks but writes its pictures in runs: bytes of any length
    // that are no whole number of sample frames (and not whole pictures the
    // search passed over).
    // Caption chunks that the reference writes right in front of pictures
    // are allowed for: their samples end at a real picture.
    bool pcmCutByChance(ScanBuffer& input, int64_t from, int64_t at, bool lastFlush, bool anyLength) const;
    // Does the media data end at `at` as its atom says (the recording
    // ended there), rather than where the input was cut? Without
    // `openEnded`, only an atom that gives its size says so: one of size 0
    // runs to wherever the input ends, cut or not.
    static bool mediaDataEndsAt(ScanBuffer& input, int64_t at, bool openEnded = true);
    // With PCM that the reference writes in chunks between runs of
    // pictures: do the bytes from `from` (behind a video chunk) to `at` fall
    // short of the shortest chunk of sound the reference writes, so that a
    // "picture" at `at` stands inside the gap's first chunk?
    bool insidePcmChunk(int64_t from, int64_t at) const;
    // With PCM whose chunks are whole packets of one size per track (a
    // muxer interleaving packets by time): are the bytes from `from`
    // (behind a picture) to `at` no sum of whole packets, so that a
    // "picture" at `at` cuts one?
    bool notWholePcmPackets(int64_t from, int64_t at) const;
    // With PCM of one track: do the bytes from `a` to `b`, no whole number
    // of packets, hold whole packets on either side of video samples too
    // small for the chunk search (a still scene's picture between two
    // packets)? Then those samples fill [at, at + length).
    bool pictureAmidPcm(ScanBuffer& input, int64_t a, int64_t b, int64_t& at, int64_t& length);

private:
    // The best run of audio frames starting in [from, from + span) and
    // ending by b; false when there is none. `wide` searches the whole rest
    // of the gap instead of its start only. `mpeg`: MPEG audio frames (found
    // by their headers) instead of AAC frames (found by decoding).
    bool resync(ScanBuffer& input, int64_t from, int64_t b, int64_t expected, bool wide, bool mpeg, FrameChain& out);
    // The shortest gap worth a search.
    int64_t minGap() const;
    // Bytes around a gap's audio that the reference's padding explains.
    int64_t endSlack() const;
    // Whether sound track i's last packet was met (its sound is over).
    bool pcmEnded(size_t i) const { return i < m_pcmEnded.size() && m_pcmEnded[i]; }
    // The largest chunks of the reference's sound tracks that were set
    // aside (codecs whose frames cannot be found), summed; 0 for none.
    int64_t setAsideSound() const;
    // Does the reference write its sound a run of frames per chunk (not
    // ffmpeg's one frame at a time)?
    bool writesRunsOfFrames() const;
    // Is the size one the reference's frames come near?
    bool plausibleSize(uint64_t size) const;
    // Does a frame begin with a byte the reference's frames never begin with?
    bool foreignFirstByte(uint8_t firstByte) const;
    // Adds to the front of an AAC run up to `frames` frames that end where
    // it starts, none of them in front of `floor`; returns how many.
    int64_t extendBackwards(ScanBuffer& input, FrameChain& run, int64_t frames, int64_t floor = 0);
    // Emits the video samples that fill the stretches between the gap's
    // runs of frames (and between the runs and the gap's known ends);
    // returns the bytes they explain in front of the last run, and sets
    // `tailExplained` when samples fill the rest of the gap behind it.
    // Pictures in front of a caption chunk that fills the rest of a stretch
    // are emitted too: `picturesInFront` lists (stretch start, their bytes).
    int64_t videoBetweenRuns(ScanBuffer& input, int64_t a, int64_t b, unsigned flags,
                             const std::vector<FrameChain>& runs, bool& tailExplained,
                             std::vector<std::pair<int64_t, int64_t>>& picturesInFront);
    // The bytes of whole pictures in front of one caption chunk that fills
    // the rest of [from, to); 0 when the stretch is not that.
    int64_t picturesBeforeCaption(ScanBuffer& input, int64_t from, int64_t to) const;
    // An audio run between whole video samples that fill the rest of
    // [from, to) (none in front of it, or some): a stretch that the best run
    // of the gap passed over, since pictures cut it short.
    bool audioThenVideo(ScanBuffer& input, int64_t from, int64_t to, bool mpeg, FrameChain& run);
    // Digital silence recorded beside a reference of sound: AAC frames from
    // `from` on, each at least a silent frame's size but smaller than any
    // the reference shows, up to where whole video samples fill the rest of
    // [from, to). Such frames are no evidence of audio on their own; the
    // pictures behind them are.
    bool quietRunBeforeVideo(ScanBuffer& input, int64_t from, int64_t to, FrameChain& run);
    // Where run `run` of a gap leaves bytes unexplained in front of `limit`
    // (the next run, or the gap's end `b`), its last frames may be a chance
    // decode of a picture too small for the chunk search and of the audio
    // behind it. When whole pictures begin at one of its last frame
    // boundaries and pictures and audio frames behind them reach `limit`,
    // the run is cut there and `after` holds the audio runs behind the cut
    // (audio_interleave_pictures.cpp).
    bool cutRunAtPicture(ScanBuffer& input, FrameChain& run, int64_t limit, int64_t b, bool mpeg,
                         std::vector<FrameChain>& after);
    // The same with the bytes `allowed` in front of `limit` left over;
    // `depth`: how many further runs may be cut so.
    bool cutAtPicture(ScanBuffer& input, FrameChain& run, int64_t limit, int64_t allowed, bool mpeg, int depth,
                      std::vector<FrameChain>& after);
    // Do pictures from `from` on, then audio runs and pictures in turn, reach
    // `limit` (but for `allowed` bytes)? The audio runs go to `runs`.
    bool picturesThenAudio(ScanBuffer& input, int64_t from, int64_t limit, int64_t allowed, bool mpeg, int depth,
                           std::vector<FrameChain>& runs);
    // The gap's audio frames, AAC or MPEG audio.
    void fillFrames(ScanBuffer& input, int64_t a, int64_t b, unsigned flags, bool mpeg);
    void fillPcm(ScanBuffer& input, int64_t a, int64_t b, unsigned flags);
    // PCM of several sound tracks, or beside timed metadata, in the `size`
    // bytes from `a`, the last gap of the input when `atEnd`
    // (audio_interleave_pcm.cpp).
    void fillSharedPcm(ScanBuffer& input, int64_t a, int64_t size, bool atEnd);
    // What each sound track of the reference writes of PCM.
    struct PcmShare {
        int32_t word = -1;     // the track word its samples carry
        int64_t frame = 1;     // bytes of one sample frame
        int64_t chunk = 0;     // bytes of the reference's typical chunk (0: unknown)
        int64_t packet = 0;    // bytes of the packets its chunks are made of (0: none)
        double quota = 0;      // bytes of this gap still owed to the track
        double byteRate = 0;   // bytes per second
        PcmFormat format;      // how its samples read
    };
    std::vector<PcmShare> pcmShares() const;
    // A reference that ended inside the first chunk of every sound track
    // shows none of their lengths: the sound of one of its closed video
    // chunks' time instead (0 where the reference shows chunk lengths).
    int64_t pcmOpenChunksBytes() const;
    // The gap's timed-metadata chunks and stretches of sound, in file order.
    std::vector<PcmGapPiece> pcmGapPieces(ScanBuffer& input, int64_t a, int64_t size,
                                          const std::vector<PcmShare>& shares, bool atEnd) const;
    // Deals a stretch of sound of several tracks out to them, chunk by chunk;
    // `recordingEnds`: the stretch is the last of a recording that ended
    // (rather than one the input's end cut).
    void dealPcm(ScanBuffer& input, int64_t pos, int64_t end, std::vector<PcmShare>& shares, bool atEnd,
                 bool recordingEnds);
    // At the end of a recording's media data, the empty caption sample a
    // muxer closes its caption track with, taken off the sound in front.
    void splitClosingCaption(ScanBuffer& input, int64_t a, int64_t frame, std::vector<PcmGapPiece>& pieces) const;
    // The recorder writes each track's sound in chunks of its own, one
    // after the other, rather than packets in turns as a muxer interleaving
    // them by time does.
    bool pcmWrittenInChunks(const std::vector<PcmShare>& shares) const;
    // The recording's first gap with sound, laid out as the reference's
    // (`whole`: only when exactly as long); moves `pos` past what it took.
    void pcmFirstGap(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares, bool whole,
                     bool atEnd);
    // The sound frames of the packets the tracks' chunks are made of (0:
    // not known yet).
    int64_t pcmPacketFrames(const std::vector<PcmShare>& shares) const;
    // A piece of the only sound track's PCM, noted as a chunk where it is one.
    void emitSinglePcmChunk(ScanBuffer& input, int64_t pos, int64_t size, int64_t frame, bool atEnd);
    // Chunks of the lengths each track wrote before (and the reference's),
    // in the order the tracks fell behind, filling `pos` to `end` exactly;
    // false when none do.
    bool dealPcmTurns(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                      const std::vector<size_t>& order, const std::vector<int64_t>& chunkOf);
    // Chunks closed together: whole packets of each track from `pos` to
    // `end`, in the order the tracks fell behind; false when no packet
    // counts fill the stretch.
    bool dealPcmPackets(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                        const std::vector<size_t>& order, const std::vector<int64_t>& chunkOf);
    // A recording's last flush, in front of its last pictures: the tracks
    // end together on short last packets, so spans of equal length would
    // cut sample frames. Where ending together gives every track whole
    // frames and equal spans do not, the quotas of `bytes` are so.
    void pcmQuotasEndingTogether(std::vector<PcmShare>& shares, int64_t bytes) const;
    // Bytes of whole video samples from `at` (the `remainder` of a part
    // packet, or that and a few packets more) behind which whole packets of
    // `packets` bytes run on to `end`; 0 where none fill such a stretch.
    int64_t picturesBeforePackets(ScanBuffer& input, int64_t at, int64_t end, int64_t remainder, int64_t packets);
    // A picture too small for the chunk search between the packets of a gap
    // that is no whole number of them: the packets in front of it and the
    // picture are emitted and `pos` moved behind it.
    void pcmAroundPicture(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                          const std::vector<size_t>& order);
    // Packets in time order where one track's sound ends in the gap on a
    // short last packet; false when the gap is whole packets or no such
    // layout fills it.
    bool dealPcmEnding(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                       const std::vector<size_t>& order);
    // The stretch read as runs of each track where the tracks' sounds tell
    // them apart; false (nothing taken) where they do not.
    bool dealPcmBySound(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares, bool atEnd,
                        bool recordingEnds, int64_t openingBlock);
    // The bytes of each of `runs` of whole blocks, the part block `rest`
    // added to the first run (`restFirst`) or to the last.
    static std::vector<int64_t> pcmRunPieces(const std::vector<PcmContentRun>& runs, int64_t block, int64_t rest,
                                             bool restFirst);
    // The track whose run of `layout` (of `lengths` bytes) holds the part
    // block of `rest` bytes at `part`: its first run (`restFirst`) or its
    // last. shares.size() where the layout does not hold: a run other than
    // the ender's is not whole packets of its track (`packets`), the ender
    // writes behind its run, or the part sounds like another track.
    size_t pcmEnder(const std::vector<PcmContentRun>& layout, const std::vector<int64_t>& lengths, bool restFirst,
                    const uint8_t* part, int64_t rest, const std::vector<PcmShare>& shares,
                    const std::vector<int64_t>& packets) const;
    // How unlike its run's track the block either side of each boundary
    // between `runs` (of `pieces` bytes, from `data`) sounds; the largest
    // double where a run is shorter than a block or none are given.
    double pcmBoundaryMiss(const uint8_t* data, const std::vector<PcmContentRun>& runs,
                           const std::vector<int64_t>& pieces, int64_t block) const;
    // Where a recording ended, its tracks' last packets are short and a run
    // may end anywhere on the frames of the tracks either side: each
    // boundary between `runs` moves, within a block, to where the block
    // either side sounds clearly more like its run's track.
    void refinePcmBoundaries(const uint8_t* data, const std::vector<PcmContentRun>& runs,
                             std::vector<int64_t>& pieces, int64_t block, const std::vector<PcmShare>& shares) const;
    // Where the boundary at `at` between a run of track `closing` (from
    // `start`) and one of `opening` (to `stop`) belongs, as above.
    int64_t clearerPcmBoundary(const uint8_t* data, int64_t start, int64_t at, int64_t stop, size_t closing,
                               size_t opening, int64_t block, const std::vector<PcmShare>& shares) const;
    // The first gap, when the reference's does not lay it out, told by the
    // sounds at its two ends (the track the muxer opens with and the other).
    bool dealPcmOpeningBySound(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                               const std::vector<size_t>& order, bool atEnd);
    // Learns what track `track`'s sound is like from `piece` bytes at `pos`.
    void learnPcmSound(ScanBuffer& input, int64_t pos, int64_t piece, size_t track,
                       const std::vector<PcmShare>& shares);
    // Emits `piece` bytes at `pos` as a chunk of sound track `track`.
    void takePcmChunk(ScanBuffer& input, int64_t pos, int64_t piece, size_t track, std::vector<PcmShare>& shares,
                      bool atEnd);
    // When the tracks not `done` all end if `bytes` more are shared out so.
    double pcmEndTime(const std::vector<PcmShare>& shares, const std::vector<bool>& done, double bytes) const;
    // Whole sample frames of `size` bytes at `offset` as one PCM sample.
    void emitPcmPiece(ScanBuffer& input, int64_t offset, int64_t size, int64_t frame, int32_t word);
    // Several AAC sound tracks: the gap is split into each track's frames
    // (audio_interleave_tracks.cpp).
    bool sharedGaps() const;
    void fillSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags);
    // The split of a shared gap over `states` (beginSharedGap), pictures
    // amid the sound included where the gap's start is known; `expected`
    // and `tolerances` get each sound track's frames due and their slack,
    // `padding` the bytes between chunks that belong to no track.
    std::vector<SplitFrame> splitSharedGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags,
                                           const std::vector<AudioInterleave*>& states,
                                           std::vector<int64_t>& expected, std::vector<int64_t>& tolerances,
                                           int64_t& covered, int64_t& padding);
    // Takes the pictures out of `frames` and returns them.
    static std::vector<SplitFrame> takePictures(std::vector<SplitFrame>& frames);
    void emitPictures(ScanBuffer& input, const std::vector<SplitFrame>& pictures);
    // emitPicturesAmidAudio for sound tracks that share their gaps.
    size_t emitPicturesAmidSharedGap(ScanBuffer& input, int64_t a, int64_t b);
    // The frames of the track's chunk in the reference's first gap (0: none
    // there, or the reference ended inside it).
    int64_t firstGapFrames(int audioIndex) const;
    // Where the track's first chunk stands among the reference's first
    // gap's sound chunks; -1: not there.
    int openingRank(int audioIndex) const;
    // The reference's timed-metadata tracks as the split sees them, behind
    // the sound tracks already in `tracks`, then its one-sample tracks
    // between chunks whose sample was not passed yet.
    void addMetadataSplitTracks(std::vector<SplitTrack>& tracks);
    // A piece the split gave the metadata track `meta` (counted behind the
    // sound tracks, as addMetadataSplitTracks lists them): a metadata chunk,
    // or a one-sample track's sample, which the output places itself.
    void emitSplitMetadata(ScanBuffer& input, int meta, int64_t offset, int64_t size);
    // A recording without sound whose gaps hold timed metadata only
    // (captions beside the pictures): each gap is split into its chunks.
    bool metadataOnlyGaps() const;
    void fillMetadataGap(ScanBuffer& input, int64_t a, int64_t b, unsigned flags);
    // Several MPEG audio tracks: the gap's frames go to the track whose rate
    // and channels their headers give, or, where the tracks share them, in
    // turns as the muxer wrote them (audio_interleave_tracks.cpp).
    bool sharedMpegGaps() const;
    void fillSharedMpeg(ScanBuffer& input, int64_t a, int64_t b, unsigned flags);
    // The state of each further sound track, made on the first shared gap.
    void makeOtherTracks();
    // The tracks a shared gap is split over (this one first), made on the
    // first gap; marks where the gap began.
    std::vector<AudioInterleave*> beginSharedGap(int64_t a);
    // No track of `states` emitted a frame yet: the recording's first gap.
    static bool noSoundYet(const std::vector<AudioInterleave*>& states);
    // Sound tracks of one decoder configuration (or of rates that decode
    // alike) that a recorder writes a chunk each of per gap: nothing in a
    // frame tells whose it is.
    bool twinTracks() const;
    // MPEG audio twins of different bitrates: gives each frame the track
    // whose reference frame lengths hold its length; false (frames
    // untouched) where the lengths do not tell every frame's track.
    bool framesNameTracks(std::vector<SplitFrame>& frames, size_t tracks) const;
    // AAC twins whose encoders code different bands (different rates or bit
    // rates): gives each of the gap's frames the track whose reference
    // frames code as many bands, a frame that does not say the track of the
    // frames around it; false (frames untouched) where the tracks' band
    // counts meet, few frames say, a track would come back for a single
    // frame, or frames that do not say lie between two tracks' chunks.
    // `wholeGap`: the gap's chunks are whole ones, to be kept for a gap the
    // input's end cuts.
    bool bandsNameChunks(ScanBuffer& input, std::vector<SplitFrame>& frames, size_t tracks, bool wholeGap);
    // The decode time each of the first `tracks` sound tracks has reached.
    std::vector<double> twinSeconds(size_t tracks) const;
    // n frames of one gap shared among the tracks at these times so that
    // all reach about the same time: a recorder flushes its tracks together.
    std::vector<int64_t> timeShares(int64_t n, const std::vector<double>& seconds) const;
    // Deals the gap's sound frames out to such tracks in whole chunks, in
    // the order of the reference's chunks (`fresh`: the recording's first
    // gap with sound; `partLeft`: bytes behind its last frame that no frame
    // explains).
    void dealTwinChunks(std::vector<SplitFrame>& frames, size_t tracks, bool fresh, bool atEnd, bool partLeft);
    // A stretch of a gap that one caption chunk fills exactly is taken as
    // that chunk; false when its structure does not decide.
    bool takeMetadataStretch(ScanBuffer& input, int64_t at, int64_t length);
    // The caption track whose one chunk fills the stretch exactly, or -1.
    int metadataStretchTrack(ScanBuffer& input, int64_t at, int64_t length) const;
    // An audio run from `from` that one caption chunk ending at `to`
    // follows: a run of a frame or two that the gap's search passed over
    // for the longer run behind the caption.
    bool audioThenCaption(ScanBuffer& input, int64_t from, int64_t to, bool mpeg, FrameChain& run);
    // A gap of a recording without sound that one caption chunk and
    // pictures too small for the chunk search fill exactly, in either
    // order: both are taken.
    bool captionBesidePictures(ScanBuffer& input, int64_t a, int64_t b);
    // One chunk of timed-metadata track `metaTrack`, as its samples.
    void emitMetadataChunk(ScanBuffer& input, int metaTrack, int64_t offset, int64_t size);
    // The frames of a run from the media data's start that fill the bytes
    // the reference's tables leave out in front of its first chunk.
    void dropUnlistedLead(int64_t a, std::vector<FrameChain>& runs) const;
    // Adds the last audio sample again; false when there is none inside the input.
    bool repeatLast(ScanBuffer& input);
    void emit(ScanBuffer& input, int64_t offset, int64_t size);
    void takeCarry(int64_t k);
    // The second thread's measures, when this interleave's gaps are AAC
    // frames that fillFrames decodes; nullptr otherwise.
    AacChainPrefetch* prefetcher(const ScanBuffer& input);

    RepairState* m_repairState;
    ScanInfo* m_scanInfo;
    std::string m_logLabel;
    AacChainConfig m_aacChain;
    GapVideo* m_gapVideo = nullptr;

    uint32_t m_videoSinceAudio = 0;  // V
    double m_carry = 0;
    uint64_t m_minFrameSize = 0;
    uint64_t m_maxFrameSize = 0;
    // The first bytes the recorder's AAC frames can begin with (none known,
    // or MPEG audio: empty). They rank resync's candidates, never refuse one.
    std::bitset<256> m_firstBytes;
    // The reference's AAC frames are digital silence: the size window is
    // the configuration's, and their chunk sizes predict nothing.
    bool m_silentReference = false;
    // The smallest frame the reference's configuration can hold: one of
    // digital silence. A gap between two pictures may hold just that one.
    int64_t m_silentFrameFloor = 0;
    // The reference (and its number of sound frames) the size range above
    // was taken from; null: take it again.
    const ReferenceInfo* m_sizeRangeOf = nullptr;
    size_t m_sizeRangeSamples = 0;
    int64_t m_mediaDataStart = -1;
    int64_t m_lastOffset = 0;
    int64_t m_lastSize = 0;  // 0: no audio sample emitted yet
    // Which sound track of the reference this state follows, and the word
    // its samples carry (-1 while the reference has only one sound track).
    int m_track = 0;
    int32_t m_word = -1;
    int64_t m_framesEmitted = 0;
    std::unique_ptr<AacChainPrefetch> m_prefetch;
    std::vector<std::unique_ptr<AudioInterleave>> m_otherTracks;
    std::vector<int64_t> m_metadataChunks;  // chunks found per timed-metadata track
    // Per one-sample track between chunks: its sample was passed in a gap.
    std::vector<bool> m_singleSamplesPassed;
    std::vector<size_t> m_splitSingles;  // the one-sample tracks of the last split, in its order
    std::vector<double> m_pcmSeconds;       // PCM emitted per sound track, in seconds
    std::vector<bool> m_pcmEnded;           // sound tracks whose last packet was met
    std::vector<int64_t> m_pcmLastPiece;    // bytes of each sound track's last whole chunk
    int64_t m_pcmChunkFrames = 0;           // the sound frames every whole chunk so far holds a multiple of
    int m_pcmChunksNoted = 0;
    std::vector<std::vector<int64_t>> m_pcmChunkSizes;  // whole chunk lengths of each sound track
    std::vector<PcmSoundProfile> m_pcmProfiles;          // what each sound track's PCM sounded like so far
    std::vector<PcmTrackTail> m_pcmTails;                // where each sound track's PCM left off
    std::vector<int64_t> m_twinChunkFrames; // frames of each twin track's last whole chunk
    // The sizes of the last frames emitted, oldest first: where two sound
    // tracks' decoders both take a frame (digital silence), what each
    // track's sound made of its frames lately tells whose it is.
    std::deque<int64_t> m_recentSizes;
};
