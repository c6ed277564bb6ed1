// AudioInterleave for linear PCM that shares its gaps: with timed-metadata
// chunks (captions beside the sound), or with the PCM of further sound
// tracks. The gap's metadata chunks are found first (pcm_gap_layout.h); the
// stretches of sound between them go to the sound tracks in the order the
// recorder wrote them.

#include "analysers/audio/audio_interleave.h"

#include "analysers/audio/closed_chunk_seconds.h"
#include "analysers/audio/metadata_structure.h"
#include "analysers/audio/pcm_chunk_fill.h"
#include "analysers/audio/pcm_content_split.h"
#include "analysers/chunk/gap_video.h"

#include "analysers/core/scan_info.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// How much longer than the reference's longest a metadata chunk inside PCM
// may be, at the least: captions differ in length from the reference's.
constexpr int64_t kMetadataChunkSlack = 256;
// Sound times closer than this are the same (sums of chunk durations).
constexpr double kSameTime = 1e-7;
// One sound track beside timed metadata: its samples carry no track word.
constexpr int32_t kNoTrackWord = -1;
// Chunk lengths kept per sound track: a muxer writes a few.
constexpr size_t kMaxChunkSizes = 16;
// Sample frames of a track's sound learnt before the sound may tell the
// tracks apart, and after which it has been heard enough.
constexpr int64_t kHeardFrames = 4096;
constexpr int64_t kEnoughFrames = int64_t(1) << 20;
// The least bytes a block of sound is weighed in: fewer samples tell too
// little.
constexpr int64_t kLeastBlock = 1024;
// Sample frames of a block of the opening gap, which no known packet cuts.
constexpr int64_t kOpeningBlockFrames = 512;
// The least bytes of a track's short last packet whose sound is weighed.
constexpr int64_t kLeastPart = 256;
// A run boundary on the block grid is moved only where the blocks either
// side of it sound clearly unlike their tracks (one of them holds part of
// the other track's sound), and those either side of the new place sound
// much more like theirs.
constexpr double kMisplacedBoundary = 0.25;
constexpr double kBoundaryGain = 0.25;
// Frames either side of where the blocks put a moved boundary that the
// next track's sound may carry on at.
constexpr int64_t kCarryOnSteps = 8;
// What a layout that does not hold misses by.
constexpr double kNoLayout = std::numeric_limits<double>::max();

}  // namespace

std::vector<AudioInterleave::PcmShare> AudioInterleave::pcmShares() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    std::vector<PcmShare> shares;
    for (const InterleaveTrack& learnt : audio) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track)
            return {};
        PcmShare share;
        share.word = audio.size() > 1 ? learnt.audioIndex : kNoTrackWord;
        // A PCM track's samples are its sample frames; the sample size of an
        // old sound description says 16 bits for 24-bit audio.
        const bool fixed = learnt.minSampleBytes == learnt.maxSampleBytes && learnt.minSampleBytes > 0;
        share.frame = fixed ? int64_t(learnt.minSampleBytes)
                            : std::max<int64_t>(track->m_audioChannels, 1) *
                                  std::max<int64_t>(track->m_audioSampleSize / 8, 1);
        share.chunk = fixed ? int64_t(learnt.samplesPerChunk) * learnt.minSampleBytes : 0;
        if (learnt.chunkGranuleBytes > 0 && learnt.chunkGranuleBytes % share.frame == 0)
            share.packet = learnt.chunkGranuleBytes;
        share.format.channels = std::max<int>(track->m_audioChannels, 1);
        share.format.bitsPerSample = int(share.frame / share.format.channels * 8);
        share.format.littleEndian = pcmLittleEndian(*track);
        const double rate = double(track->m_audioSampleRate > 0 ? track->m_audioSampleRate : track->m_mediaTimescale);
        share.byteRate = rate * double(share.frame);
        shares.push_back(share);
    }
    return shares;
}

int64_t AudioInterleave::pcmOpenChunksBytes() const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const MovieTrack* video = ref->videoTrack();
    if (!video || ref->interleaveCycle().audioTracks().empty())
        return 0;
    for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks()) {
        const MovieTrack* track = ref->audioTrack(learnt.audioIndex);
        if (!track || track->m_chunkOffsets.size() != 1)
            return 0;
    }
    double rates = 0;
    for (const PcmShare& share : pcmShares())
        rates += share.byteRate;
    return std::llround(closedChunkSeconds(*video) * rates);
}

std::vector<PcmGapPiece> AudioInterleave::pcmGapPieces(ScanBuffer& input, int64_t a, int64_t size,
                                                       const std::vector<PcmShare>& shares, bool atEnd) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& metadata = ref->interleaveCycle().metadataTracks();
    // The tracks' frames and packets in common: what any stretch of their
    // sound is made of.
    int64_t frame = 0, packet = shares.front().packet;
    for (const PcmShare& share : shares) {
        frame = std::gcd(frame, share.frame);
        packet = share.packet > 0 && packet > 0 ? std::gcd(packet, share.packet) : 0;
    }
    // Packets the chunks laid out so far show serve where the reference's
    // do not.
    if (packet == 0)
        packet = pcmPacketFrames(shares) * frame;
    // Before any track shows its packet in two chunks, tracks of one frame
    // size that a muxer cut into packets of one length show it together:
    // every chunk of the reference is made of them.
    if (packet == 0 && std::all_of(shares.begin(), shares.end(), [&](const PcmShare& s) { return s.frame == frame; })) {
        int64_t common = 0;
        for (const InterleaveTrack& learnt : ref->interleaveCycle().audioTracks())
            common = std::gcd(common, std::gcd(int64_t(learnt.minChunkBytes), int64_t(learnt.maxChunkBytes)));
        if (shares.size() > 1 && common > frame && common % frame == 0)
            packet = common;
    }
    // One sound track: the reference's largest chunk (one of several, so
    // not one the recording's end cut short) is whole packets too.
    const InterleaveTrack& first = ref->interleaveCycle().audioTracks().front();
    if (packet == 0 && shares.size() == 1 && m_pcmChunksNoted > 0 && first.maxChunkBytes > first.minChunkBytes &&
        first.maxChunkBytes % frame == 0) {
        const int64_t frames = std::gcd(m_pcmChunkFrames, int64_t(first.maxChunkBytes) / frame);
        packet = frames > 1 ? frames * frame : 0;
    }
    std::vector<PcmGapMetadataTrack> tracks;
    for (const InterleaveTrack& learnt : metadata)
        tracks.push_back({learnt.codec, learnt.boxKeys,
                          std::max<int64_t>(4 * int64_t(learnt.maxChunkBytes), kMetadataChunkSlack),
                          metadataStructureDecides(learnt.codec) && learnt.pauseSeconds > 0});
    const std::vector<PcmGapPiece> whole{PcmGapPiece{0, size, -1}};
    if (metadata.empty() || size > INT32_MAX)
        return whole;
    const ByteBlock block = input.readBlock(a, int32_t(size));
    std::vector<PcmGapPiece> pieces =
        PcmGapLayout(std::move(tracks), frame, packet).split(block.data(), block.length(), atEnd);
    // Nothing fills the gap (damage): it is taken for sound, as the
    // reference's layout says.
    return pieces.empty() ? whole : pieces;
}

