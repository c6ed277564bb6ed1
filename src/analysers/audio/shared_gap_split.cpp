#include "analysers/audio/shared_gap_split.h"

#include "analysers/audio/metadata_structure.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace {

// A gap's tail shorter than this holds no frame worth finding.
constexpr int64_t kMinTail = 20;
// A chain is followed for the frames a chunk may hold and a few more; longer
// chains would only cost decoding.
constexpr int64_t kChainSpareFrames = 1;
// Frames a chunk may hold beyond what it is taken to hold before the chain's
// own end is trusted over the count.
constexpr int64_t kChunkSlackFrames = 2;
// How far beyond damage (or into a gap of guessed start) the frames are
// looked for again.
constexpr int64_t kRestartSpan = 64 * 1024;
// A frame more than this many times the largest before it (after a few
// ordinary ones) may be several frames of another track.
constexpr uint64_t kOutsizedFrameFactor = 3;
constexpr size_t kPlainFramesBeforeCheck = 3;
// How far a frame's size may stray from the track's last frames: an
// encoder's frames vary with the sound by about this much.
constexpr uint64_t kTypicalSizeFactor = 2;
// Decoders of unfinished chains kept at once: enough for the chains begun
// while the frames a chunk may end at are tried, for every track.
constexpr size_t kKeptDecoders = 32;

// Sound times are sums of frame durations of different rates (two frames of
// 1024 at 48 kHz against four at 96 kHz): compared on a microsecond grid so
// that rounding does not break a tie the muxer saw.
int64_t microseconds(double seconds) { return std::llround(seconds * 1e6); }

}  // namespace

const FrameChain& SharedGapSplit::chainAt(int64_t pos, size_t t, size_t frames) {
    Chains& at = m_chains[pos];
    if (at.chain.empty()) {
        at.chain.resize(m_tracks.size());
        at.decodedFor.assign(m_tracks.size(), 0);
        at.whole.assign(m_tracks.size(), false);
        at.stopped.assign(m_tracks.size(), false);
    }
    FrameChain& chain = at.chain[t];
    if (at.whole[t] || at.decodedFor[t] >= frames)
        return chain;
    const SplitTrack& track = m_tracks[t];
    if (track.metadata) {
        at.whole[t] = true;
        return chain;
    }
    // Asked again, it decodes at least twice as far: a chain followed
    // further and further costs a few times its length in all.
    const size_t cap = std::min(std::max(frames, 2 * at.decodedFor[t]), kMaxFrameChainOffsets);
    at.decodedFor[t] = cap;
    const int64_t limit = (track.chunkFrames + kChainSpareFrames) * int64_t(std::max<uint64_t>(track.maxFrame, 1));
    const int64_t n = std::min(m_b - pos, limit);
    if (n <= 0) {
        chain.clear();
        at.whole[t] = true;
        return chain;
    }
    if (track.mpeg) {
        mpegTrackChain(m_data + (pos - m_a), int32_t(n), pos, track.mpegFormat, cap + 1, chain);
    } else if (!measuredChain(pos, t, int32_t(n), cap, chain)) {
        chain.clear();
        at.whole[t] = true;
        return chain;
    }
    const size_t decoded = chain.size();
    size_t keep = 1;
    while (keep < chain.size()) {
        const uint64_t size = uint64_t(chain[keep] - chain[keep - 1]);
        if (size < track.minFrame || size > track.maxFrame)
            break;
        if (track.heads.any() && !track.heads.test(m_data[chain[keep - 1] - m_a] >> 1))
            break;
        ++keep;
    }
    chain.resize(keep);
    keep = firstSpanOfOtherFrames(chain, t);
    chain.resize(keep);
    // A chain the cap stopped may go on; one that ended or was cut is whole.
    at.whole[t] = decoded <= cap || chain.size() < decoded;
    at.stopped[t] = at.whole[t] && pos + n - chain.back() > int64_t(track.maxFrame);
    return chain;
}

