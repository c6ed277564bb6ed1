#include "support/reference_test_media.h"

#include "support/test_support.h"

#include <algorithm>
#include <sstream>

namespace reftest {

namespace {

const std::string kVideo =
    "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -c:v libx264 -pix_fmt yuv420p -g 25 ";
const std::string kAudioInput = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";

class RecordingSink : public LogSink {
public:
    explicit RecordingSink(std::vector<std::string>* lines) : m_lines(lines) {}
    void write(int level, const std::string& message) override {
        m_lines->push_back(std::to_string(level) + ":" + message);
    }

private:
    std::vector<std::string>* m_lines;
};

int64_t number(const std::string& s) {
    if (s.empty() || s == "N/A")
        return 0;
    return std::stoll(s);
}

}  // namespace

std::string h264AacMp4() {
    return testsupport::fixture("ref_h264_aac.mp4", "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 " +
                                                        kAudioInput +
                                                        "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -ac 2 "
                                                        "-chunk_duration 500000");
}

std::string h264PcmMov() {
    return testsupport::fixture("ref_h264_pcm.mov", "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 " +
                                                        kAudioInput +
                                                        "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a pcm_s16le -ac 2 "
                                                        "-chunk_duration 500000");
}

std::string h264TwoPcmMov() {
    return testsupport::fixture("ref_h264_2pcm.mov", "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 " +
                                                         kAudioInput +
                                                         "-map 0:v -map 1:a -map 1:a -c:v libx264 -pix_fmt yuv420p "
                                                         "-g 25 -c:a pcm_s16le -chunk_duration 500000");
}

std::string h264OnlyMov() {
    return testsupport::fixture("ref_h264_only.mov", kVideo + "-chunk_duration 500000");
}

std::vector<Packet> probePackets(const std::string& file) {
    const auto r = testsupport::runCommand("ffprobe -v error -show_entries packet=stream_index,pts,dts,size,pos "
                                           "-of compact=p=0:nk=0 " +
                                           testsupport::quote(file));
    std::vector<Packet> packets;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        Packet p;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '|')) {
            const auto eq = field.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = field.substr(0, eq);
            const std::string value = field.substr(eq + 1);
            if (key == "stream_index") p.stream = int(number(value));
            else if (key == "pts") p.pts = number(value);
            else if (key == "dts") p.dts = number(value);
            else if (key == "size") p.size = number(value);
            else if (key == "pos") p.pos = number(value);
        }
        if (p.stream >= 0)
            packets.push_back(p);
    }
    return packets;
}

std::vector<Run> fileOrderRuns(std::vector<Packet> packets) {
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
    std::vector<Run> runs;
    for (const Packet& p : packets) {
        if (runs.empty() || runs.back().stream != p.stream || runs.back().start + runs.back().bytes != p.pos)
            runs.push_back(Run{p.stream, p.pos, 0, 0});
        runs.back().bytes += p.size;
        ++runs.back().packets;
    }
    return runs;
}

std::string probeStream(const std::string& file, const std::string& selector, const std::string& key) {
    const auto r = testsupport::runCommand("ffprobe -v error -select_streams " + selector + " -show_entries stream=" +
                                           key + " -of default=nw=1:nk=1 " + testsupport::quote(file));
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string patchedCopy(const std::string& source, const std::string& name, const std::string& fourcc,
                        size_t relative, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data = testsupport::readFile(source);
    const auto it = std::search(data.begin(), data.end(), fourcc.begin(), fourcc.end());
    if (it == data.end())
        return "";
    const size_t at = size_t(it - data.begin()) + relative;
    if (at + bytes.size() > data.size())
        return "";
    std::copy(bytes.begin(), bytes.end(), data.begin() + long(at));
    const std::string path = testsupport::scratchDir("reference_" + name) + "/" + name;
    return testsupport::writeFile(path, data) ? path : "";
}

LogCapture::LogCapture(int level) : m_logger(new Logger()) {
    m_logger->setLevel(level);
    m_logger->addSink(new RecordingSink(&m_lines), level);
}

LogCapture::~LogCapture() = default;

std::vector<std::string> LogCapture::messages(int level, const std::string& prefix) const {
    const std::string head = std::to_string(level) + ":" + prefix;
    std::vector<std::string> out;
    for (const std::string& l : m_lines)
        if (l.compare(0, head.size(), head) == 0)
            out.push_back(l.substr(std::to_string(level).size() + 1));
    return out;
}

bool LogCapture::has(int level, const std::string& message) const {
    const std::string line = std::to_string(level) + ":" + message;
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}

}  // namespace reftest