void AudioInterleave::fillSharedPcm(ScanBuffer& input, int64_t a, int64_t size, bool atEnd) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    m_metadataChunks.resize(ref->interleaveCycle().metadataTracks().size(), 0);
    std::vector<PcmShare> shares = pcmShares();
    double rates = 0;
    for (const PcmShare& share : shares)
        rates += share.byteRate;
    if (shares.empty() || rates <= 0 || size < 1 || a + size > input.fileSize())
        return;
    std::vector<PcmGapPiece> pieces = pcmGapPieces(input, a, size, shares, atEnd);
    const bool recordingEnds = atEnd && mediaDataEndsAt(input, a + size);
    if (recordingEnds) {
        int64_t frame = 0;
        for (const PcmShare& share : shares)
            frame = std::gcd(frame, share.frame);
        splitClosingCaption(input, a, frame, pieces);
    }
    // The tracks' chunks cover the same stretch of time: each whose sound
    // has not ended is owed the gap's sound in proportion to its byte rate.
    int64_t sound = 0;
    for (const PcmGapPiece& piece : pieces)
        sound += piece.metadataTrack < 0 ? piece.size : 0;
    double liveRates = 0;
    for (size_t i = 0; i < shares.size(); ++i)
        liveRates += pcmEnded(i) ? 0 : shares[i].byteRate;
    for (size_t i = 0; i < shares.size(); ++i)
        shares[i].quota = pcmEnded(i) || liveRates <= 0 ? 0 : shares[i].byteRate / liveRates * double(sound);
    for (const PcmGapPiece& piece : pieces) {
        if (piece.metadataTrack >= 0)
            emitMetadataChunk(input, piece.metadataTrack, a + piece.offset, piece.size);
        else if (shares.size() == 1)
            emitSinglePcmChunk(input, a + piece.offset, piece.size, shares.front().frame, atEnd);
        else
            dealPcm(input, a + piece.offset, a + piece.offset + piece.size, shares, atEnd, recordingEnds);
    }
    m_videoSinceAudio = 0;
    m_carry = 0;
}

void AudioInterleave::splitClosingCaption(ScanBuffer& input, int64_t a, int64_t frame,
                                          std::vector<PcmGapPiece>& pieces) const {
    // An empty caption sample: a 16-bit length of none.
    constexpr int64_t kEmptyCaption = 2;
    const std::vector<InterleaveTrack>& metadata = m_repairState->m_reference->interleaveCycle().metadataTracks();
    // A caption track that marks its pauses with empty samples closes its
    // last cue with one where the other tracks run on.
    size_t track = 0;
    while (track < metadata.size() &&
           !(metadataStructureDecides(metadata[track].codec) && metadata[track].pauseSeconds > 0))
        ++track;
    if (pieces.empty() || track == metadata.size() || frame < 1)
        return;
    PcmGapPiece& sound = pieces.back();
    const int64_t kept = sound.size - kEmptyCaption;
    if (sound.metadataTrack >= 0 || kept < frame || kept % frame != 0)
        return;
    // Digital silence reads as empty captions throughout: sound that is
    // heard in its last frame shows where it stops, and where it is not, a
    // reference whose media data closed the same way does.
    const ByteBlock block = input.readBlock(a + sound.offset + kept - frame, int32_t(frame + kEmptyCaption));
    if (block.length() != int32_t(frame + kEmptyCaption))
        return;
    const uint8_t* bytes = block.data();
    const bool heard = std::any_of(bytes, bytes + frame, [](uint8_t b) { return b != 0; });
    if (!(heard || metadata[track].closesMediaData) || bytes[frame] != 0 || bytes[frame + 1] != 0)
        return;
    sound.size = kept;
    pieces.push_back({sound.offset + kept, kEmptyCaption, int(track)});
}

bool AudioInterleave::mediaDataEndsAt(ScanBuffer& input, int64_t at, bool openEnded) {
    // Recorders write a handful of atoms in front of the media data.
    constexpr int kMaxAtoms = 64;
    int64_t pos = 0;
    for (int n = 0; n < kMaxAtoms && pos + 8 <= at; ++n) {
        const uint8_t* h = input.get(pos, 16);
        if (input.available() < 8)
            return false;
        uint64_t size = uint64_t(h[0]) << 24 | uint64_t(h[1]) << 16 | uint64_t(h[2]) << 8 | h[3];
        if (size == 1 && input.available() >= 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | h[i];
        }
        if (size == 0)
            return openEnded && at == input.fileSize();  // runs to the end of the file by definition
        if (size < 8 || size > uint64_t(INT64_MAX - pos))
            return false;
        pos += int64_t(size);
    }
    return pos == at;
}

double AudioInterleave::pcmEndTime(const std::vector<PcmShare>& shares, const std::vector<bool>& done,
                                   double bytes) const {
    std::vector<PcmChunkTrack> tracks;
    for (size_t i = 0; i < shares.size(); ++i)
        if (!done[i])
            tracks.push_back({m_pcmSeconds[i], shares[i].byteRate, 0});
    return PcmChunkFill::commonEnd(tracks, bytes);
}

void AudioInterleave::emitSinglePcmChunk(ScanBuffer& input, int64_t pos, int64_t size, int64_t frame, bool atEnd) {
    emitPcmPiece(input, pos, size, frame, kNoTrackWord);
    // Only a gap between two video chunks holds whole chunks: they show
    // the packets the muxer cut the sound into.
    if (atEnd || size % frame != 0)
        return;
    m_pcmChunkFrames = std::gcd(m_pcmChunkFrames, size / frame);
    ++m_pcmChunksNoted;
}