bool SharedGapSplit::measuredChain(int64_t pos, size_t t, int32_t n, size_t frames, FrameChain& chain) {
    const int64_t dataEnd = pos + n;
    size_t r = m_runs.size(), first = 0;
    const auto known = m_runBoundaries.find({t, dataEnd, pos});
    if (known != m_runBoundaries.end()) {
        const DecodedRun& run = m_runs[known->second.first];
        const size_t index = known->second.second;
        const FrameChain& offsets = run.decoder ? run.decoder->chain() : run.offsets;
        const bool ended = run.decoder ? run.decoder->ended() : run.ended;
        const size_t wanted = index + frames + 1;
        // A fresh decoder takes its first frame whatever the byte it opens
        // with, so only a run that took the frame at `pos` (or began there)
        // tells what one would take from there.
        const bool taken = index + 1 < offsets.size() || index == 0;
        const bool served = ended || wanted <= offsets.size();
        const bool extendable = run.decoder && wanted <= kMaxFrameChainOffsets;
        if (taken && (served || extendable)) {
            r = known->second.first;
            first = index;
        }
    }
    const bool fresh = r == m_runs.size();
    if (fresh) {
        DecodedRun run;
        run.dataEnd = dataEnd;
        run.decoder = std::make_unique<AacChainDecoder>(m_tracks[t].config, m_data + (pos - m_a), n, pos);
        m_runs.push_back(std::move(run));
        m_keptDecoders.push_back(r);
        if (m_keptDecoders.size() > kKeptDecoders)
            freeDecoder(m_keptDecoders.front());
    }
    DecodedRun& run = m_runs[r];
    if (run.decoder) {
        const size_t before = fresh ? 0 : run.decoder->chain().size();
        if (!run.decoder->extend(first + frames)) {
            freeDecoder(r);
            return false;
        }
        const FrameChain& offsets = run.decoder->chain();
        for (size_t i = before; i < offsets.size(); ++i)
            m_runBoundaries[{t, dataEnd, offsets[i]}] = {r, i};
        if (run.decoder->ended())
            freeDecoder(r);
    }
    const FrameChain& offsets = run.decoder ? run.decoder->chain() : run.offsets;
    const size_t last = std::min(offsets.size(), first + frames + 1);
    chain.assign(offsets.begin() + std::ptrdiff_t(first), offsets.begin() + std::ptrdiff_t(last));
    return true;
}

void SharedGapSplit::freeDecoder(size_t r) {
    DecodedRun& run = m_runs[r];
    if (!run.decoder)
        return;
    run.offsets = run.decoder->chain();
    run.ended = run.decoder->ended();
    run.decoder.reset();
    const auto kept = std::find(m_keptDecoders.begin(), m_keptDecoders.end(), r);
    if (kept != m_keptDecoders.end())
        m_keptDecoders.erase(kept);
}

const FrameChain& SharedGapSplit::chainReaching(int64_t pos, size_t t, int64_t end) {
    constexpr size_t kFirstFrames = 8;
    for (size_t frames = kFirstFrames;; frames *= 2) {
        const FrameChain& chain = chainAt(pos, t, frames);
        if (m_chains[pos].whole[t] || (!chain.empty() && chain.back() >= end))
            return chain;
    }
}

size_t SharedGapSplit::firstSpanOfOtherFrames(const FrameChain& chain, size_t t) {
    // A decoder set up for a mono track can take two frames of a 5.1 track
    // as one of its own: its single channel element reads like the other
    // track's first. A frame far larger than the ones before it is checked:
    // where another sound track's frames start there and end exactly where
    // it ends, they are what it is, and this track's run stops in front.
    uint64_t largest = 0;
    for (size_t i = 1; i < chain.size(); ++i) {
        const int64_t start = chain[i - 1], end = chain[i];
        const uint64_t size = uint64_t(end - start);
        if (i > kPlainFramesBeforeCheck && size > kOutsizedFrameFactor * largest) {
            for (size_t u = 0; u < m_tracks.size(); ++u) {
                if (u == t || m_tracks[u].metadata)
                    continue;
                const FrameChain& other = chainReaching(start, u, end);
                const auto boundary = std::find(other.begin(), other.end(), end);
                if (boundary != other.end() && boundary - other.begin() >= 2)
                    return i;
            }
        }
        largest = std::max(largest, size);
    }
    return chain.size();
}

bool SharedGapSplit::stoppedAt(int64_t pos, size_t t) {
    chainAt(pos, t);
    return m_chains[pos].stopped[t];
}

