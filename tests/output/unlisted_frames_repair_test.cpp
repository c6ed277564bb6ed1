// Some writers leave the encoder's first sound frames in the media data, in
// front of the first chunk, but out of every table. The repair took them as
// sound: the repaired track started with frames the recording never played
// and lasted that much longer.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using testsupport::be32;

void setBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// ffmpeg's recording with copies of its first three sound frames written at
// the start of the media data, outside the tables (the chunk offsets move).
std::string withUnlistedFrames() {
    const std::string made = testsupport::fixture(
        "unlisted_frames.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=440:"
                               "sample_rate=48000:duration=3 -c:v libx264 -g 25 -c:a aac -ac 1");
    if (made.empty())
        return "";
    repairrun::Bytes d = testsupport::readFile(made);
    repairrun::Bytes frames;
    int taken = 0;
    for (const testmedia::Packet& p : testmedia::probePackets(made))
        if (p.stream == 1 && taken++ < 3)
            frames.insert(frames.end(), d.begin() + long(p.pos), d.begin() + long(p.pos + p.size));
    const size_t mdat = testsupport::findType(d, "mdat") - 4;
    const size_t end = mdat + be32(&d[mdat]);
    setBe32(&d[mdat], be32(&d[mdat]) + uint32_t(frames.size()));
    for (size_t i = testsupport::findType(d, "stco", end); i != std::string::npos && i + 12 <= d.size();
         i = testsupport::findType(d, "stco", i + 4))
        for (uint32_t k = 0, n = be32(&d[i + 8]); k < n && i + 16 + 4 * k <= d.size(); ++k)
            setBe32(&d[i + 12 + 4 * k], be32(&d[i + 12 + 4 * k]) + uint32_t(frames.size()));
    d.insert(d.begin() + long(mdat + 8), frames.begin(), frames.end());
    return testsupport::writeScratch("UnlistedFramesRepair.media", "unlisted.mp4", d);
}

}  // namespace

TEST(UnlistedFramesRepair, LeavesOutTheFramesNoTableLists) {
    const std::string original = withUnlistedFrames();
    ASSERT_FALSE(original.empty());
    const repairrun::Outcome o = repairrun::repair("UnlistedFramesRepair", original, repairrun::withoutIndex(original));
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(repairrun::checksums(o.repaired, 1), repairrun::checksums(original, 1));
    EXPECT_TRUE(o.audio.timed()) << o.audio;
}
