#include "log/logger.h"

#include <algorithm>

Logger* Logger::s_instance = nullptr;

namespace LogLevel {
const char* name(int level) {
    static const char* const names[] = {"NONE", "FATAL", "ERROR", "WARNING", "NOTICE", "INFO", "DEBUG", "TRACE"};
    if (level < 0)
        level = 0;
    if (level > Max)
        level = Max;
    return names[level / 10];
}
}  // namespace LogLevel

Logger::Logger() { s_instance = this; }

Logger::~Logger() {
    clearSinks();
    if (s_instance == this)
        s_instance = nullptr;
}

void Logger::addSink(LogSink* sink, int level) {
    if (!sink)
        return;
    m_sinks.emplace_back(level, sink);
    std::stable_sort(m_sinks.begin(), m_sinks.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
}

bool Logger::removeSink(LogSink* sink) {
    auto it = std::find_if(m_sinks.begin(), m_sinks.end(), [sink](const auto& e) { return e.second == sink; });
    if (it == m_sinks.end())
        return false;
    m_sinks.erase(it);
    return true;
}

void Logger::clearSinks() {
    for (auto& e : m_sinks)
        delete e.second;
    m_sinks.clear();
}

void Logger::log(int level, const std::string& message) {
    for (auto& e : m_sinks) {
        if (e.first < level)
            break;
        e.second->write(level, message);
    }
}

void Logger::flush() {
    for (auto& e : m_sinks)
        e.second->flush();
}
