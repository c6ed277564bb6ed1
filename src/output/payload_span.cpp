#include "output/payload_span.h"

#include "log/logger.h"
#include "qt/movie_file.h"
#include "qt/movie_writer.h"

#include <algorithm>

uint64_t PrecopiedRun::covers(uint64_t position, int64_t inputOffset, uint64_t size) const {
    auto behind = std::upper_bound(pieces.begin(), pieces.end(), position,
                                   [](uint64_t at, const Piece& p) { return at < p.output; });
    if (behind == pieces.begin())
        return 0;
    const Piece& p = *--behind;
    const uint64_t distance = position - p.output;
    if (distance >= p.length || inputOffset < p.input || uint64_t(inputOffset - p.input) != distance)
        return 0;
    return std::min(size, p.length - distance);
}

bool PayloadSpan::add(MovieTrack* track, const uint8_t* data, int64_t inputOffset, uint32_t size,
                      uint32_t compositionOffset) {
    const bool fromSource = !data && m_source && inputOffset >= 0;
    if (!data && !fromSource)
        return QTAddSamples(m_movie, track, data, size, compositionOffset);  // reports the missing buffer
    const uint64_t position = m_movie ? m_movie->m_position + m_length : 0;
    if (!QTAddSampleAt(m_movie, track, position, size, compositionOffset))
        return false;
    const bool continues = fromSource ? !m_start && inputOffset == m_sourceStart + int64_t(m_length)
                                      : m_start && data == m_start + m_length;
    if (m_length > 0 && !continues)
        flush();
    if (m_length == 0) {
        m_start = data;
        m_sourceStart = inputOffset;
    }
    m_length += size;
    return true;
}

bool PayloadSpan::flush() {
    if (m_length == 0)
        return true;
    bool ok = true;
    if (m_start) {
        ok = QTWritePayload(m_movie, m_start, m_length);
    } else {
        // What is in place is passed over; from the first byte that is not,
        // the rest is copied.
        uint64_t done = 0;
        while (ok && done < m_length) {
            const uint64_t n = m_precopied.covers(m_movie->m_position, m_sourceStart + int64_t(done), m_length - done);
            if (n == 0)
                break;
            ok = QTSkipPayload(m_movie, n);
            done += n;
        }
        if (ok && done < m_length)
            ok = QTCopyPayload(m_movie, *m_source, m_sourceStart + int64_t(done), m_length - done);
    }
    if (!ok)
        FLOG(LogLevel::Error) << "cannot write " << m_length << " bytes of samples to " << m_movie->m_fileName;
    m_start = nullptr;
    m_length = 0;
    return ok;
}
