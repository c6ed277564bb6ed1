#pragma once
// Finding whole video chunks of the reference's kind in the damaged input:
// runs of samples that the codec accepts, as many as a chunk of the
// reference holds, with no more than a small gap between them. The codec
// enters only through SampleCodec; the chunk profiles come from the
// reference's chunk table.

#include "analysers/chunk/chunk_candidate.h"
#include "analysers/chunk/sample_codec.h"
#include "reference/video_chunk_profiles.h"
#include "scan/byte_block.h"
#include "scan/scan_buffer.h"

#include <cstdint>
#include <string>
#include <vector>

// How far one search from a scan position looks for the next chunk, and how
// many bytes it reads to do so.
struct ChunkSearchSpan {
    int64_t window = 0;  // starts tried lie in the first `window` bytes
    int64_t read = 0;    // bytes wanted from the scan position
};

// The span for these chunk profiles: one interleave cycle (the padding the
// reference leaves behind a video chunk, `videoStopGap`, and the audio bytes
// of a cycle, `audioCycle`) plus half the largest chunk, at least 1 MiB and
// at most 128 MiB in all; the read adds the largest chunk, so that a chunk
// that starts at the end of the window is read whole.
ChunkSearchSpan chunkSearchSpan(const std::vector<ChunkProfile>& chunks, int64_t videoStopGap, int64_t audioCycle);

// The `want` bytes a search reads from `offset` (fewer near the end of the
// input; `n` says how many). Most searches fit the scan window, which is then
// read only once per 8 MiB; larger ones get `block` of their own. Null when
// nothing could be read. The pointer is good until the window moves.
const uint8_t* readSearchBytes(ScanBuffer& buffer, int64_t offset, int64_t want, ByteBlock& block, int64_t& n);

class ChunkSearch {
public:
    // `chunks`: tried in their order. `gapLimit`: the most bytes allowed
    // between two samples of a chunk. `logLabel` names the codec in log lines.
    ChunkSearch(const SampleCodec& codec, const std::vector<ChunkProfile>& chunks, int64_t gapLimit,
                std::string logLabel);

    // Does a whole chunk start at `data` (n bytes available)? Tries the chunk
    // profiles in their order; the first that fits gives the candidate
    // (offset left at 0). When none fits, the samples that do follow one
    // another there (at least one, at most as many as the largest profile)
    // make a short chunk: the last chunk of a recording, the part of a chunk
    // in front of damage or of a cut, or a chunk of a length the reference
    // never used.
    bool validate(const uint8_t* data, int64_t n, ChunkCandidate& out) const;

    // The first start in [0, range - 10] where a sample could begin and a
    // chunk validates over the bytes from there to n; -1 when there is none.
    // `out.offset` is the start relative to `data`.
    int64_t search(const uint8_t* data, int64_t n, int64_t range, ChunkCandidate& out) const;

    int64_t gapLimit() const { return m_gapLimit; }

private:
    // `samples` samples from `data`; with `allowShort` fewer will do.
    bool validateProfile(const uint8_t* data, int64_t n, uint32_t samples, bool allowShort,
                         ChunkCandidate& out) const;
    // Of two candidates of as many samples, `shift` bytes apart: does the
    // inner one's first sample hold more units than the outer one's, which
    // begins less than a length prefix in front of it?
    bool splitsFirstSample(const uint8_t* outerData, const ChunkCandidate& outer, const uint8_t* innerData,
                           const ChunkCandidate& inner, int64_t shift) const;

    const SampleCodec& m_codec;
    const std::vector<ChunkProfile>& m_chunks;
    uint32_t m_largest = 0;  // samples of the largest profile
    int64_t m_gapLimit;
    std::string m_logLabel;
};
