#include "bitstream/stream_fixtures.h"

#include "bitstream/common/nal_span.h"
#include "support/nal_builder.h"
#include "support/test_support.h"

namespace bitstest {

Stream loadStream(const std::string& name, const std::string& ffmpegArgs) {
    Stream s;
    s.path = testsupport::fixture(name, ffmpegArgs);
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

}  // namespace bitstest
