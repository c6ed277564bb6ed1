// H.264 recordings whose samples carry units a plain encoder never writes:
// the scalable-stream prefix unit (type 14) that slow-motion phones put in
// front of every slice, and the parameter sets repeated in the first
// sample. (The delimiter in front of each picture keeps ffmpeg's parser
// from cutting the picture at the prefix unit.) Repaired with a reference of another scene, judged by packet
// checksums.

#include "support/recorder_units.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using recorderunits::Bytes;

// A prefix unit in front of every slice, with the slice's nal_ref_idc and a
// temporal layer that alternates as a two-layer recorder's does.
Bytes prefixInFrontOfSlices(const uint8_t* nal, size_t index) {
    if (!nal || (nal[0] & 0x1B) != 1)
        return {};
    const uint8_t temporalId = uint8_t(index % 2);
    return {0, 0, 0, 1, uint8_t((nal[0] & 0x60) | 14), 0x80, 0x80, uint8_t(temporalId << 5 | 0x07)};
}

}  // namespace

TEST(Avc1RecorderUnits, PrefixUnitsStayWithTheirSlices) {
    const std::string encode = "-c:v libx264 -preset veryfast -bf 0 -g 25 -slices 2 -x264-params aud=1";
    const std::string mux = "-chunk_duration 500000";
    const std::string original = recorderunits::plantedRecording("Avc1RecorderUnits.Original", "svc.mp4", "testsrc2",
                                                                 encode, "h264", prefixInFrontOfSlices, mux);
    const std::string ref = recorderunits::plantedRecording("Avc1RecorderUnits.Reference", "svc_ref.mp4",
                                                            "mandelbrot", encode, "h264", prefixInFrontOfSlices, mux);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(ref.empty());
    const repairrun::Outcome o =
        repairrun::repair("Avc1RecorderUnits.Repair", ref, repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.exitCode, 0) << o.log;
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_GE(o.audio.percent(), 97.0) << o.audio;
}
