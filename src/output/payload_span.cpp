#include "output/payload_span.h"

#include "log/logger.h"
#include "qt/movie_file.h"
#include "qt/movie_writer.h"

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
    const bool ok = m_start ? QTWritePayload(m_movie, m_start, m_length)
                            : QTCopyPayload(m_movie, *m_source, m_sourceStart, m_length);
    if (!ok)
        FLOG(LogLevel::Error) << "cannot write " << m_length << " bytes of samples to " << m_movie->m_fileName;
    m_start = nullptr;
    m_length = 0;
    return ok;
}