int64_t AudioInterleave::pcmPacketFrames(const std::vector<PcmShare>& shares) const {
    // The reference's packets, each known from two chunks at least, and the
    // chunks laid out so far: the muxer's packet divides them all.
    int64_t frames = m_pcmChunkFrames;
    int known = m_pcmChunksNoted;
    for (const PcmShare& share : shares)
        if (share.packet > 0) {
            frames = std::gcd(frames, share.packet / share.frame);
            known += 2;
        }
    return known >= 2 ? frames : 0;
}

void AudioInterleave::takePcmChunk(ScanBuffer& input, int64_t pos, int64_t piece, size_t track,
                                   std::vector<PcmShare>& shares, bool atEnd) {
    PcmShare& share = shares[track];
    emitPcmPiece(input, pos, piece, share.frame, share.word);
    share.quota -= double(piece);
    m_pcmSeconds[track] += double(piece) / share.byteRate;
    learnPcmSound(input, pos, piece, track, shares);
    if (atEnd)
        return;
    // Only a gap between two video chunks holds whole chunks.
    m_pcmLastPiece.resize(shares.size(), 0);
    m_pcmLastPiece[track] = piece;
    m_pcmChunkSizes.resize(shares.size());
    std::vector<int64_t>& sizes = m_pcmChunkSizes[track];
    if (sizes.size() < kMaxChunkSizes && std::find(sizes.begin(), sizes.end(), piece) == sizes.end())
        sizes.push_back(piece);
    m_pcmChunkFrames = std::gcd(m_pcmChunkFrames, piece / share.frame);
    ++m_pcmChunksNoted;
}

void AudioInterleave::pcmFirstGap(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                    bool whole, bool atEnd) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    const std::vector<GapChunk>& first = ref->interleaveCycle().firstGap();
    // A caption chunk among the sound parts the gap: the stretch in front
    // of it is as long as the reference's first few chunks.
    uint64_t firstBytes = 0;
    for (const GapChunk& c : first) {
        firstBytes += c.bytes;
        if (whole && !c.open && firstBytes == uint64_t(end - pos))
            break;
    }
    // As long as the reference's, it is laid out as that one. Recorded in
    // chunks, another one holds the reference's chunks as far as they go,
    // the chunk the bytes end in (or the one the reference's end cut short)
    // taking the rest; packets fill it in turns.
    if (first.empty() || (whole && firstBytes != uint64_t(end - pos)))
        return;
    for (const GapChunk& c : first) {
        size_t i = 0;
        while (i < audio.size() && audio[i].audioIndex != c.audioIndex)
            ++i;
        if (i == audio.size() || i >= shares.size() || pos >= end)
            break;
        int64_t piece = c.open || c.bytes >= uint64_t(end - pos) ? end - pos : int64_t(c.bytes);
        piece -= piece % shares[i].frame;
        if (piece < shares[i].frame)
            break;
        takePcmChunk(input, pos, piece, i, shares, atEnd);
        pos += piece;
    }
}

bool AudioInterleave::dealPcmTurns(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                   const std::vector<size_t>& order, const std::vector<int64_t>& chunkOf) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    // Each track's chunk lengths: those it wrote here so far and the
    // reference's, the nearest its last chunk tried first.
    std::vector<PcmChunkTrack> tracks;
    std::vector<std::vector<int64_t>> sizes(shares.size());
    for (size_t i = 0; i < shares.size() && i < audio.size(); ++i) {
        tracks.push_back({m_pcmSeconds[i], shares[i].byteRate, shares[i].packet});
        if (i < m_pcmChunkSizes.size())
            sizes[i] = m_pcmChunkSizes[i];
        for (uint32_t bytes : audio[i].wholeChunkSizes)
            if (std::find(sizes[i].begin(), sizes[i].end(), int64_t(bytes)) == sizes[i].end())
                sizes[i].push_back(bytes);
        std::stable_sort(sizes[i].begin(), sizes[i].end(), [&](int64_t x, int64_t y) {
            return std::llabs(x - chunkOf[i]) < std::llabs(y - chunkOf[i]);
        });
    }
    const std::vector<PcmChunkTurn> turns = PcmChunkFill::inTurns(tracks, sizes, order, end - pos);
    for (const PcmChunkTurn& turn : turns) {
        // A chunk cut short tells nothing of the lengths the track writes.
        takePcmChunk(input, pos, turn.bytes, turn.track, shares, !turn.whole);
        pos += turn.bytes;
    }
    return !turns.empty();
}

bool AudioInterleave::dealPcmPackets(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                     const std::vector<size_t>& order, const std::vector<int64_t>& chunkOf) {
    const int64_t packetFrames = pcmPacketFrames(shares);
    if (packetFrames < 1)
        return false;
    std::vector<PcmChunkTrack> tracks;
    for (size_t i = 0; i < shares.size(); ++i)
        tracks.push_back({m_pcmSeconds[i], shares[i].byteRate, packetFrames * shares[i].frame});
    const std::vector<int64_t> amounts = PcmChunkFill::split(tracks, end - pos);
    if (amounts.empty())
        return false;
    // A track that wrote several of its chunks here (the video in front ran
    // that much longer) wrote them in turns with the others, each about as
    // long as its last whole chunk.
    std::vector<std::vector<int64_t>> pieces(shares.size());
    for (size_t i = 0; i < shares.size(); ++i) {
        const int64_t packet = tracks[i].packet, packets = amounts[i] / packet;
        const int64_t turns = chunkOf[i] > 0 ? std::clamp<int64_t>(std::llround(double(amounts[i]) / double(chunkOf[i])), 1,
                                                                  std::max<int64_t>(packets, 1))
                                             : 1;
        for (int64_t t = 0; t < turns && packets > 0; ++t)
            pieces[i].push_back((packets / turns + (t < packets % turns ? 1 : 0)) * packet);
        std::reverse(pieces[i].begin(), pieces[i].end());
    }
    // The track furthest behind writes next.
    for (;;) {
        size_t next = shares.size();
        for (size_t i : order)
            if (!pieces[i].empty() && (next == shares.size() || m_pcmSeconds[i] < m_pcmSeconds[next] - kSameTime))
                next = i;
        if (next == shares.size())
            break;
        takePcmChunk(input, pos, pieces[next].back(), next, shares, false);
        pos += pieces[next].back();
        pieces[next].pop_back();
    }
    return true;
}

