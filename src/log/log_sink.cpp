#include "log/log_sink.h"

#include "log/log_level.h"

std::string LogSink::formatLine(int level, const std::string& message) {
    std::string line;
    line.reserve(message.size() + 12);
    line += '[';
    line += LogLevel::name(level);
    line += "] ";
    line += message;
    return line;
}
