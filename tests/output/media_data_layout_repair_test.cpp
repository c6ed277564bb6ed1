// Bytes a recorder writes in the media data beside the chunks of its
// picture and sound tracks. Some writers leave the encoder's first sound
// frames in front of the first chunk but out of every table: the repair
// took them as sound, and the track lasted that much longer. Action cameras
// write the timecode sample between two chunks in the middle of the media
// data: the timecode was rebuilt only from the media data's ends, so the
// repaired movie had none.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using testsupport::be32;
using testsupport::mapChunkOffsets;

std::string recording(const std::string& name, const std::string& extra) {
    return testsupport::fixture(name, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine="
                                      "frequency=440:sample_rate=48000:duration=3 -c:v libx264 -g 25 -c:a aac -ac 1 " +
                                          extra);
}

// Copies of the recording's first three sound frames written at the start
// of its media data, outside the tables.
std::string withUnlistedFrames() {
    const std::string made = recording("unlisted_frames.mp4", "");
    repairrun::Bytes d = testsupport::readFile(made), frames;
    int taken = 0;
    for (const testmedia::Packet& p : testmedia::probePackets(made))
        if (p.stream == 1 && taken++ < 3)
            frames.insert(frames.end(), d.begin() + long(p.pos), d.begin() + long(p.pos + p.size));
    const size_t mdat = testsupport::findType(d, "mdat") - 4, n = frames.size();
    mapChunkOffsets(d, [n](uint64_t v) { return v + n; });
    testsupport::setBe32(&d[mdat], be32(&d[mdat]) + uint32_t(n));
    d.insert(d.begin() + long(mdat + 8), frames.begin(), frames.end());
    return testsupport::writeScratch("MediaDataLayout.unlisted", "unlisted.mp4", d);
}

// The timecode sample (the media data's first bytes) moved in front of the
// chunk halfway through the file, or behind the last chunk.
std::string timecodeMoved(const std::string& name, const char* timecode, bool toEnd) {
    const std::string made = recording(name, "-timecode " + std::string(timecode));
    const std::vector<testmedia::Run> runs = testmedia::fileOrderRuns(testmedia::probePackets(made));
    if (runs.size() < 4)
        return "";
    repairrun::Bytes d = testsupport::readFile(made);
    const size_t mdat = testsupport::findType(d, "mdat") - 4, start = mdat + 8, end = mdat + be32(&d[mdat]);
    const size_t to = toEnd ? end : size_t(runs[runs.size() / 2].start);
    mapChunkOffsets(d, [&](uint64_t v) { return v == start ? to - 4 : v < to ? v - 4 : v; });
    std::rotate(d.begin() + long(start), d.begin() + long(start) + 4, d.begin() + long(to));
    const std::string moved = (toEnd ? "end_" : "mid_") + name;
    return testsupport::writeScratch("MediaDataLayout." + moved, moved, d);
}

}  // namespace

TEST(MediaDataLayout, LeavesOutSoundFramesNoTableLists) {
    const std::string original = withUnlistedFrames();
    ASSERT_FALSE(original.empty());
    const repairrun::Outcome o =
        repairrun::repair("MediaDataLayout.UnlistedFrames", original, repairrun::withoutIndex(original));
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(repairrun::checksums(o.repaired, 1), repairrun::checksums(original, 1));
    EXPECT_TRUE(o.audio.timed()) << o.audio;
}

// Some recorders write the timecode sample when they stop, as the last bytes
// of the media data.
TEST(MediaDataLayout, RebuildsTheTimecodeBetweenTwoChunksOrBehindTheLast) {
    const auto tags = [](const std::string& file) {
        return testsupport::ffprobe(file, "-show_entries stream=codec_tag_string:stream_tags=timecode -of csv=p=0");
    };
    for (const bool toEnd : {false, true}) {
        SCOPED_TRACE(toEnd ? "behind the last chunk" : "between two chunks");
        const std::string reference = timecodeMoved("tmcd_ref.mov", "01:00:00:00", toEnd);
        const std::string original = timecodeMoved("tmcd.mov", "02:30:10:05", toEnd);
        ASSERT_FALSE(reference.empty() || original.empty());
        ASSERT_EQ(tags(original), "avc1,02:30:10:05\nmp4a\ntmcd,02:30:10:05\n");
        const repairrun::Outcome o = repairrun::repair(std::string("MediaDataLayout.Timecode") + (toEnd ? "End" : "Mid"),
                                                       reference, repairrun::withoutIndex(original), "", original);
        ASSERT_EQ(o.exitCode, 0) << o.errors;
        EXPECT_EQ(o.video.recovered, o.video.alive);
        EXPECT_EQ(o.audio.recovered, o.audio.alive);
        EXPECT_EQ(tags(o.repaired), tags(original));
    }
}