void AudioInterleave::dealPcm(ScanBuffer& input, int64_t pos, int64_t end, std::vector<PcmShare>& shares,
                              bool atEnd, bool recordingEnds) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<InterleaveTrack>& audio = ref->interleaveCycle().audioTracks();
    // A muxer interleaving by time writes next the chunk of the track whose
    // sound is furthest behind (the first track on a tie).
    m_pcmSeconds.resize(shares.size(), 0);
    // A recorder that flushes all its tracks at once writes one chunk of
    // each, of equal length in time: the gap's bytes are shared out. Muxers
    // that interleave by time write packets in turns, whole, and a track of
    // a lower rate writes fewer of them.
    const bool packets = !pcmWrittenInChunks(shares);
    // The first gap of a recording is laid out as the reference's first
    // gap: its order follows no rule of the later ones.
    const std::vector<GapChunk>& first = ref->interleaveCycle().firstGap();
    const bool started = std::any_of(m_pcmSeconds.begin(), m_pcmSeconds.end(), [](double s) { return s > 0; });
    const int64_t gapStart = pos;
    if (!started)
        pcmFirstGap(input, pos, end, shares, packets, atEnd);
    // Each track's whole chunk: what it took last, or before any the
    // reference's typical chunk.
    std::vector<int64_t> chunkOf(shares.size(), 0);
    int64_t whole = 0, largest = 0;
    for (size_t i = 0; i < shares.size(); ++i) {
        chunkOf[i] = i < m_pcmLastPiece.size() && m_pcmLastPiece[i] > 0 ? m_pcmLastPiece[i] : shares[i].chunk;
        whole += chunkOf[i];
        largest = std::max(largest, chunkOf[i]);
    }
    const bool cutShort = !packets && atEnd && !recordingEnds && largest > 0 &&
                          std::find(chunkOf.begin(), chunkOf.end(), 0) == chunkOf.end() && end - pos < whole;
    // Cut short, the chunks the cut left whole closed with the others: a
    // track whose last chunk missed a packet to the recorder's chunk period
    // writes one more this time.
    if (cutShort) {
        std::vector<PcmChunkTrack> tracks;
        std::vector<std::vector<int64_t>> sizes(shares.size());
        for (size_t i = 0; i < shares.size(); ++i) {
            tracks.push_back({m_pcmSeconds[i], shares[i].byteRate, 0});
            if (i < m_pcmChunkSizes.size())
                sizes[i] = m_pcmChunkSizes[i];
            if (i < audio.size())
                sizes[i].insert(sizes[i].end(), audio[i].wholeChunkSizes.begin(), audio[i].wholeChunkSizes.end());
        }
        chunkOf = PcmChunkFill::closingTogether(tracks, sizes, chunkOf);
    }
    // Tracks of equal time go in track order, but at a recording's start in
    // the order its muxer opens every recording with (the reference's first gap).
    std::vector<size_t> order;
    for (const GapChunk& c : started ? std::vector<GapChunk>() : first)
        for (size_t i = 0; i < audio.size() && i < shares.size(); ++i)
            if (audio[i].audioIndex == c.audioIndex && std::find(order.begin(), order.end(), i) == order.end())
                order.push_back(i);
    for (size_t i = 0; i < shares.size(); ++i)
        if (std::find(order.begin(), order.end(), i) == order.end())
            order.push_back(i);
    // Chunks of the lengths each track writes, in the order they fell
    // behind; else chunks closed together: whole packets of each track,
    // ending at about the same time.
    if (started && pos < end && dealPcmBySound(input, pos, end, shares, atEnd, recordingEnds, 0))
        return;
    if (!started && pos == gapStart && pos < end && dealPcmOpeningBySound(input, pos, end, shares, order, atEnd))
        return;
    // Those lay out every track; once one's sound has ended, the others
    // share the gap by their quotas alone.
    const bool allLive = std::find(m_pcmEnded.begin(), m_pcmEnded.end(), true) == m_pcmEnded.end();
    if (!packets && !atEnd && allLive && pos < end &&
        (dealPcmTurns(input, pos, end, shares, order, chunkOf) ||
         dealPcmPackets(input, pos, end, shares, order, chunkOf)))
        return;
    if (!packets && !atEnd && allLive && started && pos < end)
        pcmQuotasEndingTogether(shares, end - pos);
    // On an encoder clock of milliseconds the muxer saw each packet's time
    // rounded to one: tracks less than half of one apart may go either way.
    const bool milliseconds = packets && ref->interleaveCycle().millisecondOrder();
    auto clock = [&](size_t i) {
        if (!milliseconds)
            return m_pcmSeconds[i];
        const double rate = shares[i].byteRate / double(shares[i].frame);
        const double ms = std::round(m_pcmSeconds[i] * 1000);
        return std::round(ms * rate / 1000) / rate;
    };
    m_pcmEnded.resize(shares.size(), false);
    if (packets && !atEnd && pos < end)
        pcmAroundPicture(input, pos, end, shares, order);
    if (packets && !atEnd && pos < end && dealPcmEnding(input, pos, end, shares, order))
        return;
    // A track whose sound ended writes nothing more.
    std::vector<bool> done = m_pcmEnded;
    while (pos < end) {
        size_t next = shares.size();
        for (size_t i : order)
            if (!done[i] && (next == shares.size() || clock(i) < clock(next) - kSameTime))
                next = i;
        if (next == shares.size())
            break;
        PcmShare& share = shares[next];
        // A gap of several of the reference's chunks per track (the video in
        // front ran that much longer) holds them in turns; a gap of one
        // chunk per track shares out its bytes.
        const int64_t turns =
            share.chunk > 0 ? std::max<int64_t>(std::llround(share.quota / double(share.chunk)), 1) : 1;
        const int64_t packet = share.packet > 0 ? share.packet : share.chunk;
        int64_t piece = packets ? std::min(packet, end - pos)
                                : std::min<int64_t>(int64_t(share.quota / double(turns) + 0.5), end - pos);
        // A recording cut in its last gap: the tracks' chunks were written
        // whole one after the other, so each takes what it took last time
        // until the bytes run out. (A recording that ended writes short
        // chunks of equal length.)
        if (cutShort)
            piece = std::min(chunkOf[next], end - pos);
        // A recording that ended there: its tracks end together, each with
        // a last chunk or packet as short as that takes. A track whose
        // chunks are single packets may owe several: they went in turns
        // with the others', the one furthest behind first.
        if (recordingEnds) {
            const double owed = (pcmEndTime(shares, done, double(end - pos)) - m_pcmSeconds[next]) * share.byteRate;
            const int64_t last = std::llround(owed / double(share.frame)) * share.frame;
            const bool singlePackets = share.packet > 0 && chunkOf[next] == share.packet;
            piece = packets || singlePackets ? std::min<int64_t>(singlePackets ? share.packet : piece, last)
                                             : std::min<int64_t>(last, end - pos);
        }
        piece -= piece % share.frame;
        if (piece < share.frame) {
            done[next] = true;
            continue;
        }
        takePcmChunk(input, pos, piece, next, shares, atEnd);
        pos += piece;
    }
}

