#pragma once
// Abstract destination of log lines. Every sink writes "[" + level name + "] " + message.

#include <string>

class LogSink {
public:
    virtual void write(int level, const std::string& message) = 0;
    virtual ~LogSink() = default;

protected:
    static std::string formatLine(int level, const std::string& message);
};
