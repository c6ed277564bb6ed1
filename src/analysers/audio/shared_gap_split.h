#pragma once
// The gap between two video chunks of a recording with several sound tracks
// holds chunks of each of them, one after the other: ffmpeg writes one frame
// per chunk and alternates, cameras write a run of frames per track. This
// splits such a gap into frames and tells which track each frame belongs to.
// An MPEG audio track beside AAC ones follows its frames by their headers.
//
// A frame belongs to a track whose decoder configuration decodes it into a
// frame of that track's sizes, and whose next frame (or the end of the gap)
// follows it: a decoder set up for another track's channel layout rarely
// lands on a frame boundary. Where several tracks decode the same bytes (two
// tracks of equal settings), the muxers' rule decides: the next chunk belongs
// to the track whose audio is furthest behind, and holds as many frames as
// the reference's chunks of that track, or what the track still owes the
// interval. Timed-metadata chunks are told by their sizes, which the
// reference shows, and by what follows them.

#include "analysers/audio/aac_frame_chain.h"
#include "analysers/audio/mpeg_audio_frame.h"
#include "qt/qt_types.h"
#include "scan/byte_block.h"

#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

class ScanBuffer;

struct SplitTrack {
    // Timed metadata has no decoder: its chunks are found by the sizes the
    // reference's chunks of the track have (chunkSizes).
    bool metadata = false;
    std::vector<uint32_t> chunkSizes;
    Fourcc codec = 0;                // and, where it has one, by the structure of its samples
    std::vector<uint32_t> boxKeys;   // 'mebx' local key ids
    // Metadata: the track whose chunk the reference mostly writes right
    // behind this one's (its position in this list), or -1.
    int follower = -1;
    AacChainConfig config;
    // MPEG audio beside AAC: its headers give each frame's length and its
    // format tells its frames from another MPEG track's.
    bool mpeg = false;
    MpegTrackFormat mpegFormat;
    uint64_t minFrame = 0;
    uint64_t maxFrame = 0;
    // The sizes of the track's frames found last (0: unknown). A frame of
    // digital silence decodes with any track's settings; where one track's
    // sound makes frames many times another's, the size tells.
    uint64_t typicalMinFrame = 0;
    uint64_t typicalMaxFrame = 0;
    // What the top seven bits of a frame's (or metadata chunk's) first byte
    // may be (none set: anything).
    std::bitset<128> heads;
    int64_t chunkFrames = 1;  // frames the next chunk of this track is taken to hold
    // What the reference's chunks of the track hold (median; 0: unknown).
    // A recorder that writes a run of frames per chunk ends a chunk early
    // only where the recording ends.
    int64_t referenceChunkFrames = 0;
    // In a recording's first gap: where the track's first chunk stands
    // among the reference's first gap's chunks (-1: not there, or not the
    // first gap). A muxer opens every recording of one setting the same way.
    int openingRank = -1;
    int64_t toleranceFrames = 0;  // how far off that may be (a tenth of a second)
    double audioSeconds = 0;  // audio the track has so far
    double frameSeconds = 0;
    // The muxer interleaves the tracks frame by frame in time order (its
    // chunks are runs of frames no longer than another track's frame).
    bool byTime = false;
};

struct SplitFrame {
    // The track of video pictures that lie amid the sound.
    static constexpr int kPictures = -1;
    int track = 0;
    int64_t offset = 0;
    int64_t size = 0;
};

class SharedGapSplit {
public:
    explicit SharedGapSplit(std::vector<SplitTrack> tracks) : m_tracks(std::move(tracks)) {}

    // The gap runs to the end of the input: its last bytes may be a frame
    // the cut took the rest of, and the frame in front of them still counts
    // as followed.
    void setTailCut(bool cut) { m_tailCut = cut; }

    // How many bytes of whole video pictures the `n` bytes at `data` begin
    // with (0: none).
    using PictureProbe = std::function<int64_t(const uint8_t* data, int64_t n)>;
    // A still scene's pictures are a few dozen bytes, and a muxer that
    // interleaves by time puts one between two audio frames where it falls
    // due: with a probe, pictures that something follows are split off as
    // frames of track SplitFrame::kPictures (a decoder may take their first
    // bytes for a frame of sound, so they are asked first).
    void setPictures(PictureProbe probe) { m_pictures = std::move(probe); }

    // Every chunk is followed by bytes that belong to no track (a record
    // some cameras write in front of each chunk), the video chunk in front
    // of the gap too; `bytes` are their values where the reference's agree
    // (-1 elsewhere). Where they stand behind a chunk they are stepped
    // over, and counted in paddingSkipped().
    void setChunkPad(std::vector<int16_t> bytes) { m_padBytes = std::move(bytes); }
    int64_t paddingSkipped() const { return m_padSkipped; }