bool AudioInterleave::dealPcmOpeningBySound(ScanBuffer& input, int64_t& pos, int64_t end,
                                            std::vector<PcmShare>& shares, const std::vector<size_t>& order,
                                            bool atEnd) {
    // Two tracks whose first gap is not laid out as the reference's (its
    // chunks were cut short by its end, or the recorder's chunks are
    // longer): the track the muxer opens with wrote the gap's first bytes
    // and the other its last, so their sounds are heard there. The rest is
    // told by sound only where both are heard well apart.
    if (shares.size() != 2 || order.size() != 2 || !m_pcmProfiles.empty())
        return false;
    const size_t opening = order[0], closing = order[1];
    const int64_t head = kHeardFrames * shares[opening].frame, tail = kHeardFrames * shares[closing].frame;
    if (end - pos < 4 * std::max(head, tail))
        return false;
    for (const PcmShare& share : shares)
        m_pcmProfiles.emplace_back(share.format);
    const ByteBlock first = input.readBlock(pos, int32_t(head));
    const int64_t last = end - tail - (end - tail - pos) % shares[closing].frame;
    const ByteBlock second = input.readBlock(last, int32_t(tail));
    if (int64_t(first.length()) == head && int64_t(second.length()) == tail) {
        m_pcmProfiles[opening].learn(first.data(), head);
        m_pcmProfiles[closing].learn(second.data(), tail);
        // Blocks of half the packet muxers commonly cut PCM into, in whole
        // frames of both tracks: where one of their chunks ends, a block
        // does.
        const int64_t block = kOpeningBlockFrames * std::lcm(shares[0].frame, shares[1].frame);
        if (dealPcmBySound(input, pos, end, shares, atEnd, false, block))
            return true;
    }
    m_pcmProfiles.clear();
    return false;
}

bool AudioInterleave::pcmWrittenInChunks(const std::vector<PcmShare>& shares) const {
    // Runs of one track longer than this many of the longest packet of any
    // track: a muxer interleaving packets by time writes one track's packets
    // only until another track's next packet is due.
    constexpr double kChunkRunPackets = 4;
    const ReferenceInterleaveCycle& cycle = m_repairState->m_reference->interleaveCycle();
    if (cycle.oneChunkPerGap() && cycle.chunksShareTime())
        return true;
    // A reference whose sound all lies in its first gap (its video in one
    // or two chunks) shows no later gap to tell how they are written; its
    // first gap does, where the tracks' packets are known.
    const std::vector<InterleaveTrack>& audio = cycle.audioTracks();
    int64_t packetFrames = 0;
    for (const PcmShare& share : shares)
        if (share.packet > 0)
            packetFrames = std::gcd(packetFrames, share.packet / share.frame);
    double longestPacket = 0;
    for (const PcmShare& share : shares) {
        if (share.byteRate <= 0)
            return false;
        longestPacket = std::max(longestPacket, double(packetFrames * share.frame) / share.byteRate);
    }
    std::vector<bool> ended(shares.size(), false), longRun(shares.size(), false);
    for (const GapChunk& c : cycle.firstGap()) {
        size_t i = 0;
        while (i < audio.size() && i < shares.size() && audio[i].audioIndex != c.audioIndex)
            ++i;
        if (i == audio.size() || i == shares.size())
            return false;
        ended[i] = ended[i] || c.open;
        longRun[i] = longRun[i] || (!c.open && double(c.bytes) / shares[i].byteRate > kChunkRunPackets * longestPacket);
    }
    auto all = [](const std::vector<bool>& v) { return std::all_of(v.begin(), v.end(), [](bool b) { return b; }); };
    return packetFrames > 0 && !shares.empty() && all(ended) && all(longRun);
}

void AudioInterleave::pcmAroundPicture(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                       const std::vector<size_t>& order) {
    // Whole packets a picture may lie behind.
    constexpr size_t kMaxPackets = 64;
    int64_t packets = 0;
    for (size_t i = 0; i < shares.size(); ++i)
        if (!m_pcmEnded[i])
            packets = std::gcd(packets, shares[i].packet);
    if (!m_gapVideo || packets < 1 || (end - pos) % packets == 0)
        return;
    // The packets in time order, each track's whole; a picture of a few
    // bytes (a still scene's) lies between two of them, and no sound track
    // writes a part of a packet.
    std::vector<double> seconds = m_pcmSeconds;
    std::vector<size_t> sequence;
    int64_t at = pos;
    for (size_t n = 0; n <= kMaxPackets && at < end; ++n) {
        if (const int64_t length = picturesBeforePackets(input, at, end, (end - pos) % packets, packets)) {
            for (size_t track : sequence) {
                takePcmChunk(input, pos, shares[track].packet, track, shares, false);
                pos += shares[track].packet;
            }
            m_gapVideo->emitSamplesFilling(input, at, at + length);
            pos = at + length;
            return;
        }
        size_t next = shares.size();
        for (size_t i : order)
            if (!m_pcmEnded[i] && (next == shares.size() || seconds[i] < seconds[next] - kSameTime))
                next = i;
        if (next == shares.size() || at + shares[next].packet > end)
            return;
        sequence.push_back(next);
        seconds[next] += double(shares[next].packet) / shares[next].byteRate;
        at += shares[next].packet;
    }
}

int64_t AudioInterleave::picturesBeforePackets(ScanBuffer& input, int64_t at, int64_t end, int64_t remainder,
                                               int64_t packets) {
    // Lengths tried: the part packet the gap holds, and a few whole
    // packets' worth of pictures more.
    constexpr int64_t kMaxPackedLengths = 4;
    for (int64_t k = 0; k < kMaxPackedLengths; ++k) {
        const int64_t length = remainder + k * packets;
        if (at + length > end)
            break;
        if (m_gapVideo->samplesFill(input, at, at + length))
            return length;
    }
    return 0;
}

