#include "camera/stream_bytes.h"

namespace cameratest {

std::vector<uint8_t> streamBytes(const std::string& file, const std::string& map, const char* format,
                               bool ignoreEditList) {
    using testsupport::quote;
    const std::string raw = file + "." + format;
    testsupport::runCommand(std::string("ffmpeg -nostdin -v error -y ") + (ignoreEditList ? "-ignore_editlist 1 " : "") +
                            "-i " + quote(file) + " -map " + map + " -c copy -f " + format + " " + quote(raw));
    return testsupport::readFile(raw);
}

}  // namespace cameratest