std::vector<int64_t> SharedGapSplit::metadataLengths(int64_t pos, size_t t) const {
    const SplitTrack& track = m_tracks[t];
    if (pos >= m_b || (track.heads.any() && !track.heads.test(m_data[pos - m_a] >> 1)))
        return {};
    // The largest first: a smaller one would leave part of the chunk to be
    // taken for something else.
    std::vector<int64_t> lengths = metadataUnitEnds(track.codec, track.boxKeys, m_data + (pos - m_a), m_b - pos);
    std::reverse(lengths.begin(), lengths.end());
    if (metadataStructureDecides(track.codec))
        return lengths;
    if (lengths.empty() && metadataStructureOpens(track.codec, track.boxKeys))
        return lengths;
    // A chunk holds at least its first sample.
    const int64_t firstUnit = lengths.empty() ? 0 : lengths.back();
    for (auto size = track.chunkSizes.rbegin(); size != track.chunkSizes.rend(); ++size)
        if (int64_t(*size) >= std::max<int64_t>(firstUnit, 1) && pos + int64_t(*size) <= m_b &&
            std::find(lengths.begin(), lengths.end(), int64_t(*size)) == lengths.end())
            lengths.push_back(int64_t(*size));
    return lengths;
}

std::vector<int64_t> SharedGapSplit::pieceEnds(int64_t pos, size_t t) {
    if (m_tracks[t].metadata) {
        std::vector<int64_t> ends;
        for (int64_t length : metadataLengths(pos, t))
            ends.push_back(pos + length);
        return ends;
    }
    const FrameChain& chain = chainReaching(pos, t, m_b);
    std::vector<int64_t> ends;
    for (size_t f = 1; f < chain.size() && chain[f] <= m_b; ++f)
        ends.push_back(chain[f]);
    return ends;
}

bool SharedGapSplit::comesFirst(const std::vector<SplitTrack>& tracks, int going, size_t x, size_t y) {
    if ((int(x) == going) != (int(y) == going))
        return int(x) == going;
    return microseconds(tracks[x].audioSeconds) < microseconds(tracks[y].audioSeconds);
}

std::vector<size_t> SharedGapSplit::tailOrder(const std::vector<SplitTrack>& tracks, int going) {
    std::vector<size_t> order;
    for (size_t t = 0; t < tracks.size(); ++t)
        if (!tracks[t].metadata)
            order.push_back(t);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t x, size_t y) { return comesFirst(tracks, going, x, y); });
    for (size_t t = 0; t < tracks.size(); ++t)
        if (tracks[t].metadata)
            order.push_back(t);
    return order;
}

std::vector<SplitFrame> SharedGapSplit::shortTail(int64_t pos, const std::vector<size_t>& order,
                                                  const std::vector<SplitTrack>& tracks) {
    std::vector<SplitFrame> pieces;
    const bool turns =
        std::any_of(tracks.begin(), tracks.end(), [](const SplitTrack& t) { return t.byTime && !t.metadata; });
    if (turns && tailPieces(pos, kTailPieces, order, &tracks, pieces))
        return pieces;
    pieces.clear();
    for (size_t t : order) {
        if (!m_tracks[t].metadata) {
            const FrameChain& chain = chainReaching(pos, t, m_b);
            const auto last = chain.empty() ? chain.end() : std::find(chain.begin() + 1, chain.end(), m_b);
            if (last != chain.end()) {
                for (auto f = chain.begin(); f != last; ++f)
                    pieces.push_back(SplitFrame{int(t), *f, *(f + 1) - *f});
                return pieces;
            }
            continue;
        }
        // A metadata chunk that its structure fills exactly, or of a size
        // the reference's chunks have (a GoPro descriptor is 16 bytes).
        const std::vector<int64_t> lengths = metadataLengths(pos, t);
        if (std::find(lengths.begin(), lengths.end(), m_b - pos) != lengths.end())
            return {SplitFrame{int(t), pos, m_b - pos}};
    }
    // Two chunks of different tracks, each a few bytes: a frame of digital
    // silence in front of or behind a caption cue.
    tailPieces(pos, kTailPieces, order, nullptr, pieces);
    return pieces;
}

