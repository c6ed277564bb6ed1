// What a person sees on standard error: a live progress line only when it is
// a terminal, wiped before the closing verdict, and a verdict whose counts
// are those ffprobe finds in the written movie.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::quote;

namespace {

// The log without the once-a-second progress lines, whose number depends on
// how fast the machine is.
std::string withoutProgressLines(const std::string& log) {
    std::istringstream in(log);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.find("] progress ofs=") == std::string::npos)
            kept += line + "\n";
    return kept;
}

}  // namespace

TEST(Verdict, ProgressLineOnlyOnATerminalAndWipedBeforeTheVerdict) {
    const std::string movie = testmedia::h264AacMp4();
    ASSERT_FALSE(movie.empty());
    const std::string dir = testsupport::scratchDir("VerdictProgress");
    ASSERT_TRUE(testsupport::writeFile(dir + "/broken.mp4", repairrun::withoutIndex(movie)));
    const std::string run = std::string(FRAMEND_BINARY) + " -i " + quote(dir + "/broken.mp4") + " -ref " +
                            quote(movie) + " -o " + quote(dir + "/out.mp4");

    // Both standard output and standard error on a pseudo-terminal.
    const auto tty = testsupport::runCommand("script -qec " + quote(run + " -v 1") + " /dev/null");
    ASSERT_EQ(tty.exitCode, 0) << tty.output;
    const size_t drawn = tty.output.rfind(" MB/s ");
    ASSERT_NE(drawn, std::string::npos) << tty.output;
    EXPECT_NE(tty.output.rfind("%  ", drawn), std::string::npos);
    EXPECT_NE(tty.output.find(" video frames ", drawn), std::string::npos);
    EXPECT_NE(tty.output.find(" audio blocks ", drawn), std::string::npos);
    const size_t wiped = tty.output.find("\r\x1b[K", drawn);
    const size_t verdict = tty.output.find("framend: wrote ", drawn);
    ASSERT_NE(verdict, std::string::npos) << tty.output;
    EXPECT_LT(wiped, verdict) << tty.output;

    // Standard error on the terminal, the log in a file: the log is the one a
    // run without any terminal writes.
    const auto quiet = testsupport::runCommand(run + " 2>/dev/null");
    ASSERT_EQ(quiet.exitCode, 0);
    const std::string logFile = dir + "/log.txt";
    ASSERT_EQ(testsupport::runCommand("script -qec " + quote(run + " >" + quote(logFile)) + " /dev/null").exitCode, 0);
    const auto logBytes = testsupport::readFile(logFile);
    EXPECT_EQ(withoutProgressLines(std::string(logBytes.begin(), logBytes.end())),
              withoutProgressLines(quiet.output));

    // Standard error a pipe: the verdict, and nothing of the live line.
    const auto piped = testsupport::runCommand(run + " 2>&1 >/dev/null | cat");
    EXPECT_NE(piped.output.find("framend: wrote "), std::string::npos) << piped.output;
    EXPECT_EQ(piped.output.find("MB/s"), std::string::npos) << piped.output;
    EXPECT_EQ(piped.output.find_first_of("\r\x1b"), std::string::npos) << piped.output;
}

TEST(Verdict, CountsEachTrackAsFfprobeDoesAndReportsTheChecks) {
    const std::string movie = testmedia::h264AacMp4();
    ASSERT_FALSE(movie.empty());
    const auto o = repairrun::repair("VerdictTracks", movie, repairrun::withoutIndex(movie), "-verify -verout");
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    const auto counts = repairrun::packetCounts(o.repaired);
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(o.errors.find("framend: wrote " + o.repaired + "\n"), 0u) << o.errors;
    EXPECT_NE(o.errors.find("\n  video avc1 320x240: " + std::to_string(counts.at(0)) + " frames, "),
              std::string::npos)
        << o.errors;
    EXPECT_NE(o.errors.find("\n  audio mp4a 48000 Hz: " + std::to_string(counts.at(1)) + " blocks, "),
              std::string::npos)
        << o.errors;
    EXPECT_NE(o.errors.find("\nframend: -verify: "), std::string::npos) << o.errors;
    EXPECT_NE(o.errors.find("\nframend: -verout: passed for " + o.repaired + " ("), std::string::npos) << o.errors;
    EXPECT_EQ(o.errors.find("exit code"), std::string::npos) << o.errors;
}
