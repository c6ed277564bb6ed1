#include "analysers/core/mdat_analyser.h"

#include "analysers/core/clip_sink.h"
#include "analysers/core/top_level_atom.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

bool MDATAnalyser::accepts() {
    m_enabled = m_scanInfo && m_scanInfo->newClipDetection;
    return m_enabled;
}

bool MDATAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    if (available < 4)
        return false;
    // Atom types that open a recording or belong to its index.
    switch (data[0]) {
    case 'f': return std::memcmp(data, "ftyp", 4) == 0;
    case 'm': return std::memcmp(data, "mdat", 4) == 0;
    case 'c': return std::memcmp(data, "ctts", 4) == 0;
    case 's':
        return std::memcmp(data, "stsc", 4) == 0 || std::memcmp(data, "stco", 4) == 0 ||
               std::memcmp(data, "stsz", 4) == 0;
    default: return false;
    }
}

int32_t MDATAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    // Media data rarely holds a signature's first two letters ("ft", "md",
    // "ct", "st"); testing sixteen positions at once for those and calling
    // check() only on the hits keeps this search near the speed of reading.
    const int32_t end = std::min(count, available - 3);
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128i f = _mm_set1_epi8('f'), m = _mm_set1_epi8('m'), c = _mm_set1_epi8('c'), s = _mm_set1_epi8('s');
    const __m128i t = _mm_set1_epi8('t'), d = _mm_set1_epi8('d');
    for (; i + 16 <= end; i += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i firstHit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(first, f), _mm_cmpeq_epi8(first, m)),
                                              _mm_or_si128(_mm_cmpeq_epi8(first, c), _mm_cmpeq_epi8(first, s)));
        const __m128i secondHit = _mm_or_si128(_mm_cmpeq_epi8(second, t), _mm_cmpeq_epi8(second, d));
        for (uint32_t hits = uint32_t(_mm_movemask_epi8(_mm_and_si128(firstHit, secondHit))); hits;
             hits &= hits - 1) {
            const int32_t at = i + __builtin_ctz(hits);
            if (check(offset + at, data + at, available - at))
                return at;
        }
    }
#endif
    for (; i < end; ++i) {
        const uint8_t b = data[i];
        if ((b == 'f' || b == 'm' || b == 'c' || b == 's') && check(offset + i, data + i, available - i))
            return i;
    }
    return count;
}

bool MDATAnalyser::opensRecording(int64_t offset, ScanBuffer& buffer) const {
    constexpr int64_t kTypeOffset = 4;  // the type stands behind the 4-byte size
    constexpr int32_t kFileTypeRead = 2048;
    if (offset < kTypeOffset)
        return false;
    const int64_t start = offset - kTypeOffset;
    ByteBlock block = buffer.readBlock(start, kFileTypeRead);
    TopLevelAtom atom;
    return findTopLevelAtom(block.data(), block.length(), start, buffer.fileSize(), 0, atom) && atom.fileType;
}

bool MDATAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    if (!m_repairState)
        return false;
    RepairState& state = *m_repairState;
    const uint64_t n = state.m_samples.size();
    const bool repeated = offset == m_lastOffset;
    m_lastOffset = offset;
    // A whole file type atom with another top-level atom behind it opens a
    // recording by itself: a recording whose index was lost shows nothing
    // else there but its media data atom.
    const bool recordingStart = !repeated && opensRecording(offset, buffer);
    if (n != m_lastSampleCount) {
        m_lastSampleCount = n;
        m_hits = 0;
        if (!recordingStart)
            return false;
    }
    if (repeated)
        return false;
    ++m_hits;
    if (recordingStart)
        m_hits = std::max(m_hits, kClipSignatureHits);
    if (n < kMinClipSamples || m_hits < kClipSignatureHits || !m_enabled || !m_clips)
        return false;
    FLOG(LogLevel::Info) << "nfd at " << offset << " samples " << n;
    m_clips->startNextClip();
    if (m_scanInfo)
        m_scanInfo->resetCounters();
    m_lastSampleCount = state.m_samples.size();
    m_hits = 0;
    FLOG(LogLevel::Info) << "nfd reset " << state.m_samples.size();
    return false;
}