bool SharedGapSplit::tailPieces(int64_t pos, int pieces, const std::vector<size_t>& order,
                                const std::vector<SplitTrack>* turns, std::vector<SplitFrame>& out) {
    if (pos == m_b)
        return true;
    if (pieces <= 0)
        return false;
    std::vector<SplitTrack> after;
    for (size_t t : turns ? tailOrder(*turns) : order) {
        std::vector<int64_t> ends = pieceEnds(pos, t);
        const bool sound = !m_tracks[t].metadata;
        if (turns && sound && (*turns)[t].byTime)
            ends.resize(std::min(ends.size(), size_t(framesInTurn(*turns, t))));
        for (size_t e = ends.size(); e-- > 0;) {
            if (turns) {
                after = *turns;
                if (sound)
                    after[t].audioSeconds += double(e + 1) * after[t].frameSeconds;
            }
            std::vector<SplitFrame> rest;
            if (ends[e] > m_b || !tailPieces(ends[e], pieces - 1, order, turns ? &after : nullptr, rest))
                continue;
            if (!sound) {
                out.push_back(SplitFrame{int(t), pos, ends[e] - pos});
            } else {
                const FrameChain& chain = chainReaching(pos, t, m_b);
                for (size_t f = 0; f <= e; ++f)
                    out.push_back(SplitFrame{int(t), chain[f], chain[f + 1] - chain[f]});
            }
            out.insert(out.end(), rest.begin(), rest.end());
            return true;
        }
    }
    return false;
}

int SharedGapSplit::followed(int64_t end, int depth) {
    const auto known = m_follows.find({end, depth});
    if (known != m_follows.end())
        return known->second;
    const int level = followedUncached(end, depth);
    m_follows[{end, depth}] = level;
    return level;
}

bool SharedGapSplit::padAt(int64_t pos) const {
    const int64_t n = int64_t(m_padBytes.size());
    if (n == 0 || pos < m_a || m_b - pos < n)
        return false;
    for (int64_t i = 0; i < n; ++i)
        if (m_padBytes[size_t(i)] >= 0 && m_data[pos - m_a + i] != m_padBytes[size_t(i)])
            return false;
    return true;
}

int SharedGapSplit::followedUncached(int64_t end, int depth) {
    end = behindPad(end);
    if (end == m_b)
        return kStrong;
    if (m_b - end < kMinTail) {
        return shortTail(end, tailOrder(m_tracks), m_tracks).empty() ? kWeak : kStrong;
    }
    int best = kNone;
    if (m_tailCut && m_b == m_gapEnd)
        for (const SplitTrack& t : m_tracks)
            if (!t.metadata && m_b - end < int64_t(t.maxFrame))
                best = kWeak;
    for (size_t t = 0; t < m_tracks.size(); ++t)
        if (!m_tracks[t].metadata && frameCount(chainAt(end, t, 1)) > 0)
            return kStrong;
    if (depth <= 0)
        return best;
    if (picturesFollowed(end, depth - 1) > 0)
        return kStrong;
    for (size_t t = 0; t < m_tracks.size(); ++t)
        if (m_tracks[t].metadata)
            for (int64_t length : metadataLengths(end, t)) {
                best = std::max(best, std::min<int>(followed(end + length, depth - 1), kStrong));
                if (best == kStrong)
                    return best;
            }
    return best;
}

int64_t SharedGapSplit::picturesFollowed(int64_t pos, int depth) {
    if (!m_pictures)
        return 0;
    const int64_t length = m_pictures(m_data + (pos - m_a), m_b - pos);
    return length > 0 && pos + length <= m_b && followed(pos + length, depth) == kStrong ? length : 0;
}

int64_t SharedGapSplit::metadataChoice(int64_t pos, size_t t, int& score) {
    const SplitTrack& track = m_tracks[t];
    int64_t chosen = 0;
    score = kNone;
    for (int64_t length : metadataLengths(pos, t)) {
        const int64_t end = pos + length;
        int level = followed(end);
        if (level == kNone)
            continue;
        if (track.follower >= 0 && level == kStrong)
            for (int64_t next : metadataLengths(end, size_t(track.follower)))
                if (followed(end + next) == kStrong) {
                    level = kWithFollower;
                    break;
                }
        if (level > score) {
            score = level;
            chosen = length;
        }
        // Only the follower's chunk behind it can make a shorter one better.
        if (score == kWithFollower || (score == kStrong && track.follower < 0))
            break;
    }
    return chosen;
}

