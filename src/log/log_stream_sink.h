#pragma once
// Log sink on a caller's stream (not owned); flushing per line is optional.

#include "log/log_sink.h"

#include <ostream>

class LogStreamSink : public LogSink {
public:
    LogStreamSink(std::ostream* stream, bool flush) : m_stream(stream), m_flush(flush) {}
    void write(int level, const std::string& message) override;

protected:
    std::ostream* m_stream;
    bool m_flush;
};
