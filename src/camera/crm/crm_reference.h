#pragma once
// The reference CRM movie as the rebuild uses it: the raw boxes the rebuilt
// movie copies unchanged, and per track the sample tables the audio repair
// and the new sample tables need.

#include "camera/crm/crm_box_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace crm {

constexpr uint64_t kNoTrack = ~uint64_t(0);

struct CrmRefTrack {
    std::string handler;  // hdlr subtype: vide, soun, tmcd, meta ...
    std::vector<uint32_t> sampleSizes;
    std::vector<uint32_t> samplesPerChunk;  // one per chunk
    std::vector<uint64_t> chunkOffsets;
    uint32_t timescale = 0;
    uint64_t duration = 0;
    uint32_t sampleDelta = 1;  // of the first stts entry
    uint32_t frameBytes = 1;   // sound: bytes of one frame over all channels
    Bytes tkhd, mdhd, hdlr, stsd, mediaHeader, dinf;
};

struct CrmReference {
    Bytes ftyp;
    Bytes mvhd;
    Bytes moovExtra;       // moov children other than mvhd and trak
    Bytes preMediaBoxes;   // top-level boxes before the first mdat
    Bytes postMediaBoxes;  // and after it
    std::vector<CrmRefTrack> tracks;
    uint64_t videoTrack = kNoTrack;
    uint32_t movieTimescale = 1000;
    uint64_t mediaStart = 0;  // payload of the (last) mdat

    const CrmRefTrack* video() const { return videoTrack < tracks.size() ? &tracks[videoTrack] : nullptr; }
    // The sound tracks in reference order.
    std::vector<const CrmRefTrack*> audioTracks() const;
};

CrmReference loadCrmReference(const std::string& fileName);
CrmRefTrack parseRefTrack(platform::File& file, const BoxNode& trak);

}  // namespace crm
