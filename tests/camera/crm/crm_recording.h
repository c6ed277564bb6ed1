#pragma once
// Builds CRM-style recordings in memory from the camera's byte layout: brand
// "crx ", a CRAW video track whose samples start with FF 11 00 10 and a
// length (each occupying length + 872 bytes), 24-bit big-endian PCM tracks,
// a metadata and a timecode track; and the damaged files made from them.

#include "support/atom_builder.h"

#include <cstdint>
#include <vector>

namespace crmtest {

using testsupport::Bytes;

struct CrmRecordingOptions {
    uint32_t chunks = 4;
    uint32_t samplesPerChunk = 3;
    uint32_t lengthField = 1500;  // of the first sample; later ones vary around it
    uint32_t audioTracks = 2;
    uint32_t channels = 2;
    uint32_t framesPerChunk = 5760;  // 3 frames of 25 fps at 48 kHz
    // Metadata and timecode samples sit behind each video chunk, in front of
    // its audio; otherwise in an mdat of their own before the payload, so
    // that the audio runs hold nothing but audio.
    bool metadataInRuns = true;
    uint64_t fillerAfterFirstChunk = 0;  // zero bytes in front of the first run's audio
};

struct CrmRecording {
    Bytes file;             // the intact movie: ftyp, moov, mdat(s)
    uint64_t payloadStart;  // file offset of the CRM payload
    Bytes payload;
    std::vector<uint64_t> chunkOffsets;              // video chunks, in the payload
    std::vector<uint64_t> sampleOffsets;             // video samples, in the payload
    std::vector<uint32_t> sampleSizes;
    std::vector<std::vector<Bytes>> audio;           // per track, per chunk
    std::vector<uint64_t> audioChunkOffsets;         // track 0's chunks, in the payload

    Bytes videoBytes(size_t fromSample = 0, size_t toSample = SIZE_MAX) const;
    Bytes audioBytes(size_t track, size_t fromChunk = 0, size_t toChunk = SIZE_MAX) const;
};

CrmRecording makeCrmRecording(const CrmRecordingOptions& options);

// Damaged variants of a payload (or any part of one).
Bytes withMediaHeader(const Bytes& payload);  // ftyp crx + an mdat that runs to the end
Bytes wrapped(const Bytes& payload);          // another container whose mdat holds a CRM file

}  // namespace crmtest