void SharedGapSplit::load(ScanBuffer& input, int64_t a, int64_t b) {
    m_block = input.readBlock(a, int32_t(std::clamp<int64_t>(b - a, 0, kMaxFrameChainRead)));
    m_data = m_block.data();
    m_a = a;
    m_b = a + m_block.length();
    m_gapEnd = b;
    m_chains.clear();
    m_runs.clear();
    m_runBoundaries.clear();
    m_keptDecoders.clear();
    m_follows.clear();
}

std::vector<SplitFrame> SharedGapSplit::split(ScanBuffer& input, int64_t a, int64_t b, int64_t& covered) {
    covered = a;
    if (b <= a || m_tracks.empty())
        return {};
    load(input, a, b);
    const int64_t trailing = trimTrailingPad();
    std::vector<SplitTrack> tracks = m_tracks;
    std::vector<SplitFrame> frames = splitFrom(behindPad(a), tracks, covered, true);
    int64_t padding = frames.empty() ? 0 : m_padSkipped + (behindPad(a) - a) + trailing;
    // Damage inside the gap stops the frames; behind it they go on from
    // the first position whose frames reach the gap's end.
    if (m_b - covered >= kMinTail) {
        int64_t end = covered;
        std::vector<SplitFrame> rest = restart(covered + 1, tracks, end);
        if (!rest.empty()) {
            frames.insert(frames.end(), rest.begin(), rest.end());
            covered = end;
            padding += m_padSkipped + (frames.size() == rest.size() ? trailing : 0);
        }
    }
    if (covered == m_b)
        covered += trailing;
    m_padSkipped = padding;
    return frames;
}

std::vector<SplitFrame> SharedGapSplit::splitGuessedStart(ScanBuffer& input, int64_t a, int64_t b,
                                                          int64_t& covered) {
    covered = a;
    if (b - a < kMinTail || m_tracks.empty())
        return {};
    load(input, a, b);
    const int64_t trailing = trimTrailingPad();
    std::vector<SplitTrack> tracks = m_tracks;
    std::vector<SplitFrame> frames = restart(a, tracks, covered, true);
    if (!frames.empty()) {
        m_padSkipped += trailing;
        covered += covered == m_b ? trailing : 0;
    }
    return frames;
}

int64_t SharedGapSplit::trimTrailingPad() {
    m_padSkipped = 0;
    const int64_t n = int64_t(m_padBytes.size());
    if (n == 0 || m_b < m_gapEnd || !padAt(m_b - n))
        return 0;
    m_b -= n;
    return n;
}

std::vector<SplitFrame> SharedGapSplit::restart(int64_t from, std::vector<SplitTrack>& tracks, int64_t& covered,
                                               bool opening) {
    std::bitset<128> heads;
    for (const SplitTrack& t : tracks)
        heads |= t.heads;
    for (int64_t pos = from; m_b - pos >= kMinTail && pos - from < kRestartSpan; ++pos) {
        if (heads.any() && !heads.test(m_data[pos - m_a] >> 1))
            continue;
        std::vector<SplitTrack> attempt = tracks;
        int64_t end = pos;
        std::vector<SplitFrame> frames = splitFrom(pos, attempt, end, opening);
        if (frames.size() >= 2 && m_b - end < kMinTail) {
            covered = end;
            tracks = attempt;
            return frames;
        }
    }
    return {};
}

int SharedGapSplit::openingTrack(const std::vector<SplitTrack>& tracks) {
    int opener = -1;
    for (size_t t = 0; t < tracks.size(); ++t)
        if (!tracks[t].metadata && tracks[t].openingRank >= 0 &&
            (opener < 0 || tracks[t].openingRank < tracks[size_t(opener)].openingRank))
            opener = int(t);
    return opener;
}

bool SharedGapSplit::chunkGoesOn(const SplitTrack& track, int64_t frames) {
    return !track.metadata && !track.byTime && frames + track.toleranceFrames < track.referenceChunkFrames;
}

