#include "analysers/chunk/chunk_search.h"

#include "log/logger.h"

#include <algorithm>
#include <utility>

namespace {

// A candidate search stops this many bytes before the end of its range: a
// length prefix, a header and a few bytes of picture data need that much.
constexpr int64_t kSearchTail = 10;
// Fewer bytes than this behind a sample cannot begin another one.
constexpr int64_t kMinSampleBytes = 5;
// A search looks this far ahead for the next chunk (beyond one interleave
// cycle) before it gives up on the range, and never further than the cap.
constexpr int64_t kMinSearchWindow = 1 << 20;
constexpr int64_t kMaxSearchWindow = 128 * 1024 * 1024;
constexpr int64_t kSearchReadSlack = 256;

}  // namespace

ChunkSearchSpan chunkSearchSpan(const std::vector<ChunkProfile>& chunks, int64_t videoStopGap, int64_t audioCycle) {
    uint64_t largestChunk = 0;
    for (const ChunkProfile& p : chunks)
        largestChunk = std::max(largestChunk, p.maxSize);
    const int64_t c = int64_t(std::min<uint64_t>(largestChunk, uint64_t(kMaxSearchWindow)));
    ChunkSearchSpan span;
    span.window = std::min(videoStopGap + audioCycle + std::max(c / 2, kMinSearchWindow), kMaxSearchWindow);
    span.read = span.window + c + kSearchReadSlack;
    return span;
}

const uint8_t* readSearchBytes(ScanBuffer& buffer, int64_t offset, int64_t want, ByteBlock& block, int64_t& n) {
    if (uint64_t(want) <= buffer.capacity()) {
        const uint8_t* data = buffer.get(offset, int32_t(want));
        n = std::min<int64_t>(buffer.available(), want);
        return data;
    }
    block = buffer.readBlock(offset, int32_t(want));
    n = block.length();
    return block.data();
}

ChunkSearch::ChunkSearch(const SampleCodec& codec, const std::vector<ChunkProfile>& chunks, int64_t gapLimit,
                         std::string logLabel)
    : m_codec(codec), m_chunks(chunks), m_gapLimit(gapLimit), m_logLabel(std::move(logLabel)) {
    for (const ChunkProfile& profile : m_chunks)
        m_largest = std::max(m_largest, profile.samples);
}

bool ChunkSearch::validateProfile(const uint8_t* data, int64_t n, uint32_t samples, bool allowShort,
                                  ChunkCandidate& out) const {
    out.samples.clear();
    int64_t pos = 0;
    for (uint32_t s = 0; s < samples; ++s) {
        const int64_t size = m_codec.measureSample(data + pos, n - pos);
        if (size <= 0 || pos + size > n) {
            if (allowShort && !out.samples.empty())
                break;
            return false;
        }
        out.samples.push_back({pos, int32_t(size), -1});
        if (s + 1 == samples)
            break;
        const int64_t end = pos + size;
        if (n - end < kMinSampleBytes) {
            if (allowShort)
                break;
            return false;
        }
        pos = end;
        if (!m_codec.continuesAt(data + end, n - end)) {
            // Recorders may leave padding between frames: the next sample
            // starts where the codec sees one within the gap limit.
            bool found = false;
            for (int64_t d = 1; d <= m_gapLimit && n - (end + d) >= kMinSampleBytes; ++d) {
                if (m_codec.beginsAfterPadding(data + end + d, n - end - d)) {
                    pos = end + d;
                    found = true;
                    break;
                }
            }
            if (!found) {
                if (allowShort)
                    break;
                return false;
            }
        }
    }
    for (size_t s = 1; s < out.samples.size(); ++s) {
        const int64_t gap = out.samples[s].start - (out.samples[s - 1].start + out.samples[s - 1].size);
        if (gap > m_gapLimit) {
            FLOG(LogLevel::Debug) << m_logLabel << " chunk candidate rejected: internal gap=" << gap
                                  << " limit=" << m_gapLimit << " sample=" << s;
            return false;
        }
    }
    return true;
}

bool ChunkSearch::validate(const uint8_t* data, int64_t n, ChunkCandidate& out) const {
    for (size_t p = 0; p <= m_chunks.size(); ++p) {
        const bool fallback = p == m_chunks.size();
        const uint32_t samples = fallback ? m_largest : m_chunks[p].samples;
        if (samples == 0)
            continue;
        if (!validateProfile(data, n, samples, fallback, out))
            continue;
        out.offset = 0;
        out.size = out.samples.back().start + out.samples.back().size;
        for (ChunkCandidate::Sample& s : out.samples)
            s.ppsId = m_codec.parameterSetId(data + s.start, s.size);
        return true;
    }
    out.samples.clear();
    return false;
}

bool ChunkSearch::splitsFirstSample(const uint8_t* outerData, const ChunkCandidate& outer, const uint8_t* innerData,
                                    const ChunkCandidate& inner, int64_t shift) const {
    // A length prefix read up to three bytes early (one, for two-byte
    // lengths): the tail of an audio frame ending in zeros, then the true
    // prefix's first byte, makes one long unit of what is a picture's
    // slices: the start that finds them separately is the picture's own.
    // Read early, a length also takes the true one's bytes as its lower
    // ones and claims more: a single unit that runs past the end of the
    // picture found a few bytes on swallows it (a picture read a few bytes
    // late claims more still, never less).
    if (shift >= int64_t(m_codec.lengthSize()) || inner.samples.size() != outer.samples.size())
        return false;
    const ChunkCandidate::Sample& a = outer.samples.front();
    const ChunkCandidate::Sample& b = inner.samples.front();
    const uint32_t outerUnits = m_codec.unitCount(outerData + a.start, a.size);
    if (outerUnits == 0)
        return false;
    const bool swallowed = outerUnits == 1 && shift + b.start + b.size < a.start + a.size;
    return swallowed || m_codec.unitCount(innerData + b.start, b.size) > outerUnits;
}

int64_t ChunkSearch::search(const uint8_t* data, int64_t n, int64_t range, ChunkCandidate& out) const {
    if (range < kSearchTail)
        return -1;
    const int64_t last = range - kSearchTail;
    for (int64_t i = m_codec.nextPlausibleStart(data, n, 0, last); i >= 0;
         i = i < last ? m_codec.nextPlausibleStart(data, n, i + 1, last) : -1) {
        if (!validate(data + i, n - i, out))
            continue;
        // Real frames never hold other frames. A "frame" that swallows the
        // start of a longer run of frames is a chance match in the bytes in
        // front of it (PCM audio passes the unit tests now and then); the
        // run inside wins.
        if (out.samples.size() < m_largest) {
            const int64_t firstEnd = i + out.samples.front().start + out.samples.front().size;
            const int64_t innerLast = std::min(firstEnd - 1, n - kSearchTail);
            ChunkCandidate inner;
            for (int64_t j = i + 1; j <= innerLast; ++j) {
                j = m_codec.nextPlausibleStart(data, n, j, innerLast);
                if (j < 0)
                    break;
                if (!validate(data + j, n - j, inner))
                    continue;
                if (inner.samples.size() > out.samples.size() || splitsFirstSample(data + i, out, data + j, inner, j - i)) {
                    out = inner;
                    i = j;
                    break;
                }
            }
        }
        out.offset = i;
        return i;
    }
    return -1;
}
