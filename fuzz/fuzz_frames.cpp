// The self-delimiting frame analysers (ProRes, DV, Motion JPEG, AIC) on
// arbitrary bytes: each is offered every position its check() accepts, as
// the scan offers them, with no reference behind it.

#include "analysers/aic/icod_analyser.h"
#include "analysers/dv/dvc_analyser.h"
#include "analysers/jpeg/jpeg_analyser.h"
#include "analysers/prores/prores_analyser.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

template <class Analyser>
void scan(const std::string& file, uint32_t width) {
    RepairState state;
    state.m_video->m_width = width;
    ScanInfo info;
    info.stopOffset = 0;
    Analyser analyser(&state, &info);
    ScanBuffer buffer;
    if (!buffer.open(file))
        return;
    analyser.prepare();
    const int64_t size = buffer.fileSize();
    for (int64_t at = 0; at < size;) {
        const uint8_t* data = buffer.get(at, 1);
        const int32_t available = buffer.available();
        if (available <= 0)
            break;
        if (analyser.check(at, data, available) && analyser.analyse(at, buffer) && info.currentOffset > at) {
            at = info.currentOffset;
            continue;
        }
        ++at;
    }
    analyser.finish(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A logger without sinks: messages are composed (so that code runs) and dropped.
    static Logger* logger = [] {
        auto* l = new Logger();
        l->setLevel(LogLevel::Trace);
        return l;
    }();
    (void)logger;
    // The analysers read through the scan's file reader.
    static const std::string file = "/tmp/fuzz_frames_" + std::to_string(getpid()) + ".bin";
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    scan<ProResAnalyser>(file, 0);
    scan<DVCAnalyser>(file, 0);
    scan<JPEGAnalyser>(file, 0);
    scan<ICODAnalyser>(file, 1920);
    return 0;
}