bool AudioInterleave::pictureAmidPcm(ScanBuffer& input, int64_t a, int64_t b, int64_t& at, int64_t& length) {
    // Whole packets a picture may lie behind.
    constexpr int64_t kMaxPackets = 64;
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!m_gapVideo || !ref || sharedGaps() || ref->interleaveCycle().audioTracks().size() != 1)
        return false;
    int64_t packets = 0;
    for (const PcmShare& share : pcmShares())
        packets = std::gcd(packets, share.packet);
    if (packets < 2 || b - a <= packets || (b - a) % packets == 0)
        return false;
    for (at = a; at < b && at - a <= kMaxPackets * packets; at += packets)
        if ((length = picturesBeforePackets(input, at, b, (b - a) % packets, packets)) > 0)
            return true;
    return false;
}

bool AudioInterleave::dealPcmEnding(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                    const std::vector<size_t>& order) {
    // Packets of the tracks still writing: a gap that is no whole number of
    // them holds one track's last.
    std::vector<size_t> live;
    int64_t packets = 0;
    for (size_t i : order)
        if (!m_pcmEnded[i] && shares[i].packet > 0) {
            live.push_back(i);
            packets = std::gcd(packets, shares[i].packet);
        }
    if (live.size() < 2 || live.size() != size_t(std::count(m_pcmEnded.begin(), m_pcmEnded.end(), false)) ||
        (end - pos) % packets == 0)
        return false;
    std::vector<PcmChunkTrack> tracks;
    std::vector<int64_t> frames;
    std::vector<size_t> rank;
    for (size_t n = 0; n < live.size(); ++n) {
        tracks.push_back({m_pcmSeconds[live[n]], shares[live[n]].byteRate, shares[live[n]].packet});
        frames.push_back(shares[live[n]].frame);
        rank.push_back(n);
    }
    size_t ended = 0;
    const std::vector<PcmChunkTurn> turns = PcmChunkFill::endingIn(tracks, frames, rank, end - pos, ended);
    if (turns.empty())
        return false;
    for (const PcmChunkTurn& turn : turns) {
        takePcmChunk(input, pos, turn.bytes, live[turn.track], shares, false);
        pos += turn.bytes;
    }
    m_pcmEnded[live[ended]] = true;
    return true;
}

void AudioInterleave::pcmQuotasEndingTogether(std::vector<PcmShare>& shares, int64_t bytes) const {
    // Sample frames this close to whole are whole (sums of chunk durations).
    constexpr double kWholeFrame = 1e-3;
    auto whole = [](double frames) { return std::fabs(frames - std::round(frames)) < kWholeFrame; };
    double quotas = 0;
    for (const PcmShare& share : shares)
        quotas += share.quota;
    // Only quotas of just these bytes are weighed (no metadata chunk or
    // first-gap chunk took a part).
    if (std::fabs(quotas - double(bytes)) > 1 || m_pcmSeconds.size() < shares.size())
        return;
    const double end = pcmEndTime(shares, std::vector<bool>(shares.size(), false), double(bytes));
    std::vector<int64_t> owed;
    bool even = true, together = true;
    for (size_t i = 0; i < shares.size(); ++i) {
        const double frames = (end - m_pcmSeconds[i]) * shares[i].byteRate / double(shares[i].frame);
        even = even && whole(shares[i].quota / double(shares[i].frame));
        together = together && frames >= 1 && whole(frames);
        owed.push_back(std::llround(frames) * shares[i].frame);
    }
    if (even || !together)
        return;
    for (size_t i = 0; i < shares.size(); ++i)
        shares[i].quota = double(owed[i]);
}

void AudioInterleave::emitPcmPiece(ScanBuffer& input, int64_t offset, int64_t size, int64_t frame, int32_t word) {
    size -= size % std::max<int64_t>(frame, 1);
    if (size < 1)
        return;
    addAudioSample(*m_repairState, input, offset, int32_t(size), word);
    FLOG(LogLevel::Info) << m_logLabel << "pcm at " << offset << "  size=" << size << "  track=" << word;
}

void AudioInterleave::learnPcmSound(ScanBuffer& input, int64_t pos, int64_t piece, size_t track,
                                    const std::vector<PcmShare>& shares) {
    if (m_pcmProfiles.size() < shares.size()) {
        m_pcmProfiles.clear();
        for (const PcmShare& share : shares)
            m_pcmProfiles.emplace_back(share.format);
    }
    if (m_pcmTails.size() < shares.size())
        m_pcmTails.assign(shares.size(), PcmTrackTail());
    PcmTrackTail& tail = m_pcmTails[track];
    tail.format = shares[track].format;
    const int64_t frame = shares[track].frame;
    if (piece >= 2 * frame && tail.format.usable()) {
        const ByteBlock last = input.readBlock(pos + piece - piece % frame - 2 * frame, int32_t(2 * frame));
        if (int64_t(last.length()) == 2 * frame) {
            tail.known = true;
            tail.before = PcmContinuitySplit::firstValue(last.data(), tail.format);
            tail.last = PcmContinuitySplit::firstValue(last.data() + frame, tail.format);
        }
    }
    if (m_pcmProfiles[track].frames() >= kEnoughFrames || piece > INT32_MAX) {
        tail.bend = m_pcmProfiles[track].bend();
        return;
    }
    const ByteBlock block = input.readBlock(pos, int32_t(piece));
    m_pcmProfiles[track].learn(block.data(), int64_t(block.length()));
    tail.bend = m_pcmProfiles[track].bend();
}

