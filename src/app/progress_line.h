#pragma once
// The live line on standard error while the input is scanned, shown only when
// standard error is a terminal: how much of the input is done, how fast, what
// was found so far and how long the rest should take. When the log goes to
// the terminal as well, the line is wiped before each log line and drawn
// again after it, so that it stays below the scrolling log. It is wiped for
// good when the object goes.

#include "log/log_sink.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class Logger;

class ProgressLine {
public:
    // Null when standard error is not a terminal: then nothing of the line is
    // ever computed or written. `end` is one past the last byte to scan.
    static std::unique_ptr<ProgressLine> forTerminal(Logger& logger, int64_t start, int64_t end);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line for the scan having reached `offset`.
    void show(int64_t offset, uint64_t videoFrames, uint64_t audioBlocks);

private:
    // Called by the logger around every log line.
    struct Wipe : LogSink {
        explicit Wipe(ProgressLine& line) : m_line(line) {}
        void write(int, const std::string&) override { m_line.wipe(); }
        ProgressLine& m_line;
    };
    struct Redraw : LogSink {
        explicit Redraw(ProgressLine& line) : m_line(line) {}
        void write(int, const std::string&) override { m_line.draw(); }
        ProgressLine& m_line;
    };

    ProgressLine(Logger* logger, int64_t start, int64_t end, size_t width);
    void draw();
    void wipe();

    Logger* m_logger;  // set when log lines reach the same terminal
    Wipe m_wipe{*this};
    Redraw m_redraw{*this};
    int64_t m_start;
    int64_t m_end;
    size_t m_width;  // columns the text may use without wrapping
    std::chrono::steady_clock::time_point m_began;
    std::string m_text;  // what the line shows
    bool m_shown = false;
};
