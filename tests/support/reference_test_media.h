#pragma once
// Media and outside judgements shared by the reference analysis tests: ffmpeg
// fixtures, ffprobe's packet list grouped into file-order runs, byte patches
// of copied fixtures, and log capture.

#include "log/logger.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace reftest {

// 2 s of H.264 25 fps (GOP 25, so B-frames and composition offsets) plus
// 48 kHz stereo audio, 320x240; chunks of about 0.5 s.
std::string h264AacMp4();      // AAC in .mp4
std::string h264PcmMov();      // 16-bit PCM in .mov (fixed sample size)
std::string h264TwoPcmMov();   // video, then the same PCM twice: V A1 A2 cycles
std::string h264OnlyMov();     // no audio

struct Packet {
    int stream = -1;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t size = 0;
    int64_t pos = -1;
};
// ffprobe's packets in demux order.
std::vector<Packet> probePackets(const std::string& file);

// Consecutive packets of one stream in file order: what a muxer writes as one chunk.
struct Run {
    int stream = -1;
    int64_t start = 0;
    int64_t bytes = 0;
    int packets = 0;
};
std::vector<Run> fileOrderRuns(std::vector<Packet> packets);

// One ffprobe stream entry as key=value pairs ("" when the key is missing).
std::string probeStream(const std::string& file, const std::string& selector, const std::string& key);

// Copies a file into the scratch folder and overwrites bytes at the offset
// relative to the first occurrence of the fourcc. Empty on failure.
std::string patchedCopy(const std::string& source, const std::string& name, const std::string& fourcc,
                        size_t relative, const std::vector<uint8_t>& bytes);

// A process-wide logger for one test, recording "LEVEL:message" lines.
class LogCapture {
public:
    explicit LogCapture(int level);
    ~LogCapture();
    const std::vector<std::string>& lines() const { return m_lines; }
    // Messages (without the level) of the given level that start with the prefix.
    std::vector<std::string> messages(int level, const std::string& prefix = "") const;
    bool has(int level, const std::string& message) const;

private:
    std::vector<std::string> m_lines;
    std::unique_ptr<Logger> m_logger;
};

}  // namespace reftest
