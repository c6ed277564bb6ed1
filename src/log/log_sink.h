#pragma once
// Abstract destination of log lines. Every sink writes "[" + level name + "] " + message.

#include <string>

class LogSink {
public:
    virtual void write(int level, const std::string& message) = 0;
    // Hands on what a sink has collected; most write every line at once.
    virtual void flush() {}
    virtual ~LogSink() = default;

protected:
    static std::string formatLine(int level, const std::string& message);
};
