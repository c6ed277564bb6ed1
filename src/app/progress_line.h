#pragma once
// The live line on standard error while the input is scanned, shown only when
// standard error is a terminal: how much of the input is done, how fast, what
// was found so far and how long the rest should take. A log line on the same
// terminal wipes it first (the next update draws it again); it is wiped for
// good when the object goes.

#include "log/log_sink.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class Logger;

class ProgressLine : public LogSink {
public:
    // Null when standard error is not a terminal: then nothing of the line is
    // ever computed or written. `end` is one past the last byte to scan.
    static std::unique_ptr<ProgressLine> forTerminal(Logger& logger, int64_t start, int64_t end);
    ~ProgressLine() override;
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line for the scan having reached `offset`.
    void show(int64_t offset, uint64_t videoFrames, uint64_t audioBlocks);
    // A log line is about to be written: wipe the progress line first.
    void write(int level, const std::string& message) override;

private:
    ProgressLine(Logger* logger, int64_t start, int64_t end, size_t width);
    void wipe();

    Logger* m_logger;  // set when log lines reach the same terminal
    int64_t m_start;
    int64_t m_end;
    size_t m_width;  // columns the text may use without wrapping
    std::chrono::steady_clock::time_point m_began;
    bool m_shown = false;
};
