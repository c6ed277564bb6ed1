// H.264 recordings whose samples carry units a plain encoder never writes:
// the scalable-stream prefix unit (type 14) that slow-motion phones put in
// front of every slice, and the parameter sets repeated in the first
// sample. (The delimiter in front of each picture keeps ffmpeg's parser
// from cutting the picture at the prefix unit.) Repaired with a reference of another scene, judged by packet
// checksums.

#include "analysers/h264/avc1_sample_profile.h"
#include "support/nal_builder.h"
#include "support/recorder_units.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Samsung's slow-motion recorders store each picture as one prefix unit
// whose length covers the picture's own units in byte-stream form. Pictures
// of an x264 stream wrapped so: learnt from the first half, the second half
// is measured picture by picture, each to its exact end.
TEST(Avc1RecorderUnits, WrappedPicturesAreMeasuredWhole) {
    const std::string dir = testsupport::scratchDir("Avc1RecorderUnits.Wrapped");
    const std::string raw = dir + "/encoded.h264";
    ASSERT_EQ(testsupport::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t 2 "
                                      "-c:v libx264 -preset veryfast -bf 0 -g 25 -f h264 " +
                                      testsupport::quote(raw))
                  .exitCode,
              0);
    // The stream's units in byte-stream form, cut into pictures at each slice.
    std::vector<Bytes> pictures;
    Bytes pending;
    for (const Bytes& unit : testsupport::annexBUnits(testsupport::readFile(raw))) {
        const uint8_t type = unit.empty() ? 0 : unit[0] & 0x1F;
        if (type == 7 || type == 8)
            continue;  // kept in the decoder configuration
        pending.insert(pending.end(), {0, 0, 0, 1});
        pending.insert(pending.end(), unit.begin(), unit.end());
        if (type == 1 || type == 5) {
            Bytes sample = {0, 0, 0, 0, uint8_t((unit[0] & 0x60) | 14), 0x80, 0x80, 0x07};
            sample.insert(sample.end(), pending.begin(), pending.end());
            const uint32_t length = uint32_t(sample.size() - 4);
            for (int b = 0; b < 4; ++b)
                sample[size_t(b)] = uint8_t(length >> (24 - 8 * b));
            pictures.push_back(sample);
            pending.clear();
        }
    }
    ASSERT_EQ(pictures.size(), 50u);
    Avc1SampleProfile profile;
    for (size_t i = 0; i < 25; ++i)
        ASSERT_TRUE(profile.learn(pictures[i].data(), int64_t(pictures[i].size())));
    profile.finishLearning();
    Bytes later;
    for (size_t i = 25; i < 50; ++i)
        later.insert(later.end(), pictures[i].begin(), pictures[i].end());
    int64_t at = 0;
    for (size_t i = 25; i < 50; ++i) {
        EXPECT_EQ(profile.measureSample(later.data() + at, int64_t(later.size()) - at), int64_t(pictures[i].size()))
            << "picture " << i;
        EXPECT_EQ(profile.parameterSetId(later.data() + at, int64_t(pictures[i].size())), 0);
        at += int64_t(pictures[i].size());
    }
}
