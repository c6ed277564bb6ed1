#include "camera/stream_bytes.h"

namespace cameratest {

using testsupport::quote;

Repaired repair(const std::string& test, const std::string& ref, const std::vector<uint8_t>& damaged,
                const std::string& inName, const std::string& flags) {
    const std::string dir = testsupport::scratchDir(test);
    const std::string in = dir + "/" + inName, out = dir + "/out.mov";
    testsupport::writeFile(in, damaged);
    const auto r = testsupport::runFramend("-i " + quote(in) + " -ref " + quote(ref) + " -o " + quote(out) + " " + flags, true);
    return {r.output, r.exitCode, out};
}

}  // namespace cameratest
