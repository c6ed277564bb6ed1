// Action cameras write the timecode sample between two chunks in the middle
// of the media data. The timecode was rebuilt only from the media data's
// ends, so the repaired movie had none.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using testsupport::be32;

// ffmpeg's recording with its timecode sample (the first bytes of the media
// data) moved in front of the chunk halfway through the file, every chunk
// offset moved with it.
std::string timecodeBetweenChunks(const std::string& name, const char* timecode) {
    const std::string made = testsupport::fixture(
        name, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=440:sample_rate=48000:"
              "duration=3 -c:v libx264 -g 25 -c:a aac -ac 1 -timecode " + std::string(timecode));
    const std::vector<testmedia::Run> runs = testmedia::fileOrderRuns(testmedia::probePackets(made));
    if (runs.size() < 4)
        return "";
    repairrun::Bytes d = testsupport::readFile(made);
    const size_t start = testsupport::findType(d, "mdat") + 4, to = size_t(runs[runs.size() / 2].start);
    for (size_t i = testsupport::findType(d, "stco", to); i != std::string::npos && i + 12 <= d.size();
         i = testsupport::findType(d, "stco", i + 4)) {
        for (uint32_t k = 0, n = be32(&d[i + 8]); k < n && i + 16 + 4 * k <= d.size(); ++k) {
            uint8_t* p = &d[i + 12 + 4 * k];
            const uint32_t v = be32(p) == start ? uint32_t(to - 4) : be32(p) < to ? be32(p) - 4 : be32(p);
            p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
        }
    }
    std::rotate(d.begin() + long(start), d.begin() + long(start) + 4, d.begin() + long(to));
    return testsupport::writeScratch("TimecodeBetweenChunks." + name, name, d);
}

}  // namespace

TEST(TimecodeBetweenChunks, RebuildsTheTimecodeFromTheMiddle) {
    const std::string reference = timecodeBetweenChunks("tmcd_mid_ref.mov", "01:00:00:00");
    const std::string original = timecodeBetweenChunks("tmcd_mid.mov", "02:30:10:05");
    ASSERT_FALSE(reference.empty());
    ASSERT_FALSE(original.empty());
    const auto tags = [](const std::string& file) {
        return testsupport::runCommand("ffprobe -v error -show_entries stream=codec_tag_string:stream_tags=timecode "
                                       "-of csv=p=0 " + testsupport::quote(file)).output;
    };
    ASSERT_EQ(tags(original), "avc1,02:30:10:05\nmp4a\ntmcd,02:30:10:05\n");
    const repairrun::Outcome o =
        repairrun::repair("TimecodeBetweenChunks", reference, repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_EQ(tags(o.repaired), tags(original));
}
