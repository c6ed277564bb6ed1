// Runs that recover nothing: the exit code and one plain line on standard
// error tell why, while the log on standard output stays as it was.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::quote;

namespace {

struct Outcome {
    int exitCode;
    std::string stdoutText;
    std::string stderrText;
};

Outcome repair(const std::string& arguments, const std::string& dir) {
    const std::string err = dir + "/stderr.txt";
    const auto r = testsupport::runCommand(std::string(FRAMEND_BINARY) + " " + arguments + " 2>" + quote(err));
    const auto e = testsupport::readFile(err);
    return {r.exitCode, r.output, std::string(e.begin(), e.end())};
}

bool exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

}  // namespace

TEST(ExitCode, CodecWithoutAnalyserInThisBuildIsTwo) {
    const std::string hevc = testsupport::fixture(
        "exit_hevc.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -c:v libx265 -tag:v hvc1 "
                         "-x265-params log-level=none");
    ASSERT_FALSE(hevc.empty());
    const std::string dir = testsupport::scratchDir("ExitCodeNoAnalyser");
    const Outcome r = repair("-i " + quote(hevc) + " -o " + quote(dir + "/out.mp4"), dir);
    EXPECT_EQ(r.exitCode, 2) << r.stdoutText;
    EXPECT_EQ(r.stderrText, "framend: no analyser in this build for video codec 'hvc1'; nothing was recovered\n");
    EXPECT_NE(r.stdoutText.find("[WARNING] HEVCAnalyser is not available in this build; skipped\n"),
              std::string::npos);
    EXPECT_NE(r.stdoutText.find("[NOTICE] reference selected video analyser class: hvc1\n"), std::string::npos);
    EXPECT_NE(r.stdoutText.find("[INFO] scan end\n"), std::string::npos);
    EXPECT_FALSE(exists(dir + "/out.mp4"));
}

TEST(ExitCode, RunThatFindsNoSampleIsThree) {
    const std::string dir = testsupport::scratchDir("ExitCodeNothing");
    std::vector<uint8_t> noise(200000);
    uint32_t x = 99;
    for (auto& b : noise) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    testsupport::writeFile(dir + "/noise.mp4", noise);
    // Without -o as well: the code tells what was found, not what was written.
    for (const std::string& output : {std::string(" -o ") + quote(dir + "/out.mp4"), std::string()}) {
        const Outcome r = repair("-i " + quote(dir + "/noise.mp4") + output, dir);
        EXPECT_EQ(r.exitCode, 3) << output << r.stdoutText;
        EXPECT_EQ(r.stderrText, "framend: no samples were found; nothing was recovered\n") << output;
        EXPECT_NE(r.stdoutText.find("[NOTICE] reference did not select a known video analyser; using fallback "
                                    "analyser set\n"),
                  std::string::npos);
        EXPECT_NE(r.stdoutText.find("[INFO] scan end\n"), std::string::npos);
    }
    EXPECT_FALSE(exists(dir + "/out.mp4"));
}
