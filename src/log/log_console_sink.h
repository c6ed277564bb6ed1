#pragma once
// Log sink on standard output; every line is flushed.

#include "log/log_sink.h"

class LogConsoleSink : public LogSink {
public:
    void write(int level, const std::string& message) override;
};
