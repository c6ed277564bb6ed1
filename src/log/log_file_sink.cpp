#include "log/log_file_sink.h"

#include <stdexcept>

LogFileSink::LogFileSink(const std::string& fileName, bool flush)
    : LogStreamSink(nullptr, flush), m_file(std::make_unique<std::ofstream>(fileName, std::ios::out | std::ios::trunc)) {
    if (!m_file->is_open())
        throw std::runtime_error("Could not open file \"" + fileName + "\" for logging!");
    m_stream = m_file.get();
}

LogFileSink::~LogFileSink() {
    if (m_file)
        m_file->close();
}
