// The end of the sound. Phones end the sound track's edit before the
// encoder's last frames; the repaired track played them (up to 7% too
// long on a one-second clip). A sound track without edits longer than the
// pictures: the movie stopped with the pictures.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A 320x240 H.264 clip with mono AAC (made into `original`), repaired from
// itself without its index.
repairrun::Outcome repairedWithoutIndex(const std::string& name, const std::string& sources, const std::string& extra,
                                        std::string& original) {
    original = testsupport::fixture(name, sources + " -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 1 " + extra);
    return repairrun::repair("SoundTailRepair." + name, original, repairrun::withoutIndex(original));
}

// A phone's way: the sound track's edit ends with the pictures', though
// its encoder wrote frames past them. The copy's sound edit gets the
// duration of the video's (the first track's edit; both single entries).
std::string soundEditEndsWithPictures(const std::string& original) {
    std::vector<uint8_t> bytes = testsupport::readFile(original);
    std::vector<size_t> edits;
    for (size_t i = 4; i + 20 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], "elst", 4) == 0 && bytes[i + 4] == 0)
            edits.push_back(i + 12);  // the first entry's segment duration
    EXPECT_EQ(edits.size(), 2u);
    if (edits.size() == 2)
        std::copy_n(&bytes[edits[0]], 4, &bytes[edits[1]]);
    const std::string copy = original + ".sound_edit.mov";
    EXPECT_TRUE(testsupport::writeFile(copy, bytes));
    return copy;
}

}  // namespace

TEST(SoundTailRepair, SoundThatStopsWithThePicturesEndsWithTheRepairedOnes) {
    const std::string made = testsupport::fixture(
        "sound_stops_with_pictures.mov",
        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2.03 "
        "-c:v libx264 -pix_fmt yuv420p -c:a aac -ac 1");
    const std::string original = soundEditEndsWithPictures(made);
    const repairrun::Outcome o =
        repairrun::repair("SoundTailRepair.sound_stops_with_pictures", original, repairrun::withoutIndex(original));
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    const auto before = testmedia::probeStreams(original);
    const auto after = testmedia::probeStreams(o.repaired);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NEAR(std::stod(before[1].at("duration")), 2.0, 0.001);
    EXPECT_NEAR(std::stod(after[1].at("duration")), std::stod(before[1].at("duration")), 0.001);
}

TEST(SoundTailRepair, EndsWhereTheReferenceEndsItsSound) {
    // The sound stops 0.3 s before the pictures, mid-frame.
    std::string original;
    const repairrun::Outcome o = repairedWithoutIndex(
        "sound_tail.mov",
        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3.7",
        "-g 25", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    const auto before = testmedia::probeStreams(original);
    const auto after = testmedia::probeStreams(o.repaired);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NEAR(std::stod(after[1].at("duration")), std::stod(before[1].at("duration")), 0.0005);
}

TEST(SoundTailRepair, MovieLastsAsLongAsSoundWithoutEdits) {
    std::string original;
    const repairrun::Outcome o = repairedWithoutIndex(
        "sound_no_edits.mp4",
        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=3",
        "-use_editlist 0", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_GT(std::stod(testsupport::ffprobe(o.repaired, "-show_entries format=duration -of csv=p=0")), 2.9);
}