    // The frames of [a, b) in file order, as far as they can be followed
    // from a; `covered` is where the last one ends (a when none was found).
    std::vector<SplitFrame> split(ScanBuffer& input, int64_t a, int64_t b, int64_t& covered);
    // The same for a gap whose start is only a guess (in front of the first
    // video chunk it may hold atom headers): the frames from the first
    // position from which they reach the gap's end.
    std::vector<SplitFrame> splitGuessedStart(ScanBuffer& input, int64_t a, int64_t b, int64_t& covered);

private:
    // Track t's chain at `pos`, cut at its first frame of implausible size:
    // its first `frames` frames at least, all of them when it has fewer.
    // Decoded on first use only (opening a decoder costs more than the
    // frames it decodes here), and only as far as asked: where a track's
    // chunks are taken a frame at a time, a whole chain at every frame
    // would cost the square of its length. Asked for more, the chain's
    // decoder goes on where it stopped while it is among the last few
    // kept.
    const FrameChain& chainAt(int64_t pos, size_t t, size_t frames = kMaxFrameChainOffsets);
    // Track t's chain at `pos` as far as offset `end` (all of it when it
    // ends in front).
    const FrameChain& chainReaching(int64_t pos, size_t t, int64_t end);
    // The first `frames` frames (all when it has fewer) that a fresh decoder
    // of sound track t finds in the `n` bytes from `pos`, into `chain`;
    // false when the decoder cannot be set up.
    bool measuredChain(int64_t pos, size_t t, int32_t n, size_t frames, FrameChain& chain);
    // Frees the decoder of run r, keeping what it measured.
    void freeDecoder(size_t r);
    // How many of the chain's offsets to keep: up to the first frame that
    // is several of another sound track's frames.
    size_t firstSpanOfOtherFrames(const FrameChain& chain, size_t t);
    bool stoppedAt(int64_t pos, size_t t);
    // The lengths a chunk of metadata track t at `pos` may have, most
    // likely first: those its samples' structure shows, then the sizes of
    // the reference's chunks.
    std::vector<int64_t> metadataLengths(int64_t pos, size_t t) const;
    // The frames and caption chunks that fill the short tail from `pos` to
    // the gap's end exactly, in file order (none: nothing fills it). One
    // track's frames or chunk alone first; else up to kTailPieces runs of
    // them, one track's each (a silent frame, then a cue).
    // `order`: the tracks to try, the first that fills it wins. Sound
    // tracks interleaved by time take turns first, by `tracks`' times.
    std::vector<SplitFrame> shortTail(int64_t pos, const std::vector<size_t>& order,
                                      const std::vector<SplitTrack>& tracks);
    static constexpr int kTailPieces = 3;
    // With `turns`, the tracks are asked in their turn by those times at
    // each run, and a sound track interleaved by time stops at the end of
    // its turn (silent frames decode with either track's settings: only the
    // times tell whose they are); without, in `order`.
    bool tailPieces(int64_t pos, int pieces, const std::vector<size_t>& order, const std::vector<SplitTrack>* turns,
                    std::vector<SplitFrame>& out);
    // The sound tracks, the one furthest behind in time first (a frame of
    // digital silence decodes with any track's settings: only whose turn
    // it is tells its track), then the metadata tracks; but `going` (-1:
    // none), a track whose chunk is under way, first of all.
    static std::vector<size_t> tailOrder(const std::vector<SplitTrack>& tracks, int going = -1);
    // Whether track x goes before track y in that order.
    static bool comesFirst(const std::vector<SplitTrack>& tracks, int going, size_t x, size_t y);
    // Whether the chunk of track t that holds `frames` frames so far goes on
    // at the next frame its decoder takes: a recorder that writes runs of
    // frames closes a chunk at the reference's length, not where another
    // track falls behind in time.
    static bool chunkGoesOn(const SplitTrack& track, int64_t frames);
    // The sound track whose chunk opens the reference's first gap (-1: none).
    static int openingTrack(const std::vector<SplitTrack>& tracks);
    // The piece of track t at `pos`: where its frames may end (every frame
    // boundary of its chain up to the gap's end) or its metadata chunk.
    std::vector<int64_t> pieceEnds(int64_t pos, size_t t);
    // How surely something a track writes starts at `end`: kStrong where a
    // frame or chunk does (or the gap ends there), kWeak where only a tail
    // too short to tell is left; `depth` more metadata chunks may stand in
    // between.
    enum Follow : int { kNone = 0, kWeak = 1, kStrong = 2, kWithFollower = 3 };
    // A camera writes a descriptor chunk in front of each other chunk, and
    // a second of telemetry may close a gap: the frames in front of them
    // are followed across that many metadata chunks.
    static constexpr int kFollowDepth = 4;
    int followed(int64_t end, int depth = kFollowDepth);
    int followedUncached(int64_t end, int depth);
    // The bytes of the pictures at `pos` when something follows them or the
    // gap ends with them (`depth` as for followed); 0 otherwise.
    int64_t picturesFollowed(int64_t pos, int depth = kFollowDepth);
    // The best length for a chunk of metadata track t at `pos` and how it
    // is followed (kWithFollower: the chunk the reference writes behind
    // this track's starts at its end); 0 when there is none.
    int64_t metadataChoice(int64_t pos, size_t t, int& score);
    void load(ScanBuffer& input, int64_t a, int64_t b);
    // How many frames track t may write before another sound track is
    // behind it, for a track whose frames go in time order.
    static int64_t framesInTurn(const std::vector<SplitTrack>& tracks, size_t t);
    // The one sound track whose last frames come near `size` (-1: none, or
    // several).
    int sizeOwner(int64_t size) const;
    // Where the sizes of the first k frames of track t's chain say its chunk
    // ends: in front of the first frame only another track's could be, or,
    // where all k are frames only this track's could be, behind them when
    // the chain reaches the gap's end or `ended` there (its decoder took no
    // more); -1 when they do not say.
    int64_t endNamedBySizes(const FrameChain& chain, int64_t k, size_t t, bool ended) const;
    // The frames from `pos` on, as far as they can be followed; the tracks'
    // times and chunk counts advance with them. `opening`: `pos` is where
    // the gap's chunks begin (not a place behind damage), so the track that
    // opens the reference's first gap goes first.
    std::vector<SplitFrame> splitFrom(int64_t pos, std::vector<SplitTrack>& tracks, int64_t& covered,
                                      bool opening = false);
    // The frames from the first position at or after `from` (within
    // kRestartSpan) from which they reach the end of the gap; none when
    // there is no such position.
    std::vector<SplitFrame> restart(int64_t from, std::vector<SplitTrack>& tracks, int64_t& covered,
                                    bool opening = false);

