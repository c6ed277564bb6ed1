#include "app/progress_line.h"

#include "log/log_level.h"
#include "log/logger.h"
#include "platform/terminal.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kEraseToEnd = "\x1b[K";

std::string clockText(double seconds) {
    const long total = long(seconds + 0.5);
    char buf[32];
    if (total >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", total / 60, total % 60);
    return buf;
}

void toStandardError(const std::string& s) {
    std::fputs(s.c_str(), stderr);
    std::fflush(stderr);
}

// secondsLeft < 0: not known yet.
std::string lineText(double percent, double megabytesPerSecond, uint64_t videoFrames, uint64_t audioBlocks,
                     double secondsLeft) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%5.1f%%  %.1f MB/s  %llu video frames  %llu audio blocks  %s left", percent,
                  megabytesPerSecond, static_cast<unsigned long long>(videoFrames),
                  static_cast<unsigned long long>(audioBlocks),
                  secondsLeft < 0 ? "-:--" : clockText(secondsLeft).c_str());
    return buf;
}

}  // namespace

std::unique_ptr<ProgressLine> ProgressLine::forTerminal(Logger& logger, int64_t start, int64_t end) {
    if (!platform::standardErrorIsTerminal())
        return nullptr;
    // Log lines only disturb the line when they go to a terminal as well.
    Logger* sharing = platform::standardOutputIsTerminal() ? &logger : nullptr;
    // The last column stays free: a line that fills it wraps on some terminals.
    std::unique_ptr<ProgressLine> line(
        new ProgressLine(sharing, start, end, platform::standardErrorColumns() - 1));
    if (sharing) {
        // Sinks of one level are called in the order they were added: the
        // wipe comes before every sink, the redraw after those already there.
        sharing->addSink(&line->m_wipe, LogLevel::Max);
        sharing->addSink(&line->m_redraw, logger.level());
    }
    return line;
}

ProgressLine::ProgressLine(Logger* logger, int64_t start, int64_t end, size_t width)
    : m_logger(logger), m_start(start), m_end(std::max(end, start)), m_width(width),
      m_began(std::chrono::steady_clock::now()) {}

ProgressLine::~ProgressLine() {
    if (m_logger) {
        m_logger->removeSink(&m_wipe);
        m_logger->removeSink(&m_redraw);
    }
    wipe();
}

void ProgressLine::show(int64_t offset, uint64_t videoFrames, uint64_t audioBlocks) {
    const int64_t done = std::clamp(offset, m_start, m_end) - m_start;
    const int64_t range = m_end - m_start;
    const double percent = range > 0 ? 100.0 * double(done) / double(range) : 100.0;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
    const double rate = seconds > 0 ? double(done) / seconds : 0.0;
    const double left = rate > 0 ? double(range - done) / rate : -1.0;
    m_text = lineText(percent, rate / 1e6, videoFrames, audioBlocks, left);
    if (m_text.size() > m_width)
        m_text.resize(m_width);
    m_shown = false;
    draw();
}

void ProgressLine::draw() {
    if (m_shown || m_text.empty())
        return;
    toStandardError("\r" + m_text + kEraseToEnd);
    m_shown = true;
}

void ProgressLine::wipe() {
    if (!m_shown)
        return;
    toStandardError(std::string("\r") + kEraseToEnd);
    m_shown = false;
}
