#pragma once
// The process-wide leveled logger. One Logger exists (owned by the application
// object); Logger::instance() reaches it from anywhere. The logger's level gates
// the composition of messages (see FLOG), each sink's level gates delivery.

#include "log/log_level.h"
#include "log/log_sink.h"

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

class Logger {
public:
    // Registers itself as the process-wide logger.
    Logger();
    virtual ~Logger();  // deletes the sinks, clears the process-wide pointer
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    static Logger* instance() { return s_instance; }

    // Takes ownership; entries are kept sorted by level, highest first.
    void addSink(LogSink* sink, int level);
    // Unlinks without deleting; false when the sink is not registered.
    bool removeSink(LogSink* sink);
    void clearSinks();

    void log(int level, const std::string& message);
    // Every sink writes out the lines it has collected (before a long
    // stretch without any, say).
    void flush();

    int level() const { return m_level; }
    void setLevel(int level) { m_level = level; }

private:
    static Logger* s_instance;
    std::vector<std::pair<int, LogSink*>> m_sinks;
    int m_level = LogLevel::Info;
};

// True when a message of this level would be composed at all.
inline bool logEnabled(int level) {
    const Logger* l = Logger::instance();
    return l && l->level() >= level;
}

// Collects one message and hands it to the logger when it goes out of scope.
// A repair logs a line per sample at the default level: each thread keeps
// one string stream for its lines (setting one up costs more than the line),
// and a line composed while another is (a value whose computation logs)
// gets a stream of its own.
class LogLine {
public:
    explicit LogLine(int level);
    ~LogLine();
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    std::ostringstream& stream() { return *m_text; }

private:
    int m_level;
    std::ostringstream* m_text;
    std::unique_ptr<std::ostringstream> m_own;  // when the thread's stream is in use
};

// Turns the streamed expression into void so that FLOG can be a conditional
// expression (safe inside an unbraced if/else).
struct LogVoidify {
    void operator&(std::ostream&) {}
};

// FLOG(LogLevel::Notice) << "text " << value;  composes nothing when the level is off.
#define FLOG(level) !logEnabled(level) ? (void)0 : LogVoidify() & LogLine(level).stream()
