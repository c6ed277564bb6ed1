#include "analysers/audio/pcm_gap_layout.h"

#include "analysers/audio/metadata_structure.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// What taking a stretch for a metadata chunk costs: a chunk must show more
// than this (caption text, boxes) to win over sound that fills the same bytes.
constexpr int64_t kChunkCost = 8;
// A layout of fewer pieces is preferred where all else is equal.
constexpr int64_t kPieceCost = 1;
// Positions followed in one gap at most; no recorder's layout needs more.
constexpr size_t kMaxStates = 4096;
constexpr int64_t kUnreached = INT64_MIN / 4;

}  // namespace

PcmGapLayout::PcmGapLayout(std::vector<PcmGapMetadataTrack> tracks, int64_t frame, int64_t granule)
    : m_tracks(std::move(tracks)), m_frame(std::max<int64_t>(frame, 1)), m_granule(granule) {}

std::vector<PcmGapLayout::Chunk> PcmGapLayout::chunksAt(const uint8_t* data, int64_t n, int64_t pos) const {
    std::vector<Chunk> chunks;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        const PcmGapMetadataTrack& track = m_tracks[t];
        const int64_t avail = std::min(n - pos, track.longestChunk);
        if (avail <= 0)
            continue;
        const std::vector<int64_t> ends = metadataUnitEnds(track.codec, track.boxKeys, data + pos, avail);
        // A caption's worth is its text (each sample opens with a two-byte
        // length); boxes of the track's own keys are worth their bytes.
        const bool text = metadataStructureDecides(track.codec);
        for (size_t i = 0; i < ends.size(); ++i) {
            const int64_t worth = text ? ends[i] - 2 * int64_t(i + 1) : ends[i];
            // Beyond its first sample, a chunk of nothing but empty samples
            // is as likely silence.
            if (i == 0 || worth > 0)
                chunks.push_back({int(t), ends[i], worth});
        }
    }
    return chunks;
}

std::vector<PcmGapPiece> PcmGapLayout::split(const uint8_t* data, int64_t n, bool atEnd) const {
    if (n <= 0)
        return {};
    if (m_tracks.empty()) {
        const int64_t sound = atEnd ? n - n % m_frame : n;
        if (sound <= 0 || sound % m_frame != 0)
            return {};
        return {PcmGapPiece{0, sound, -1}};
    }
    const int64_t longest = longestChunk();
    // The chunks that run to the end: the gap's last piece, and where the
    // recording ended, what the sound in front of it is told by.
    std::vector<Chunk> tails;
    bool tailsFound = false;
    auto endingChunks = [&]() -> const std::vector<Chunk>& {
        if (!tailsFound)
            tails = chunksToEnd(data, n);
        tailsFound = true;
        return tails;
    };
    // Only packets larger than any metadata chunk tell a chunk by the bytes
    // it leaves: smaller ones would let any stretch pass for one.
    // A packet known from a few chunks' sizes only may be a multiple of
    // the muxer's: the whole numbers of packets that divide it are tried
    // next, the largest first.
    if (m_granule > m_frame && m_granule % m_frame == 0 && m_granule > longest) {
        const std::vector<int64_t> closing = atEnd ? closingChunkStarts(endingChunks(), n) : std::vector<int64_t>();
        const int64_t frames = m_granule / m_frame;
        for (int64_t parts = 1; parts <= frames && m_granule / parts > longest; ++parts) {
            if (frames % parts != 0)
                continue;
            std::vector<PcmGapPiece> pieces = splitByPackets(data, n, atEnd, m_granule / parts, closing);
            if (!pieces.empty())
                return pieces;
        }
    }
    return splitAtEnds(data, n, atEnd, endingChunks());
}

