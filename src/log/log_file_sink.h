#pragma once
// Log sink that owns its file. Construction throws std::runtime_error
// "Could not open file "<name>" for logging!" when the file cannot be created.

#include "log/log_stream_sink.h"

#include <fstream>
#include <memory>

class LogFileSink : public LogStreamSink {
public:
    LogFileSink(const std::string& fileName, bool flush);
    ~LogFileSink() override;

private:
    std::unique_ptr<std::ofstream> m_file;
};
