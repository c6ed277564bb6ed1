// Slow-motion phones store each picture as one unit whose length covers the
// picture's own units in byte-stream form, behind a short prefix unit. The
// pictures' order counts sit behind those start codes; a repair that cannot
// read them takes the reference's B-frame pattern, and a reference of
// another scene has another one.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

using repairrun::Bytes;

// An x264 movie with adaptive B-frames (so the pattern follows the scene),
// two slices and a delimiter in every picture, whose pictures are then
// wrapped in place.
std::string wrappedRecording(const std::string& test, const std::string& picture) {
    const std::string dir = testsupport::scratchDir(test);
    const std::string movie = dir + "/wrapped.mp4";
    if (testsupport::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + picture +
                                "=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 "
                                "-c:v libx264 -pix_fmt yuv420p -preset veryfast -bf 3 -b_strategy 2 -g 50 -slices 2 -x264-params aud=1 "
                                "-c:a aac " +
                                testsupport::quote(movie))
            .exitCode != 0)
        return "";
    Bytes data = testsupport::readFile(movie);
    for (const testmedia::Packet& p : testmedia::probePackets(movie)) {
        if (p.stream != 0 || p.pos < 0 || size_t(p.pos + p.size) > data.size() || p.size < 12)
            continue;
        uint8_t* s = data.data() + p.pos;
        // The picture's units but its delimiter (which x264 puts behind the
        // first picture's SEI).
        std::vector<std::pair<int64_t, int64_t>> units;
        bool delimiter = false;
        for (int64_t at = 0; at + 4 <= p.size;) {
            const int64_t unit = int64_t(s[at]) << 24 | int64_t(s[at + 1]) << 16 | int64_t(s[at + 2]) << 8 | s[at + 3];
            if (unit == 2 && (s[at + 4] & 0x1F) == 9)
                delimiter = true;
            else
                units.emplace_back(at + 4, unit);
            at += 4 + unit;
        }
        // The delimiter's 6 bytes and the units' lengths pay for the wrapping
        // length, a 4-byte prefix unit and a 3- or 4-byte start code per unit.
        int64_t longCodes = 6 + 4 * int64_t(units.size()) - 8 - 3 * int64_t(units.size());
        if (!delimiter || longCodes < 0 || longCodes > int64_t(units.size()))
            return "";
        const uint32_t length = uint32_t(p.size - 4);
        Bytes wrapped = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                         0x6E, 0x80, 0x80, 0x07};
        for (const auto& [at, size] : units) {
            if (longCodes-- > 0)
                wrapped.push_back(0);
            wrapped.insert(wrapped.end(), {0, 0, 1});
            wrapped.insert(wrapped.end(), s + at, s + at + size);
        }
        if (wrapped.size() != size_t(p.size))
            return "";
        std::copy(wrapped.begin(), wrapped.end(), s);
    }
    return testsupport::writeFile(movie, data) ? movie : "";
}

}  // namespace

TEST(Avc1WrappedPictures, OrderCountsAreReadBehindTheStartCodes) {
    const std::string original = wrappedRecording("Avc1WrappedPictures.Original", "testsrc2");
    const std::string ref = wrappedRecording("Avc1WrappedPictures.Reference", "mandelbrot");
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(ref.empty());
    const repairrun::Outcome o =
        repairrun::repair("Avc1WrappedPictures.Repair", ref, repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.exitCode, 0) << o.log;
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered) << o.video;
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
}
