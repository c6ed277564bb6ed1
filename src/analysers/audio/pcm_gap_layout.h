#pragma once
// Where the timed-metadata chunks lie in a gap of linear PCM. Sound has no
// structure of its own, so the gap is read as the sound's chunks and the
// metadata's, in whatever order fills it exactly:
//  - a muxer that cuts its sound into packets of one size writes chunks of
//    whole packets (the granule), so sound stretches are whole packets and
//    metadata chunks may sit anywhere between them;
//  - otherwise a chunk of sound may end anywhere on its frame grid, and
//    metadata chunks are looked for only at the gap's two ends, where
//    recorders put them.
// Of the layouts that fill the gap, the one whose metadata carries the most
// (caption text, boxes of the track's keys) wins: quiet sound reads as empty
// captions now and then, real captions hold text.

#include "qt/qt_types.h"

#include <cstdint>
#include <vector>

struct PcmGapMetadataTrack {
    Fourcc codec = 0;
    std::vector<uint32_t> boxKeys;  // a 'mebx' track's local key ids
    int64_t longestChunk = 0;       // bytes a chunk of it may have at most
    bool pauses = false;            // captions with an empty sample between cues
};

struct PcmGapPiece {
    int64_t offset = 0;  // from the gap's start
    int64_t size = 0;
    int metadataTrack = -1;  // -1: sound
};

class PcmGapLayout {
public:
    // `frame`: bytes of one sample frame; `granule`: the packet the sound's
    // chunks are made of (0 or a frame: none).
    PcmGapLayout(std::vector<PcmGapMetadataTrack> tracks, int64_t frame, int64_t granule);

    // The pieces of the n bytes at `data`, in file order, filling them (but
    // for less than a frame at the end when `atEnd`: the input was cut
    // there); empty when no layout fills them.
    std::vector<PcmGapPiece> split(const uint8_t* data, int64_t n, bool atEnd) const;

private:
    struct Chunk {
        int track;
        int64_t length;
        int64_t worth;  // what its structure shows: caption text, boxes
    };
    // The chunks of metadata that may begin at `pos`.
    std::vector<Chunk> chunksAt(const uint8_t* data, int64_t n, int64_t pos) const;
    int64_t longestChunk() const;
    // The chunks that run exactly to the n bytes' end, shortest first.
    std::vector<Chunk> chunksToEnd(const uint8_t* data, int64_t n) const;
    // Where those of them that show something, with sound in front, begin.
    std::vector<int64_t> closingChunkStarts(const std::vector<Chunk>& tails, int64_t n) const;
    // `closing`: where a closing chunk may begin behind sound off the packets' grid.
    std::vector<PcmGapPiece> splitByPackets(const uint8_t* data, int64_t n, bool atEnd, int64_t granule,
                                            const std::vector<int64_t>& closing) const;
    std::vector<PcmGapPiece> splitAtEnds(const uint8_t* data, int64_t n, bool atEnd,
                                         const std::vector<Chunk>& endingChunks) const;

    std::vector<PcmGapMetadataTrack> m_tracks;
    int64_t m_frame;
    int64_t m_granule;
};
