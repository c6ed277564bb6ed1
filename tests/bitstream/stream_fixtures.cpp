#include "bitstream/stream_fixtures.h"

#include "bitstream/common/nal_span.h"
#include "support/nal_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace bitstest {

Stream loadStream(const std::string& name, const std::string& ffmpegArgs) {
    Stream s;
    s.path = testsupport::fixture(name, ffmpegArgs);
    if (s.path.empty())
        return s;
    s.bytes = testsupport::readFile(s.path);
    for (const auto& n : bitstream::splitAnnexB(s.bytes.data(), s.bytes.size()))
        s.nals.push_back(Stream::Nal{n.offset, n.size});
    return s;
}

std::vector<std::vector<uint8_t>> lengthPrefixedSamples(const Stream& s, bool hevc, bool keepParameterSets) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& n : s.nals) {
        const uint8_t* p = s.data(n);
        const unsigned type = hevc ? (p[0] >> 1) & 0x3F : p[0] & 0x1F;
        const bool aud = hevc ? type == 35 : type == 9;
        const bool ps = hevc ? (type >= 32 && type <= 34) : (type == 7 || type == 8);
        if (aud || out.empty())
            out.emplace_back();
        if (ps && !keepParameterSets)
            continue;
        testsupport::appendLengthPrefixed(out.back(), p, n.size);
    }
    return out;
}

std::vector<std::map<std::string, int64_t>> traceSlices(const std::string& path, const std::string& sliceStart) {
    std::vector<std::map<std::string, int64_t>> slices;
    const auto r = testsupport::runCommand("ffmpeg -nostdin -hide_banner -i " + testsupport::quote(path) +
                                               " -c copy -bsf:v trace_headers -f null - 2>&1",
                                           false);
    std::istringstream in(r.output);
    std::string line;
    bool inSlice = false;
    while (std::getline(in, line)) {
        if (line.find("[trace_headers") == std::string::npos)
            continue;
        // "[trace_headers @ 0x..] <bitpos> <name> <bits> = <value>"
        const auto close = line.find("] ");
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string pos, name, bits, eq;
        int64_t value = 0;
        if (!(fields >> pos >> name >> bits >> eq >> value) || eq != "=") {
            // A structure title such as "Sequence Parameter Set" ends a slice.
            inSlice = false;
            continue;
        }
        if (name == sliceStart) {
            slices.emplace_back();
            inSlice = true;
        }
        if (inSlice && !slices.back().count(name))
            slices.back()[name] = value;
    }
    return slices;
}

namespace {

// ffprobe's names for the colour codes the fixtures use.
std::string nameOf(unsigned v, const std::map<unsigned, std::string>& names) {
    const auto it = names.find(v);
    return it == names.end() ? "unknown" : it->second;
}

}  // namespace

void expectMatchesProbe(const PictureFacts& f, std::map<std::string, std::string> probe) {
    EXPECT_EQ(std::to_string(f.width), probe["width"]);
    EXPECT_EQ(std::to_string(f.height), probe["height"]);
    EXPECT_EQ(std::to_string(f.level), probe["level"]);
    // r_frame_rate is what ffprobe derives from the same VUI timing.
    int num = 0, den = 1;
    ASSERT_EQ(std::sscanf(probe["r_frame_rate"].c_str(), "%d/%d", &num, &den), 2);
    EXPECT_NEAR(f.frameRate, double(num) / den, 1e-6);
    EXPECT_EQ(nameOf(f.primaries, {{1, "bt709"}, {5, "bt470bg"}, {6, "smpte170m"}, {9, "bt2020"}}),
              probe["color_primaries"]);
    EXPECT_EQ(nameOf(f.transfer, {{1, "bt709"}, {6, "smpte170m"}, {14, "bt2020-10"}, {16, "smpte2084"}}),
              probe["color_transfer"]);
    EXPECT_EQ(nameOf(f.matrix, {{1, "bt709"}, {5, "bt470bg"}, {6, "smpte170m"}, {9, "bt2020nc"}}),
              probe["color_space"]);
    EXPECT_EQ(!f.signalTypePresent ? "unknown" : f.fullRange ? "pc" : "tv", probe["color_range"]);
}

}  // namespace bitstest
