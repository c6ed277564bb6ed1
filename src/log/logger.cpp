#include "log/logger.h"

#include <algorithm>

Logger* Logger::s_instance = nullptr;

namespace {

struct ThreadLogStream {
    std::ostringstream text;
    bool inUse = false;
};
thread_local ThreadLogStream t_logStream;

}  // namespace

LogLine::LogLine(int level) : m_level(level) {
    if (!t_logStream.inUse) {
        t_logStream.inUse = true;
        m_text = &t_logStream.text;
    } else {
        m_own = std::make_unique<std::ostringstream>();
        m_text = m_own.get();
    }
}

LogLine::~LogLine() {
    if (Logger* l = Logger::instance())
        l->log(m_level, m_text->str());
    if (m_own)
        return;
    // The next line starts as a new stream would: empty, with the default
    // format (a line may have asked for hex or a precision).
    std::ostringstream& text = t_logStream.text;
    text.str(std::string());
    text.clear();
    text.flags(std::ios_base::dec | std::ios_base::skipws);
    text.precision(6);
    text.width(0);
    text.fill(' ');
    t_logStream.inUse = false;
}

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
