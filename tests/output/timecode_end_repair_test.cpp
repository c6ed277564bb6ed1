// Some recorders write the timecode sample when they stop, as the last bytes
// of the media data. The timecode was rebuilt only from in front of the
// first chunk, so the repaired movie had none.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using testsupport::be32;

// ffmpeg's recording with its timecode sample (the first bytes of the media
// data) moved behind the last chunk, every chunk offset moved with it.
std::string timecodeAtEnd(const std::string& name, const char* timecode) {
    const std::string made = testsupport::fixture(
        name, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=440:sample_rate=48000:"
              "duration=3 -c:v libx264 -g 25 -c:a aac -ac 1 -timecode " + std::string(timecode));
    repairrun::Bytes d = testsupport::readFile(made);
    size_t at = 0;
    while (at + 8 <= d.size() && !std::equal(d.begin() + long(at) + 4, d.begin() + long(at) + 8, "mdat"))
        at += be32(&d[at]);
    if (at + 16 > d.size())
        return "";
    const size_t start = at + 8, end = at + be32(&d[at]);
    for (size_t i = end; i + 16 <= d.size(); ++i) {
        if (!std::equal(d.begin() + long(i), d.begin() + long(i) + 4, "stco"))
            continue;
        for (uint32_t k = 0, n = be32(&d[i + 8]); k < n && i + 16 + 4 * k <= d.size(); ++k) {
            uint8_t* p = &d[i + 12 + 4 * k];
            const uint32_t v = be32(p) == start ? uint32_t(end - 4) : be32(p) - 4;
            p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
        }
    }
    std::rotate(d.begin() + long(start), d.begin() + long(start) + 4, d.begin() + long(end));
    return testsupport::writeScratch("TimecodeEndRepair." + name, name, d);
}

}  // namespace

TEST(TimecodeEndRepair, RebuildsTheTimecodeBehindTheLastChunk) {
    const std::string reference = timecodeAtEnd("tmcd_end_ref.mov", "01:00:00:00");
    const std::string original = timecodeAtEnd("tmcd_end.mov", "02:30:10:05");
    ASSERT_FALSE(reference.empty());
    ASSERT_FALSE(original.empty());
    const auto tags = [](const std::string& file) {
        return testsupport::runCommand("ffprobe -v error -show_entries stream=codec_tag_string:stream_tags=timecode "
                                       "-of csv=p=0 " + testsupport::quote(file)).output;
    };
    ASSERT_EQ(tags(original), "avc1,02:30:10:05\nmp4a\ntmcd,02:30:10:05\n");
    const repairrun::Outcome o =
        repairrun::repair("TimecodeEndRepair", reference, repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_EQ(tags(o.repaired), tags(original));
}
