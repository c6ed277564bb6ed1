#include "log/log_console_sink.h"

#include "log/log_level.h"

#include <iostream>

namespace {

// Lines collected for longer than this are flushed with the next one.
constexpr std::chrono::milliseconds kFlushInterval{250};

}  // namespace

LogConsoleSink::~LogConsoleSink() { flush(); }

void LogConsoleSink::write(int level, const std::string& message) {
    std::cout << formatLine(level, message) << '\n';
    if (!m_buffered || level <= LogLevel::Warning) {
        flush();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastFlush >= kFlushInterval)
        flush();
}

void LogConsoleSink::flush() {
    std::cout.flush();
    m_lastFlush = std::chrono::steady_clock::now();
}
