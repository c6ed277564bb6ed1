// Canon REPI recordings built from real x265 output and PCM, repaired end to
// end by the framend binary and judged by the bytes ffmpeg reads back.

#include "camera/repi/repi_recording.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace repitest;
using namespace testsupport;

namespace {

struct Repaired {
    std::string log;
    int exitCode = -1;
    std::string output;
};

Repaired repair(const std::string& test, const Bytes& damaged, const std::string& flags) {
    const std::string dir = scratchDir(test);
    const std::string in = dir + "/clip.bin", out = dir + "/out.mov";
    writeFile(in, damaged);
    const std::string ref = rsvtest::referenceMovie(true);
    const CommandResult r = runFramend("-i " + quote(in) + " -ref " + quote(ref) + " -o " + quote(out) + " " + flags, true);
    return {r.output, r.exitCode, out};
}

Bytes streamBytes(const std::string& file, const std::string& map, const char* format) {
    const std::string raw = file + "." + format;
    runCommand("ffmpeg -nostdin -v error -y -ignore_editlist 1 -i " + quote(file) + " -map " + map + " -c copy -f " + format + " " + quote(raw));
    return readFile(raw);
}

}  // namespace

// Every HEVC sample and PCM block comes back bit-exact; audio records behind
// the last video record are dropped again; the output decodes cleanly.
TEST(RepiRepair, RecoversSamplesAndTrimsSurplusAudio) {
    const rsvtest::Encoded video = rsvtest::encode(true);
    const RepiRecording rec = makeRepi(video.units, 6, 2);
    for (const std::string flags : {"-canonrepi", "-auto"}) {
        const Repaired r = repair("repi_whole", rec.file, flags);
        ASSERT_EQ(r.exitCode, 0) << r.log;
        EXPECT_NE(r.log.find("using analyser: CanonRepiAnalyser"), std::string::npos) << flags;
        EXPECT_EQ(streamBytes(r.output, "0:v:0", "data"), rsvtest::concat(rec.samples)) << flags;
        EXPECT_EQ(streamBytes(r.output, "0:a:0", "s16le"), rsvtest::concat(rec.audio, 0, rec.videoRecords.size()))
            << flags;
        EXPECT_EQ(runCommand("ffmpeg -nostdin -v error -i " + quote(r.output) + " -f null - 2>&1").output, "") << flags;
    }
}

// A video record whose size table is destroyed costs that record's samples
// only.
TEST(RepiRepair, DamagedRecordCostsOnlyThatRecord) {
    const rsvtest::Encoded video = rsvtest::encode(true);
    const RepiRecording rec = makeRepi(video.units, 6, 0);
    Bytes damaged = rec.file;
    const uint64_t table = rec.videoRecords[1] + 20;
    std::fill(damaged.begin() + long(table), damaged.begin() + long(table) + 8, 0xFF);
    const Repaired r = repair("repi_damaged", damaged, "-canonrepi");
    ASSERT_EQ(r.exitCode, 0) << r.log;
    Bytes expected = rsvtest::concat(rec.samples, 0, 6);
    const Bytes rest = rsvtest::concat(rec.samples, 12);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(streamBytes(r.output, "0:v:0", "data"), expected);
}