bool AudioInterleave::dealPcmBySound(ScanBuffer& input, int64_t& pos, int64_t end, std::vector<PcmShare>& shares,
                                     bool atEnd, bool recordingEnds, int64_t openingBlock) {
    // Where the recording ended, the tracks' last packets are short; else
    // where the input ends, it was cut. The stretch in front of the first
    // pictures has no known packets; its last run takes the part block.
    const bool cut = (atEnd && !recordingEnds) || openingBlock > 0;
    // Blocks of the packets' common length: every run boundary lies
    // between two of them.
    // Each track's packet: what the reference's chunks and those laid out
    // so far are all made of (the reference's alone may be a multiple of
    // the muxer's packet).
    const int64_t laidOut = pcmPacketFrames(shares);
    std::vector<int64_t> packets;
    int64_t block = openingBlock;
    for (const PcmShare& share : shares) {
        packets.push_back(std::gcd(std::max<int64_t>(share.packet, 0), laidOut * share.frame));
        if ((packets.back() < 1 && openingBlock < 1) || !share.format.usable())
            return false;
        if (openingBlock < 1)
            block = std::gcd(block, packets.back());
    }
    // Packets known from chunk sizes alone may be several of the muxer's:
    // the blocks are the smallest whole share of them that holds whole
    // frames of every track and is long enough to weigh, so that a run may
    // end between two of them.
    int64_t frames = 1;
    for (const PcmShare& share : shares)
        frames = std::lcm(frames, share.frame);
    for (int64_t parts = block / kLeastBlock; parts > 1 && openingBlock < 1; --parts)
        if (block % parts == 0 && (block / parts) % frames == 0) {
            block /= parts;
            break;
        }
    if (block < kLeastBlock || m_pcmProfiles.size() != shares.size() || end - pos > INT32_MAX)
        return false;
    for (size_t i = 0; i < shares.size(); ++i)
        if (m_pcmProfiles[i].frames() < kHeardFrames || pcmEnded(i))
            return false;
    // A cut input's last run stops on its frame grid. Between two video
    // chunks a part block is the short last packet of a track whose sound
    // ended there; else the stretch is whole blocks.
    const int64_t blocks = (end - pos) / block, rest = (end - pos) % block;
    const bool ending = rest != 0 && !cut && !atEnd;
    if (blocks < 1 || (rest != 0 && !cut && !ending))
        return false;
    const ByteBlock bytes = input.readBlock(pos, int32_t(end - pos));
    if (int64_t(bytes.length()) < end - pos)
        return false;
    // A packet known from chunk sizes may be several of the muxer's, and a
    // recording that ended did so on short ones: a run may end at any
    // block, as its sound says.
    const std::vector<int64_t> anyBlock(shares.size(), 1);
    // The runs told for the blocks that start `offset` bytes into the stretch.
    std::vector<std::vector<double>> costs;
    auto weigh = [&](int64_t offset) {
        costs.assign(shares.size(), std::vector<double>(size_t(blocks)));
        for (size_t i = 0; i < shares.size(); ++i)
            for (int64_t k = 0; k < blocks; ++k)
                costs[i][size_t(k)] = m_pcmProfiles[i].distance(bytes.data() + offset + k * block, block);
        return PcmContentSplit::split(costs, anyBlock);
    };
    std::vector<int64_t> pieces;
    std::vector<PcmContentRun> runs = weigh(0);
    // The track whose run holds the part block: its last packet is short.
    size_t ender = shares.size();
    if (ending) {
        // The run of the track that ended holds the part block. It is the
        // stretch's first or its last run: the blocks are weighed from the
        // stretch's end too. Of two layouts that hold, the one whose run
        // boundaries sound cleanest wins: the other's cut through the part
        // block mixes the tracks' sounds on one side of a boundary.
        std::vector<PcmContentRun> fromEnd = weigh(rest);
        const std::vector<int64_t> front = pcmRunPieces(runs, block, rest, false);
        const std::vector<int64_t> back = pcmRunPieces(fromEnd, block, rest, true);
        const uint8_t* lastPart = bytes.data() + (end - pos - rest);
        const size_t frontEnder = pcmEnder(runs, front, false, lastPart, rest, shares, packets);
        const size_t backEnder = pcmEnder(fromEnd, back, true, bytes.data(), rest, shares, packets);
        const double frontMiss =
            frontEnder < shares.size() ? pcmBoundaryMiss(bytes.data(), runs, front, block) : kNoLayout;
        const double backMiss =
            backEnder < shares.size() ? pcmBoundaryMiss(bytes.data(), fromEnd, back, block) : kNoLayout;
        FLOG(LogLevel::Debug) << m_logLabel << "pcm part block of " << rest << " (blocks of " << block
                              << "): boundaries from the start miss " << frontMiss << ", from the end " << backMiss;
        if (frontMiss >= kNoLayout && backMiss >= kNoLayout)
            return false;
        if (backMiss < frontMiss) {
            runs = std::move(fromEnd);
            pieces = back;
            ender = backEnder;
        } else {
            pieces = front;
            ender = frontEnder;
        }
        // Where the sound of both tracks ends here, each on a short packet,
        // the boundary between them need not lie on the blocks' grid.
        refinePcmBoundaries(bytes.data(), runs, pieces, block, shares);
    } else {
        // Tracks whose sounds read alike may still each carry on their own.
        if (runs.empty() && m_pcmTails.size() == shares.size() && m_pcmSeconds.size() == shares.size()) {
            const size_t behind =
                size_t(std::min_element(m_pcmSeconds.begin(), m_pcmSeconds.end(),
                                        [](double x, double y) { return x < y - kSameTime; }) -
                       m_pcmSeconds.begin());
            runs = PcmContinuitySplit::split(bytes.data(), blocks * block, block, m_pcmTails, behind);
            // A tone may carry on across a boundary by chance; a block whose
            // sound clearly is one track's is not the other's.
            if (PcmContentSplit::contradicts(costs, runs))
                runs.clear();
        }
        if (runs.empty())
            return false;
        pieces = pcmRunPieces(runs, block, rest, false);
        pieces.back() -= rest % shares[runs.back().track].frame;
        if (recordingEnds)
            refinePcmBoundaries(bytes.data(), runs, pieces, block, shares);
    }
    // A track's run is one of its chunks only where the track has no other
    // run in the stretch: another track's chunk cut it.
    std::vector<int> runsOf(shares.size(), 0);
    for (const PcmContentRun& run : runs)
        ++runsOf[run.track];
    for (size_t r = 0; r < runs.size(); ++r) {
        const int64_t piece = pieces[r];
        // A chunk that holds a short last packet tells nothing of the
        // lengths the track writes.
        takePcmChunk(input, pos, piece, runs[r].track, shares,
                     atEnd || runsOf[runs[r].track] > 1 || runs[r].track == ender);
        pos += piece;
    }
    // Its sound is over: the track writes nothing more. But only the
    // packets the reference shows draw the grid a short packet falls off:
    // blocks carved from the chunks laid out so far may cut the muxer's
    // packets, and the part block is then a whole packet's end.
    const bool grid = std::all_of(shares.begin(), shares.end(), [](const PcmShare& s) { return s.packet > 0; });
    if (ending && grid) {
        m_pcmEnded.resize(shares.size(), false);
        m_pcmEnded[ender] = true;
    }
    FLOG(LogLevel::Debug) << m_logLabel << "pcm gap of " << runs.size() << " runs told by their sound";
    return true;
}

