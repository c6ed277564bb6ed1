#include "log/log_stream_sink.h"

void LogStreamSink::write(int level, const std::string& message) {
    if (!m_stream)
        return;
    *m_stream << formatLine(level, message);
    if (m_flush)
        *m_stream << std::endl;
    else
        *m_stream << '\n';
}
