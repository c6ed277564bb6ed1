#include "support/output_test_util.h"

#include "log/log_sink.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "support/test_support.h"

#include <sstream>

namespace outtest {

namespace {

class RecordingSink : public LogSink {
public:
    explicit RecordingSink(std::vector<std::pair<int, std::string>>* lines) : m_lines(lines) {}
    void write(int level, const std::string& message) override { m_lines->emplace_back(level, message); }

private:
    std::vector<std::pair<int, std::string>>* m_lines;
};

}  // namespace

std::string h264AacMp4() {
    return testsupport::fixture("out_h264_aac.mp4",
                                "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                "-c:v libx264 -pix_fmt yuv420p -g 25 -bf 2 -c:a aac -ac 2 -shortest");
}

std::string hevcMp4() {
    return testsupport::fixture("out_hevc.mp4",
                                "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -c:v libx265 -preset ultrafast "
                                "-x265-params log-level=error -tag:v hvc1 -pix_fmt yuv420p");
}

std::string proresPcmMov() {
    return testsupport::fixture("out_prores_pcm.mov",
                                "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                "-c:v prores -profile:v 0 -pix_fmt yuv422p10le -c:a pcm_s16le -ac 2 -shortest");
}

std::unique_ptr<RepairState> stateFromReference(const std::string& reference, const std::string& output) {
    auto state = std::make_unique<RepairState>();
    state->m_reference = ReferenceInfo::build(reference, false);
    state->m_reference->analyseChunks();
    state->m_reference->collectSamples();
    state->m_video->mergeFrom(state->m_reference->video());
    state->m_audio->mergeFrom(state->m_reference->audio());
    state->m_inputFileName = reference;
    state->m_referenceFileName = reference;
    state->m_referenceIsInput = true;
    setOutputNames(*state, output, "", "");
    reset_clip(*state, true);
    return state;
}

std::string clipName(const std::string& output, int clip) {
    // The first clip keeps the given name; later ones are numbered.
    if (clip == 0)
        return output;
    std::string base, extension;
    splitOutputName(output, base, extension);
    return base + "_" + std::to_string(clip) + "." + extension;
}

std::vector<std::vector<std::string>> packets(const std::string& file) {
    std::vector<std::vector<std::string>> result;
    // Edit lists are ignored on both sides: the repaired movie keeps the
    // media timing but not the reference's priming and start offsets.
    const auto r = testsupport::runCommand("ffmpeg -nostdin -hide_banner -loglevel error -ignore_editlist 1 -i " +
                                           testsupport::quote(file) + " -c copy -f framemd5 -");
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream in(line);
        std::string field;
        while (std::getline(in, field, ',')) {
            const size_t start = field.find_first_not_of(' ');
            fields.push_back(start == std::string::npos ? "" : field.substr(start));
        }
        result.push_back(fields);
    }
    return result;
}

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

}  // namespace outtest
