#include "analysers/core/mdat_analyser.h"

#include "analysers/core/clip_sink.h"
#include "analysers/core/top_level_atom.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

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
    // Media data rarely starts a signature's first letter; a tight loop over
    // those four bytes is much cheaper than a call per position.
    const int32_t end = std::min(count, available - 3);
    for (int32_t i = 0; i < end; ++i) {
        const uint8_t c = data[i];
        if ((c == 'f' || c == 'm' || c == 'c' || c == 's') && check(offset + i, data + i, available - i))
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
