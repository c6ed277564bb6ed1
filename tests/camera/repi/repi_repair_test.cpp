// Canon REPI recordings built from real x265 output and PCM, repaired end to
// end by the framend binary and judged by the bytes ffmpeg reads back.

#include "camera/repi/repi_recording.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace repitest;
using namespace testsupport;

namespace {

using repairrun::Outcome;

Outcome repair(const std::string& test, const Bytes& damaged, const std::string& flags,
               std::string ref = rsvtest::referenceMovie(true)) {
    return repairrun::repairBytes(test, ref, damaged, "clip.bin", flags);
}

}  // namespace

// Every HEVC sample and PCM block comes back bit-exact; audio records behind
// the last video record are dropped again; the output decodes cleanly.
TEST(RepiRepair, RecoversSamplesAndTrimsSurplusAudio) {
    const rsvtest::Encoded video = rsvtest::encode(true);
    const RepiRecording rec = makeRepi(video.units, 6, 2);
    for (const std::string flags : {"-canonrepi", "-auto"}) {
        const Outcome r = repair("repi_whole", rec.file, flags);
        ASSERT_EQ(r.exitCode, 0) << r.log;
        EXPECT_NE(r.log.find("using analyser: CanonRepiAnalyser"), std::string::npos) << flags;
        EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data", true), rsvtest::concat(rec.samples)) << flags;
        EXPECT_EQ(streamBytes(r.repaired, "0:a:0", "s16le", true), rsvtest::concat(rec.audio, 0, rec.videoRecords.size()))
            << flags;
        EXPECT_EQ(repairrun::decodeErrors(r.repaired), "") << flags;
    }
}

// A video record whose size table is destroyed costs that record's samples
// only; the audio behind it is whole and every block stays.
TEST(RepiRepair, DamagedRecordCostsOnlyThatRecord) {
    const rsvtest::Encoded video = rsvtest::encode(true);
    const RepiRecording rec = makeRepi(video.units, 6, 0);
    Bytes damaged = rec.file;
    const uint64_t table = rec.videoRecords[1] + 20;
    std::fill(damaged.begin() + long(table), damaged.begin() + long(table) + 8, 0xFF);
    const Outcome r = repair("repi_damaged", damaged, "-canonrepi");
    ASSERT_EQ(r.exitCode, 0) << r.log;
    Bytes expected = rsvtest::concat(rec.samples, 0, 6);
    const Bytes rest = rsvtest::concat(rec.samples, 12);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data", true), expected);
    EXPECT_EQ(streamBytes(r.repaired, "0:a:0", "s16le", true), rsvtest::concat(rec.audio));
}

// With two audio tracks in the reference, audio records alternate between
// them.
TEST(RepiRepair, AudioRecordsAlternateBetweenTwoTracks) {
    const std::string ref = fixture("repi_ref_2pcm.mov",
                                    "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 "
                                    "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                    "-map 0:v -map 1:a -map 1:a -c:v libx265 -preset ultrafast -pix_fmt yuv420p "
                                    "-x265-params log-level=error -tag:v hvc1 -c:a pcm_s16le -ac 2");
    const RepiRecording rec = makeRepi(rsvtest::encode(true).units, 6, 0, 2);
    const Outcome r = repair("repi_two_tracks", rec.file, "-canonrepi", ref);
    ASSERT_EQ(r.exitCode, 0) << r.log;
    std::vector<Bytes> even, odd;
    for (size_t i = 0; i < rec.audio.size(); ++i)
        (i % 2 ? odd : even).push_back(rec.audio[i]);
    EXPECT_EQ(streamBytes(r.repaired, "0:a:0", "s16le", true), rsvtest::concat(even));
    EXPECT_EQ(streamBytes(r.repaired, "0:a:1", "s16le", true), rsvtest::concat(odd));
}
