#pragma once
// Shared by the output tests: small ffmpeg-made movies, a repair state set up
// from an intact reference, log capture and ffprobe judgements.

#include "log/logger.h"
#include "output/repair_state.h"

#include <memory>
#include <string>
#include <vector>

namespace outtest {

// 1 s of 320x240 H.264 (25 fps, B-frames, so composition offsets) with AAC, .mp4.
std::string h264AacMp4();
// 1 s of 320x240 HEVC ('hvc1', parameter sets only in the hvcC), .mp4.
std::string hevcMp4();
// 1 s of 320x240 ProRes with 16-bit PCM, .mov.
std::string proresPcmMov();

// A repair state as the driver leaves it before the scan: reference built and
// analysed, its samples collected, working parameters merged from it, input
// and reference the given file, the first clip named after `output` (which
// may be empty: no movie output).
std::unique_ptr<RepairState> stateFromReference(const std::string& reference, const std::string& output);

// The file the first clip of -o `output` is written to.
std::string clipName(const std::string& output, int clip);

// framemd5 lines (edit lists ignored) split into their fields: stream, dts,
// pts, duration, size, md5.
std::vector<std::vector<std::string>> packets(const std::string& file);

// A process-wide logger for one test, recording "LEVEL:message" lines.
class LogCapture {
public:
    explicit LogCapture(int level = LogLevel::Info);
    ~LogCapture();
    // Messages of the given level that start with the prefix.
    std::vector<std::string> messages(int level, const std::string& prefix = "") const;
    bool has(int level, const std::string& message) const;
    // Any message at any level containing the text.
    bool contains(const std::string& text) const;
    const std::vector<std::pair<int, std::string>>& lines() const { return m_lines; }

private:
    std::vector<std::pair<int, std::string>> m_lines;
    std::unique_ptr<Logger> m_logger;
};

}  // namespace outtest
