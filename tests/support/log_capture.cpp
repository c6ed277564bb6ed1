#include "support/log_capture.h"

#include "log/log_sink.h"

namespace testsupport {

namespace {

class RecordingSink : public LogSink {
public:
    explicit RecordingSink(std::vector<std::pair<int, std::string>>* lines) : m_lines(lines) {}
    void write(int level, const std::string& message) override { m_lines->emplace_back(level, message); }

private:
    std::vector<std::pair<int, std::string>>* m_lines;
};

}  // namespace

LogCapture::LogCapture(int level) : m_logger(new Logger()) {
    m_logger->setLevel(level);
    m_logger->addSink(new RecordingSink(&m_lines), level);
}

LogCapture::~LogCapture() = default;

std::vector<std::string> LogCapture::messages(int level, const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& [l, m] : m_lines)
        if (l == level && m.compare(0, prefix.size(), prefix) == 0)
            out.push_back(m);
    return out;
}

bool LogCapture::has(int level, const std::string& message) const {
    for (const auto& [l, m] : m_lines)
        if (l == level && m == message)
            return true;
    return false;
}

bool LogCapture::contains(const std::string& text) const {
    for (const auto& line : m_lines)
        if (line.second.find(text) != std::string::npos)
            return true;
    return false;
}

std::string LogCapture::text() const {
    std::string out;
    for (const auto& [l, m] : m_lines)
        out += std::string("[") + LogLevel::name(l) + "] " + m + "\n";
    return out;
}

}  // namespace testsupport
