#pragma once
// A process-wide logger for one test that records what reaches it.

#include "log/logger.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class LogCapture {
public:
    explicit LogCapture(int level = LogLevel::Info);
    ~LogCapture();
    // Messages of the given level that start with the prefix.
    std::vector<std::string> messages(int level, const std::string& prefix = "") const;
    bool has(int level, const std::string& message) const;
    // Any message at any level containing the text.
    bool contains(const std::string& text) const;
    // Every line as the console shows it: "[LEVEL] message\n".
    std::string text() const;

private:
    std::vector<std::pair<int, std::string>> m_lines;
    std::unique_ptr<Logger> m_logger;
};

}  // namespace testsupport
