#pragma once
// Log sink on standard output. On a terminal every line is flushed, so that
// it lands in order with the progress line on standard error. Into a pipe or
// a file the lines are collected and written in blocks: a line per system
// call was a few percent of a repair at the default level. Warnings and
// errors are flushed at once, and so is a line that follows a pause, so a
// watcher of the log never waits long for what happened.

#include "log/log_sink.h"

#include <chrono>

class LogConsoleSink : public LogSink {
public:
    explicit LogConsoleSink(bool buffered) : m_buffered(buffered) {}
    ~LogConsoleSink() override;
    void write(int level, const std::string& message) override;
    void flush() override;

private:
    bool m_buffered;
    std::chrono::steady_clock::time_point m_lastFlush = std::chrono::steady_clock::now();
};