    // Do the chunk padding's bytes stand at `pos`?
    bool padAt(int64_t pos) const;
    // The padding behind the gap's last chunk is no part of the gap's
    // chunks: the gap ends in front of it. Its length (0: none there).
    int64_t trimTrailingPad();
    // Where the next chunk begins behind one that ends at `end`.
    int64_t behindPad(int64_t end) const { return padAt(end) ? end + int64_t(m_padBytes.size()) : end; }

    std::vector<SplitTrack> m_tracks;
    bool m_tailCut = false;
    std::vector<int16_t> m_padBytes;
    int64_t m_padSkipped = 0;  // by the last splitFrom(), or by split() in all
    PictureProbe m_pictures;
    int64_t m_gapEnd = 0;  // b: the bytes read may stop short of it
    ByteBlock m_block;
    const uint8_t* m_data = nullptr;
    int64_t m_a = 0;
    int64_t m_b = 0;
    struct Chains {
        std::vector<FrameChain> chain;
        // The frames the chain was decoded for (0: not yet), and whether it
        // holds all of its frames.
        std::vector<size_t> decodedFor;
        std::vector<bool> whole;
        // The chain ended on a frame its track does not take, well before
        // the bytes it was given ran out.
        std::vector<bool> stopped;
    };
    std::map<int64_t, Chains> m_chains;
    // What one decoder of a sound track measured from where it began. A
    // frame's length follows from its own bits, and every frame a decoder
    // takes carries the channel elements of its first, so a fresh decoder
    // set on one of the run's frame boundaries takes the very frames the run
    // took behind it, given bytes that end where the run's do. A chain that
    // starts on such a boundary goes on from the run instead of decoding
    // them again: a gap interleaved a frame at a time asks for a chain at
    // every frame, which would cost the square of the gap's frames.
    struct DecodedRun {
        int64_t dataEnd = 0;
        std::unique_ptr<AacChainDecoder> decoder;  // while it is kept
        FrameChain offsets;  // the decoder's chain, once it is freed
        bool ended = false;  // (once it is freed) no frame follows the last
    };
    std::vector<DecodedRun> m_runs;
    // (track, data end, frame boundary) -> (run, index of the boundary in it)
    std::map<std::tuple<size_t, int64_t, int64_t>, std::pair<size_t, size_t>> m_runBoundaries;
    // The runs whose decoders are kept, the oldest first: a decoder holds
    // buffers for every channel, and a run is mostly taken on soon after it
    // was begun or not at all.
    std::deque<size_t> m_keptDecoders;
    std::map<std::pair<int64_t, int>, int> m_follows;  // followed(end, depth), as far as asked
};
