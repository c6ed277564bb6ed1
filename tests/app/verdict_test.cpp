// What a person sees on standard error: a live progress line only when it is
// a terminal, never left in the way of the log or the closing verdict, and a
// verdict whose counts are those ffprobe finds in the written movie.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>


using testsupport::quote;

namespace {

// The log without the once-a-second progress lines, whose number depends on
// how fast the machine is.
std::string withoutProgressLines(const std::string& log) {
    std::string kept;
    for (const std::string& line : testsupport::lines(log))
        if (line.find("] progress ofs=") == std::string::npos)
            kept += line + "\n";
    return kept;
}

// The text a terminal ends up showing: a carriage return goes back to the
// start of the line, ESC [ K erases from the cursor to the end of it.
std::string screen(const std::string& bytes) {
    std::string shown, line;
    size_t cursor = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            cursor = 0;
        } else if (c == '\n') {
            shown += line + "\n";
            line.clear();
            cursor = 0;
        } else if (bytes.compare(i, 3, "\x1b[K") == 0) {
            line.resize(cursor);
            i += 2;
        } else {
            if (cursor < line.size())
                line[cursor] = c;
            else
                line += c;
            ++cursor;
        }
    }
    return shown + line;
}

}  // namespace

TEST(Verdict, CountsTracksAndDrawsProgressOnlyOnATerminal) {
    const std::string movie = testmedia::h264AacMp4();
    const std::string dir = testsupport::scratchDir("VerdictProgress");
    ASSERT_TRUE(testsupport::writeFile(dir + "/broken.mp4", repairrun::withoutIndex(movie)));
    const std::string out = dir + "/out.mp4";
    const std::string args =
        "-i " + quote(dir + "/broken.mp4") + " -ref " + quote(movie) + " -o " + quote(out) + " -verify -verout";
    const std::string run = std::string(FRAMEND_BINARY) + " " + args;
    // No terminal at all: the log and the verdict as they always are, with
    // each track counted as ffprobe counts the written movie's packets.
    const auto plain = repairrun::run(args, dir);
    ASSERT_EQ(plain.exitCode, 0) << plain.errors;
    const auto counts = repairrun::packetCounts(out);
    ASSERT_EQ(counts.size(), 2u);
    const std::string& e = plain.errors;
    EXPECT_EQ(e.find("framend: wrote " + out + "\n"), 0u) << e;
    EXPECT_NE(e.find("\n  video avc1 320x240: " + std::to_string(counts.at(0)) + " frames, "), std::string::npos) << e;
    EXPECT_NE(e.find("\n  audio mp4a 48000 Hz: " + std::to_string(counts.at(1)) + " blocks, "), std::string::npos) << e;
    EXPECT_NE(e.find("\nframend: -verify: "), std::string::npos) << e;
    EXPECT_NE(e.find("\nframend: -verout: passed for " + out + " ("), std::string::npos) << e;
    EXPECT_EQ(e.find("exit code"), std::string::npos) << e;

    // Log and verdict on one pseudo-terminal: the progress line was drawn,
    // and what the screen finally shows is the plain log and verdict.
    const auto tty = testsupport::runCommand("script -qec " + quote(run) + " /dev/null");
    ASSERT_EQ(tty.exitCode, 0) << tty.output.substr(0, 2000);
    const size_t drawn = tty.output.rfind(" MB/s ");
    ASSERT_NE(drawn, std::string::npos);
    EXPECT_NE(tty.output.rfind("%  ", drawn), std::string::npos);
    EXPECT_NE(tty.output.find(" video frames ", drawn), std::string::npos);
    EXPECT_NE(tty.output.find(" audio blocks ", drawn), std::string::npos);
    EXPECT_EQ(withoutProgressLines(screen(tty.output)), withoutProgressLines(plain.log + plain.errors));

    // Only standard error on the terminal, the log in a file: the log is the
    // plain one.
    const std::string logFile = dir + "/log.txt";
    ASSERT_EQ(testsupport::runCommand("script -qec " + quote(run + " >" + quote(logFile)) + " /dev/null").exitCode, 0);
    const auto logBytes = testsupport::readFile(logFile);
    EXPECT_EQ(withoutProgressLines(std::string(logBytes.begin(), logBytes.end())), withoutProgressLines(plain.log));

    // Standard error a pipe: the verdict, and nothing of the live line.
    const auto piped = testsupport::runCommand(run + " 2>&1 >/dev/null | cat");
    EXPECT_EQ(piped.output, plain.errors);
}
