#include "log/log_console_sink.h"

#include <iostream>

void LogConsoleSink::write(int level, const std::string& message) {
    std::cout << formatLine(level, message) << std::endl;
}