int64_t SharedGapSplit::framesInTurn(const std::vector<SplitTrack>& tracks, size_t t) {
    const SplitTrack& track = tracks[t];
    if (!track.byTime)
        return kMaxFrameChainOffsets;
    // The muxer writes the frame of the track furthest behind next: this
    // track's run stops where another sound track is behind it. A silent
    // frame of the other track decodes with this track's settings too, so
    // only the times tell it is not this track's.
    int64_t frames = 1;
    for (;; ++frames) {
        const int64_t at = microseconds(track.audioSeconds + double(frames) * track.frameSeconds);
        for (size_t u = 0; u < tracks.size(); ++u) {
            if (u == t || tracks[u].metadata)
                continue;
            const int64_t other = microseconds(tracks[u].audioSeconds);
            if (other < at || (other == at && u < t))
                return frames;
        }
        if (size_t(frames) >= kMaxFrameChainOffsets)
            return frames;
    }
}

int SharedGapSplit::sizeOwner(int64_t size) const {
    int owner = -1;
    for (size_t t = 0; t < m_tracks.size(); ++t) {
        const SplitTrack& track = m_tracks[t];
        if (track.metadata || track.typicalMinFrame == 0 ||
            uint64_t(size) * kTypicalSizeFactor < track.typicalMinFrame ||
            uint64_t(size) > track.typicalMaxFrame * kTypicalSizeFactor)
            continue;
        if (owner >= 0)
            return -1;
        owner = int(t);
    }
    return owner;
}

int64_t SharedGapSplit::endNamedBySizes(const FrameChain& chain, int64_t k, size_t t, bool ended) const {
    bool own = true;
    for (int64_t f = 0; f < k; ++f) {
        const int owner = sizeOwner(chain[size_t(f + 1)] - chain[size_t(f)]);
        if (owner >= 0 && size_t(owner) != t)
            return f;
        own = own && owner == int(t);
    }
    return own && (ended || behindPad(chain[size_t(k)]) == m_b) ? k : -1;
}

