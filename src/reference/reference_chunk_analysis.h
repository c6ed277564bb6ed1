#pragma once
// Walks the reference's chunks in file order and learns the recorder's
// interleaving: samples per chunk, the padding after a chunk, the video
// sample size range, the audio bytes of one interleave cycle and the first
// byte of the audio chunks. Also builds the reference fingerprint.

#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

class ReferenceInfo;
struct MovieFile;
struct MovieTrack;

class ReferenceChunkAnalysis {
public:
    explicit ReferenceChunkAnalysis(ReferenceInfo& info) : m_info(info) {}

    // Fills the reference's chunk layout, its audio data start and its
    // fingerprint, logging one line per chunk at INFO (and each video sample
    // at DEBUG, where H.264 and HEVC samples also feed the sequence analysis).
    // A file that cannot be read again leaves everything at 0.
    void run();

    // "v=1&vcls=...&vcod=...&acod=...&vdim=W,H&esd=..&avcc=..&hvcc=.." from
    // the reference's parameters.
    static std::string fingerprint(const ReferenceInfo& info);

private:
    std::string hexAt(uint64_t offset, size_t count);
    // Folds the `count` bytes at `offset` into `bytes`: a byte that differs
    // from the ones noted before becomes -1 (the first call notes them all).
    void notePadBytes(uint64_t offset, size_t count, std::vector<int16_t>& bytes);

    ReferenceInfo& m_info;
    platform::File m_file;  // the reference, opened again for raw reads
};