std::vector<PcmGapPiece> PcmGapLayout::splitByPackets(const uint8_t* data, int64_t n, bool atEnd, int64_t granule,
                                                       const std::vector<int64_t>& closing) const {
    // Every layout in order of position: a stretch of sound runs whole
    // packets up to the gap's end or to where a metadata chunk begins, and
    // a metadata chunk runs to one of its samples' ends. Each position is
    // reached with the best score, once behind sound and once behind
    // metadata (sound never follows sound: that is one longer stretch).
    struct State {
        int64_t score = kUnreached;
        int64_t from = -1;
        bool fromSound = false;
        int kind = -1;  // the piece that ends here: -1 sound, else the metadata track
    };
    std::map<std::pair<int64_t, bool>, State> states;  // (position, behind sound)
    std::map<int64_t, std::vector<Chunk>> chunkCache;
    auto chunks = [&](int64_t pos) -> const std::vector<Chunk>& {
        auto it = chunkCache.find(pos);
        if (it == chunkCache.end())
            it = chunkCache.emplace(pos, chunksAt(data, n, pos)).first;
        return it->second;
    };
    // Quiet sound reads as an empty caption at nearly every other byte: a
    // chunk that shows nothing is taken only at the gap's ends, where
    // recorders put their metadata, and only what shows something (text,
    // boxes) may stand between packets.
    auto allowed = [&](int64_t pos, const Chunk& c) { return c.worth > 0 || pos == 0 || pos + c.length == n; };
    auto opens = [&](int64_t pos) {
        const std::vector<Chunk>& at = chunks(pos);
        return std::any_of(at.begin(), at.end(), [&](const Chunk& c) { return allowed(pos, c); });
    };
    auto reach = [&](int64_t pos, bool sound, int64_t score, int64_t from, bool fromSound, int kind) {
        State& s = states[{pos, sound}];
        if (score > s.score)
            s = State{score, from, fromSound, kind};
    };
    states[{0, false}] = State{0, -1, false, -1};
    // A cut input's last piece of sound stops on the frame grid, a frame
    // or less short of the end.
    const int64_t done = atEnd ? n - (m_frame - 1) : n;
    std::pair<int64_t, bool> best{-1, false};
    for (auto it = states.begin(); it != states.end(); ++it) {
        if (states.size() > kMaxStates)
            return {};
        const auto [pos, behindSound] = it->first;
        const int64_t score = it->second.score;
        if (pos >= done) {
            // Of layouts that show as much, the one that fills the most.
            if (best.first < 0 || score >= states[best].score)
                best = it->first;
            continue;
        }
        for (const Chunk& c : chunks(pos))
            if (allowed(pos, c))
                reach(pos + c.length, false, score + c.worth - kChunkCost, pos, behindSound, c.track);
        if (behindSound)
            continue;
        for (int64_t end = pos + granule; end <= n; end += granule)
            if (end == n || opens(end))
                reach(end, true, score - kPieceCost, pos, false, -1);
        if (atEnd && (n - pos) % granule != 0 && n - pos >= m_frame)
            reach(pos + (n - pos) / m_frame * m_frame, true, score - kPieceCost, pos, false, -1);
        // Where the recording ended, its tracks' last packets are short:
        // the sound in front of a closing chunk that shows something
        // (caption text, boxes) ends on the frame grid, off the packets'.
        for (int64_t start : closing)
            if (start > pos && (start - pos) % m_frame == 0 && (start - pos) % granule != 0)
                reach(start, true, score - kPieceCost, pos, false, -1);
    }
    if (best.first < 0)
        return {};
    std::vector<PcmGapPiece> pieces;
    for (std::pair<int64_t, bool> at = best; at.first > 0;) {
        const State& s = states[at];
        pieces.push_back({s.from, at.first - s.from, s.kind});
        at = {s.from, s.fromSound};
    }
    std::reverse(pieces.begin(), pieces.end());
    return pieces;
}

int64_t PcmGapLayout::longestChunk() const {
    int64_t longest = 0;
    for (const PcmGapMetadataTrack& t : m_tracks)
        longest = std::max(longest, t.longestChunk);
    return longest;
}

std::vector<PcmGapLayout::Chunk> PcmGapLayout::chunksToEnd(const uint8_t* data, int64_t n) const {
    std::vector<Chunk> tails;
    const int64_t longest = longestChunk();
    for (int64_t length = 1; length <= std::min(n, longest); ++length)
        for (const Chunk& c : chunksAt(data, n, n - length))
            if (c.length == length)
                tails.push_back(c);
    return tails;
}

std::vector<int64_t> PcmGapLayout::closingChunkStarts(const std::vector<Chunk>& tails, int64_t n) const {
    // Quiet sound in front of a chunk reads as empty samples: a longer
    // chunk counts only when it shows more than every shorter one, or, on
    // a track that marks its pauses, by the one pause in front of its cue.
    constexpr int64_t kEmptySample = 2;
    std::vector<int64_t> starts;
    int64_t shown = 0;
    bool paused = false;
    for (const Chunk& c : tails) {
        if (c.length >= n)
            continue;  // nothing in front of it
        if (c.worth > shown) {
            starts.push_back(n - c.length);
            shown = c.worth;
            paused = false;
        } else if (m_tracks[size_t(c.track)].pauses && !paused && c.worth == shown && !starts.empty() &&
                   starts.back() - (n - c.length) == kEmptySample) {
            starts.back() = n - c.length;
            paused = true;
        }
    }
    return starts;
}

std::vector<PcmGapPiece> PcmGapLayout::splitAtEnds(const uint8_t* data, int64_t n, bool atEnd,
                                                    const std::vector<Chunk>& endingChunks) const {
    // A metadata chunk at the gap's start or none, one at its end or none,
    // and the sound between them on its frame grid.
    const Chunk none{-1, 0, 0};
    std::vector<Chunk> heads{none};
    for (const Chunk& c : chunksAt(data, n, 0))
        heads.push_back(c);
    std::vector<Chunk> tails{none};
    tails.insert(tails.end(), endingChunks.begin(), endingChunks.end());
    int64_t bestScore = kUnreached;
    std::vector<PcmGapPiece> best;
    for (const Chunk& head : heads) {
        for (const Chunk& tail : tails) {
            const int64_t from = head.length;
            int64_t to = n - tail.length;
            if (to < from)
                continue;
            if ((to - from) % m_frame != 0) {
                // A cut input: the sound stops on its frame grid.
                if (!atEnd || tail.track >= 0)
                    continue;
                to -= (to - from) % m_frame;
            }
            int64_t score = 0;
            std::vector<PcmGapPiece> pieces;
            if (head.track >= 0) {
                score += head.worth - kChunkCost;
                pieces.push_back({0, head.length, head.track});
            }
            if (to > from) {
                score -= kPieceCost;
                pieces.push_back({from, to - from, -1});
            }
            if (tail.track >= 0) {
                score += tail.worth - kChunkCost;
                pieces.push_back({n - tail.length, tail.length, tail.track});
            }
            if (!pieces.empty() && score > bestScore) {
                bestScore = score;
                best = std::move(pieces);
            }
        }
    }
    return best;
}
