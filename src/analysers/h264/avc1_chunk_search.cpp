#include "analysers/h264/avc1_chunk_search.h"

#include "bitstream/h264/slice_header.h"
#include "log/logger.h"

#include <algorithm>

namespace {

// A candidate search stops this many bytes before the end of its range: a
// length prefix, a header byte and a few slice bytes need that much.
constexpr int64_t kSearchTail = 10;

}  // namespace

int32_t firstSlicePpsId(const uint8_t* sample, int64_t size) {
    int64_t pos = 0;
    NalUnitCheck nal;
    while (size - pos >= 5 && nalUnitCheck(sample + pos, size - pos, nal)) {
        if (nal.slice) {
            H264::SliceHeaderStart start;
            if (!H264::readSliceHeaderStart(sample + pos + 4, nal.length, start))
                return -1;
            return int32_t(start.pic_parameter_set_id);
        }
        pos += int64_t(nal.length) + 4;
    }
    return -1;
}

bool Avc1ChunkSearch::validateProfile(const uint8_t* data, int64_t n, uint32_t samples, bool allowShort,
                                      ChunkCandidate& out) const {
    out.samples.clear();
    int64_t pos = 0;
    for (uint32_t s = 0; s < samples; ++s) {
        const int64_t size = m_profile.measureSample(data + pos, n - pos);
        if (size <= 0 || pos + size > n) {
            if (allowShort && !out.samples.empty())
                break;
            return false;
        }
        out.samples.push_back({pos, int32_t(size), -1});
        if (s + 1 == samples)
            break;
        const int64_t end = pos + size;
        if (n - end < 5) {
            if (allowShort)
                break;
            return false;
        }
        pos = end;
        if (!m_profile.anchorTest(data + end, n - end)) {
            // With anchors, recorders may leave padding between frames: the
            // next sample starts at the next anchor within the gap limit.
            bool found = false;
            for (int64_t d = 1; d <= m_gapLimit && n - (end + d) >= 5; ++d) {
                if (m_profile.anchorAt(data + end + d, n - end - d)) {
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
            FLOG(LogLevel::Debug) << "AVC1 chunk candidate rejected: internal gap=" << gap << " limit=" << m_gapLimit
                                  << " sample=" << s;
            return false;
        }
    }
    return true;
}

bool Avc1ChunkSearch::validate(const uint8_t* data, int64_t n, ChunkCandidate& out) const {
    uint32_t largest = 0;
    for (const ChunkProfile& profile : m_chunks)
        largest = std::max(largest, profile.samples);
    for (size_t p = 0; p <= m_chunks.size(); ++p) {
        const bool fallback = p == m_chunks.size();
        const uint32_t samples = fallback ? largest : m_chunks[p].samples;
        if (samples == 0)
            continue;
        if (!validateProfile(data, n, samples, fallback, out))
            continue;
        out.offset = 0;
        out.size = out.samples.back().start + out.samples.back().size;
        for (ChunkCandidate::Sample& s : out.samples)
            s.ppsId = firstSlicePpsId(data + s.start, s.size);
        return true;
    }
    out.samples.clear();
    return false;
}

int64_t Avc1ChunkSearch::search(const uint8_t* data, int64_t n, int64_t range, ChunkCandidate& out) const {
    if (range < kSearchTail)
        return -1;
    NalUnitCheck nal;
    for (int64_t i = 0; i <= range - kSearchTail; ++i) {
        if (!nalUnitCheck(data + i, n - i, nal))
            continue;
        if (!validate(data + i, n - i, out))
            continue;
        // Real frames never hold other frames. A "frame" that swallows the
        // start of a longer run of frames is a chance match in the bytes in
        // front of it (PCM audio passes the unit tests now and then); the
        // run inside wins.
        uint32_t largest = 0;
        for (const ChunkProfile& profile : m_chunks)
            largest = std::max(largest, profile.samples);
        const int64_t firstEnd = i + out.samples.front().start + out.samples.front().size;
        ChunkCandidate inner;
        for (int64_t j = i + 1; out.samples.size() < largest && j < firstEnd && j <= n - kSearchTail; ++j) {
            if (!nalUnitCheck(data + j, n - j, nal) || !validate(data + j, n - j, inner))
                continue;
            if (inner.samples.size() > out.samples.size()) {
                out = inner;
                i = j;
                break;
            }
        }
        out.offset = i;
        return i;
    }
    return -1;
}
