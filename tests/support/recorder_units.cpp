#include "support/recorder_units.h"

#include "support/test_support.h"

namespace recorderunits {

namespace {

// A byte stream with the units `plant` returns, each behind a 4-byte start code.
Bytes plantUnits(const Bytes& stream, const Planter& plant) {
    Bytes out;
    out.reserve(stream.size() + stream.size() / 8);
    size_t copied = 0, index = 0;
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1)
            continue;
        // The unit's start code begins one byte earlier when it has four.
        const size_t start = i > 0 && stream[i - 1] == 0 ? i - 1 : i;
        const Bytes units = plant(stream.data() + i + 3, index++);
        out.insert(out.end(), stream.begin() + long(copied), stream.begin() + long(start));
        out.insert(out.end(), units.begin(), units.end());
        copied = start;
        i += 2;
    }
    out.insert(out.end(), stream.begin() + long(copied), stream.end());
    const Bytes tail = plant(nullptr, index);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

}  // namespace

std::string plantedRecording(const std::string& test, const std::string& name, const std::string& picture,
                             const std::string& encode, const std::string& format, const Planter& plant,
                             const std::string& mux) {
    using testsupport::quote;
    const std::string dir = testsupport::scratchDir(test);
    const std::string raw = dir + "/encoded." + format, planted = dir + "/planted." + format;
    const std::string movie = dir + "/" + name;
    const std::string source = picture + (picture.find('=') == std::string::npos ? "=" : ":");
    if (testsupport::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + source +
                                "size=320x240:rate=25 -t 2 " + encode + " -f " + format + " " + quote(raw))
            .exitCode != 0)
        return "";
    if (!testsupport::writeFile(planted, plantUnits(testsupport::readFile(raw), plant)))
        return "";
    if (testsupport::runCommand("ffmpeg -nostdin -v error -y -f " + format + " -framerate 25 -i " + quote(planted) +
                                " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -c:v copy -c:a aac " + mux +
                                " " + quote(movie))
            .exitCode != 0)
        return "";
    return movie;
}

}  // namespace recorderunits