std::vector<SplitFrame> SharedGapSplit::splitFrom(int64_t pos, std::vector<SplitTrack>& tracks, int64_t& covered,
                                                 bool opening) {
    std::vector<SplitFrame> frames;
    m_padSkipped = 0;
    const auto skipPad = [this](int64_t end) {
        const int64_t next = behindPad(end);
        m_padSkipped += next - end;
        return next;
    };
    std::vector<size_t> order(tracks.size());
    // The order of one step, with the tracks sent behind the others; kept
    // across steps so that a step allocates nothing.
    std::vector<size_t> queue;
    std::vector<bool> sentBack;
    const auto soundTracks =
        std::count_if(tracks.begin(), tracks.end(), [](const SplitTrack& t) { return !t.metadata; });
    // The track whose chunk the last frames began or went on, and how many
    // frames that chunk holds so far.
    int going = -1;
    int64_t goingFrames = 0;
    const int opener = opening ? openingTrack(tracks) : -1;
    while (pos < m_b) {
        // Asked first: the track whose chunk goes on, or before any chunk
        // the one that opens the reference's first gap.
        const int first = going >= 0 ? (chunkGoesOn(tracks[size_t(going)], goingFrames) ? going : -1) : opener;
        if (m_b - pos < kMinTail) {
            // A caption chunk (an empty cue is two bytes) or frames of
            // digital silence (a few bytes each) often close the gap in
            // front of a video chunk; they must fill the tail exactly.
            for (const SplitFrame& piece : shortTail(pos, tailOrder(tracks, first), tracks)) {
                frames.push_back(piece);
                tracks[size_t(piece.track)].audioSeconds += tracks[size_t(piece.track)].frameSeconds;
                pos = piece.offset + piece.size;
            }
            break;
        }
        if (const int64_t pictures = picturesFollowed(pos)) {
            frames.push_back(SplitFrame{SplitFrame::kPictures, pos, pictures});
            pos = skipPad(pos + pictures);
            going = -1;
            goingFrames = 0;
            continue;
        }
        // A chunk under way first, then the track furthest behind; equal
        // times keep the track order, as a muxer writes the lower stream
        // first on a tie.
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t x, size_t y) { return comesFirst(tracks, first, x, y); });
        int chosen = -1;
        int64_t take = 0;
        int chosenScore = kNone;
        FrameChain chosenChain;
        // The first track in that order that something surely follows,
        // unless a metadata chunk that the reference's next chunk follows
        // is found at all: two metadata chunks back to back read like one.
        const bool followers = std::any_of(tracks.begin(), tracks.end(), [](const SplitTrack& t) {
            return t.metadata && t.follower >= 0;
        });
        // Tracks whose first frame here is of a size only another sound
        // track's frames come near go behind the others.
        queue.assign(order.begin(), order.end());
        sentBack.assign(tracks.size(), false);
        for (size_t q = 0; q < queue.size(); ++q) {
            const size_t t = queue[q];
            if (chosenScore >= kStrong && (!followers || !tracks[t].metadata))
                continue;
            if (chosenScore == kWithFollower)
                break;
            if (tracks[t].metadata) {
                int score = kNone;
                const int64_t length = metadataChoice(pos, t, score);
                if (score > chosenScore) {
                    chosen = int(t);
                    chosenScore = score;
                    take = 1;
                    chosenChain = {pos, pos + length};
                }
                continue;
            }
            const int64_t want = std::max<int64_t>(tracks[t].chunkFrames, 1);
            // Past want + kChunkSlackFrames frames only the first want count,
            // but where the sizes tell the chunk's end it may lie as far as
            // the track's tolerance; one frame more shows whether it ends.
            const int64_t sizeSlack = std::max(kChunkSlackFrames, tracks[t].toleranceFrames);
            const FrameChain chain = chainAt(pos, t, size_t(want + sizeSlack + 2));
            const int64_t k = std::min(int64_t(frameCount(chain)), framesInTurn(tracks, t));
            if (k < 1)
                continue;
            // The chain's own end first when another track's frame stopped
            // it (or the gap ends with it) near the expected count, then the expected count, then
            // shorter chunks.
            std::vector<int64_t> tries;
            // A chain that fills the rest of the gap exactly is the chunk's
            // end too when no other sound track could have written its last
            // frames: taking fewer would strand frames too short to find.
            const bool fills = behindPad(chain[size_t(k)]) == m_b && soundTracks == 1;
            // Near the expected count, the frames' sizes may tell where the
            // chunk ends where the decoders do not (silence between tracks).
            // A recording that stops ends its tracks' last chunks early.
            const bool ended = m_chains[pos].whole[t] && k == int64_t(frameCount(chain));
            const int64_t named = endNamedBySizes(chain, k, t, ended);
            // A decoder set up for one mono track often takes a few frames
            // of another mono track at a different rate: where the sizes
            // say the frame is the other track's, that track is asked
            // first, and this one only when nothing follows the other's.
            if (named == 0 && !sentBack[t]) {
                sentBack[t] = true;
                queue.push_back(t);
                continue;
            }
            if (named >= 1 && named <= want + sizeSlack && (m_tailCut || named >= want - sizeSlack))
                tries.push_back(named);
            if (k <= want + kChunkSlackFrames && (stoppedAt(pos, t) || fills))
                tries.push_back(k);
            tries.push_back(std::min(k, want));
            for (int64_t c = std::min(k, want) - 1; c >= 1 && tries.size() < 6; --c)
                tries.push_back(c);
            for (int64_t c : tries) {
                const int level = followed(chain[size_t(c)]);
                if (level > chosenScore) {
                    chosen = int(t);
                    chosenScore = level;
                    take = c;
                    chosenChain = chain;
                }
                if (chosenScore >= kStrong)
                    break;
            }
        }
        if (chosen < 0)
            break;
        const FrameChain& chain = chosenChain;
        for (int64_t f = 0; f < take; ++f)
            frames.push_back(SplitFrame{chosen, chain[size_t(f)], chain[size_t(f + 1)] - chain[size_t(f)]});
        goingFrames = chosen == going ? goingFrames + take : take;
        going = chosen;
        SplitTrack& track = tracks[size_t(chosen)];
        track.audioSeconds += double(take) * track.frameSeconds;
        track.chunkFrames = std::max<int64_t>(track.chunkFrames - take, 1);
        pos = skipPad(chain[size_t(take)]);
    }
    covered = pos;
    return frames;
}