size_t AudioInterleave::pcmEnder(const std::vector<PcmContentRun>& layout, const std::vector<int64_t>& lengths,
                                 bool restFirst, const uint8_t* part, int64_t rest, const std::vector<PcmShare>& shares,
                                 const std::vector<int64_t>& packets) const {
    if (layout.empty())
        return shares.size();
    const size_t r = restFirst ? 0 : layout.size() - 1, track = layout[r].track;
    if (rest % shares[track].frame != 0)
        return shares.size();
    // A packet known from chunk sizes alone may be several of the muxer's,
    // and then a part block tells nothing.
    for (size_t k = 0; k < layout.size(); ++k) {
        if (k > r && layout[k].track == track)
            return shares.size();
        if (k != r && lengths[k] % packets[layout[k].track] != 0)
            return shares.size();
    }
    if (rest >= kLeastPart) {
        const double own = m_pcmProfiles[track].distance(part, rest);
        for (size_t i = 0; i < shares.size(); ++i)
            if (i != track && m_pcmProfiles[i].distance(part, rest) < own)
                return shares.size();
    }
    return track;
}

std::vector<int64_t> AudioInterleave::pcmRunPieces(const std::vector<PcmContentRun>& runs, int64_t block,
                                                   int64_t rest, bool restFirst) {
    std::vector<int64_t> pieces;
    for (const PcmContentRun& run : runs)
        pieces.push_back(run.blocks * block);
    if (!pieces.empty())
        (restFirst ? pieces.front() : pieces.back()) += rest;
    return pieces;
}

double AudioInterleave::pcmBoundaryMiss(const uint8_t* data, const std::vector<PcmContentRun>& runs,
                                        const std::vector<int64_t>& pieces, int64_t block) const {
    if (runs.empty() || pieces.size() != runs.size())
        return kNoLayout;
    // A block either side of each boundary, read as the track whose run it
    // closes or opens.
    double miss = 0;
    int64_t at = 0;
    for (size_t r = 0; r + 1 < runs.size(); ++r) {
        at += pieces[r];
        if (at < block || pieces[r + 1] < block)
            return kNoLayout;
        miss += m_pcmProfiles[runs[r].track].distance(data + at - block, block) +
                m_pcmProfiles[runs[r + 1].track].distance(data + at, block);
    }
    return miss;
}

void AudioInterleave::refinePcmBoundaries(const uint8_t* data, const std::vector<PcmContentRun>& runs,
                                          std::vector<int64_t>& pieces, int64_t block,
                                          const std::vector<PcmShare>& shares) const {
    int64_t at = 0;
    for (size_t r = 0; r + 1 < runs.size() && r + 1 < pieces.size(); ++r) {
        const int64_t start = at;
        at += pieces[r];
        const int64_t moved = clearerPcmBoundary(data, start, at, at + pieces[r + 1], runs[r].track,
                                                 runs[r + 1].track, block, shares);
        pieces[r] += moved - at;
        pieces[r + 1] -= moved - at;
        at = moved;
    }
}

int64_t AudioInterleave::clearerPcmBoundary(const uint8_t* data, int64_t start, int64_t at, int64_t stop,
                                            size_t closing, size_t opening, int64_t block,
                                            const std::vector<PcmShare>& shares) const {
    const int64_t step = std::lcm(shares[closing].frame, shares[opening].frame);
    auto fits = [&](int64_t p) { return p - block >= start && p + block <= stop; };
    auto miss = [&](int64_t p) {
        return m_pcmProfiles[closing].distance(data + p - block, block) +
               m_pcmProfiles[opening].distance(data + p, block);
    };
    if (!fits(at))
        return at;
    const double onGrid = miss(at);
    if (onGrid < kMisplacedBoundary)
        return at;
    // Every place on the frames of both tracks within a block, weighed once.
    const int64_t lowest = at - (block - 1) / step * step;
    std::vector<double> misses;
    int64_t best = at;
    double bestMiss = onGrid;
    for (int64_t p = lowest; p < at + block; p += step) {
        misses.push_back(fits(p) ? miss(p) : kNoLayout);
        if (misses.back() < bestMiss) {
            bestMiss = misses.back();
            best = p;
        }
    }
    auto missAt = [&](int64_t p) {
        const int64_t k = (p - lowest) / step;
        return k >= 0 && size_t(k) < misses.size() ? misses[size_t(k)] : fits(p) ? miss(p) : kNoLayout;
    };
    // Sounds alike read alike everywhere: only a clear gain moves it.
    if (bestMiss > onGrid * kBoundaryGain)
        return at;
    // A block tells the sounds apart, not the frame where one gives way to
    // the other: the frame where the opening track's sound carries on from
    // where its last chunk left off does.
    if (opening < m_pcmTails.size() && m_pcmTails[opening].known) {
        const PcmTrackTail& tail = m_pcmTails[opening];
        const double due = 2 * tail.last - tail.before;
        auto off = [&](int64_t p) { return std::abs(PcmContinuitySplit::firstValue(data + p, tail.format) - due); };
        // Near a tone's crest the frames around the boundary all carry it on
        // about as well: of those that do within what the track's sound
        // bends from frame to frame, the one whose blocks read most like
        // each track's sound is taken; else the one that carries it on best.
        const double bends = PcmContinuitySplit::kCarriesOn * tail.bend;
        const int64_t around = best;
        double nearest = off(best), carrying = kNoLayout;
        int64_t nearestAt = best, carryingAt = best;
        for (int64_t p = around - kCarryOnSteps * step; p <= around + kCarryOnSteps * step; p += step) {
            const double m = missAt(p);
            if (m > onGrid * kBoundaryGain)
                continue;
            if (off(p) < nearest) {
                nearest = off(p);
                nearestAt = p;
            }
            if (off(p) <= bends && m < carrying) {
                carrying = m;
                carryingAt = p;
            }
        }
        best = carrying < kNoLayout ? carryingAt : nearestAt;
    }
    FLOG(LogLevel::Debug) << m_logLabel << "pcm run boundary moved from " << at << " to " << best;
    return best;
}
