#pragma once
// Which sound track wrote which part of a stretch of PCM between two video
// chunks. PCM has no structure that tells, so the layouts that fill the
// stretch exactly are weighed by how muxers write:
//  - in turns: each track's chunks have a few lengths of its own, and the
//    track whose sound is furthest behind writes next;
//  - closed together: every track writes its chunks in whole packets (a
//    sample count the muxer cuts all its sound into) and the tracks' chunks
//    of one gap end at about the same time, give or take a packet. Of the
//    packet counts that fill the stretch, the one whose tracks end closest
//    together wins; a track whose last chunk ran ahead may write nothing.

#include <cstddef>
#include <cstdint>
#include <vector>

struct PcmChunkTrack {
    double seconds = 0;   // sound the track has so far
    double byteRate = 0;  // bytes per second
    int64_t packet = 0;   // bytes of one packet
};

// One chunk of a stretch laid out in turns.
struct PcmChunkTurn {
    size_t track = 0;
    int64_t bytes = 0;
    bool whole = true;  // false: cut short where another track's chunk began
};

class PcmChunkFill {
public:
    // When the tracks all end if `bytes` are shared out so that they do:
    // the ones furthest behind catch up first.
    static double commonEnd(const std::vector<PcmChunkTrack>& tracks, double bytes);
    // A muxer that cuts each track into chunks of its own length writes
    // next the chunk of the track furthest behind (the first in `order` on
    // a tie). The chunks that fill `bytes` exactly so, each of one of its
    // track's `sizes` (the likeliest first); empty when none do.
    static std::vector<PcmChunkTurn> inTurns(const std::vector<PcmChunkTrack>& tracks,
                                             const std::vector<std::vector<int64_t>>& sizes,
                                             const std::vector<size_t>& order, int64_t bytes);
    // The chunk each track writes next in a gap whose chunks close
    // together: of its `sizes`, the one ending nearest to where the last
    // track to end does with a chunk as long as its `last` (a track's chunks
    // differ by a packet where the recorder's chunk period cuts one).
    static std::vector<int64_t> closingTogether(const std::vector<PcmChunkTrack>& tracks,
                                                const std::vector<std::vector<int64_t>>& sizes,
                                                const std::vector<int64_t>& last);
    // A stretch of whole packets, in time order, but for one track whose
    // sound ends in it with a short last packet (a recording's tracks end
    // together, on packets of their own lengths). The packets that fill
    // `bytes` exactly so, none of the other tracks' running past the
    // ending track's end (the nearest to it first); `ended` gets that
    // track. Empty when no layout does.
    static std::vector<PcmChunkTurn> endingIn(const std::vector<PcmChunkTrack>& tracks,
                                              const std::vector<int64_t>& frames, const std::vector<size_t>& order,
                                              int64_t bytes, size_t& ended);
    // Bytes per track, in the tracks' order; empty when no packet counts
    // fill `bytes` exactly.
    static std::vector<int64_t> split(const std::vector<PcmChunkTrack>& tracks, int64_t bytes);
};
