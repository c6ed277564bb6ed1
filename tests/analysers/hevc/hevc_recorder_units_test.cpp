// HEVC recordings whose samples carry units a plain encoder never writes:
// a phone's Dolby Vision metadata unit (type 62) behind every picture.
// Repaired with a reference of another scene, judged by packet checksums.

#include "support/recorder_units.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

namespace {

using recorderunits::Bytes;

// A metadata unit behind every picture: in front of each access unit
// delimiter but the first, and behind the last picture. Its payload changes
// from picture to picture, as the recorder's does.
recorderunits::Planter metadataBehindPictures() {
    auto pictures = std::make_shared<size_t>(0);
    return [pictures](const uint8_t* nal, size_t) -> Bytes {
        constexpr uint8_t kAccessUnitDelimiter = 35;
        if (nal && (nal[0] >> 1) != kAccessUnitDelimiter)
            return {};
        if (nal && (*pictures)++ == 0)
            return {};
        const uint8_t tick = uint8_t(1 + *pictures % 250);
        return {0, 0, 0, 1, 62 << 1, 1, 0x19, 0x08, tick, 0x45, 0x13, tick, 0x80};
    };
}

// ffmpeg's complaints on decoding, without the addresses that change from run to run.
std::string decodeErrors(const std::string& file) {
    const std::string text =
        testsupport::runCommand("ffmpeg -nostdin -v error -i " + testsupport::quote(file) + " -f null - 2>&1").output;
    return std::regex_replace(text, std::regex("0x[0-9a-f]+"), "");
}

}  // namespace

TEST(HevcRecorderUnits, MetadataUnitsStayWithTheirPictures) {
    const std::string encode =
        "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params log-level=error:bframes=0:keyint=25:aud=1";
    const std::string mux = "-tag:v hvc1 -chunk_duration 500000";
    const std::string original = recorderunits::plantedRecording(
        "HevcRecorderUnits.Original", "dv.mp4", "testsrc2", encode, "hevc", metadataBehindPictures(), mux);
    const std::string ref = recorderunits::plantedRecording("HevcRecorderUnits.Reference", "dv_ref.mp4", "mandelbrot",
                                                            encode, "hevc", metadataBehindPictures(), mux);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(ref.empty());
    const repairrun::Outcome o =
        repairrun::repair("HevcRecorderUnits.Repair", ref, repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.exitCode, 0) << o.log;
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_GE(o.audio.percent(), 97.0) << o.audio;
    EXPECT_EQ(decodeErrors(o.repaired), decodeErrors(original));
}
