// The binary itself: exit codes, usage and error paths.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::quote;
using testsupport::runFramend;

TEST(Cli, NoArgumentsPrintsUsageAndSucceeds) {
    const auto r = runFramend("");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.rfind("framend - parse (broken) .mov/.mp4 file", 0), 0u);
    EXPECT_NE(r.output.find("\ngeneral parameters\n"), std::string::npos);
    EXPECT_NE(r.output.find("\nexample usage\n  framend -i broken.mp4 -o repaired.mp4 -fps 29.97\n\nsupported codecs\n"),
              std::string::npos);
    EXPECT_NE(r.output.find("  Encode to mp4: ffmpeg -i repaired.mp4 -f mp4 -b 9000k -ab 128 -ar 44100 -y output.mp4\n\n"),
              std::string::npos);
}

TEST(Cli, ParseErrorsExitWithOneAndPrintOneLine) {
    for (const char* args : {"-x", "-start abc"}) {
        const auto r = runFramend(args, true);
        EXPECT_EQ(r.exitCode, 1) << args;
        EXPECT_EQ(r.output.rfind("ERROR : ", 0), 0u) << args;
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << args << ": " << r.output;
    }
}

TEST(Cli, InputThatCannotBeOpenedIsAFatalLineAndExitOne) {
    for (const std::string& input : {std::string("/nonexistent/broken.mp4"), testsupport::scratchDir("CliDir")}) {
        const auto r = runFramend("-i " + quote(input));
        EXPECT_EQ(r.exitCode, 1) << input;
        EXPECT_NE(r.output.find("i : " + input + "\n"), std::string::npos);
        EXPECT_NE(r.output.find("[FATAL] error opening input file\n"), std::string::npos) << input;
    }
}

TEST(Cli, QuietLevelHidesNoticeLines) {
    // -v 1 runs at level 20: only FATAL and ERROR lines reach the console.
    const auto r = runFramend("-v 1 -i /nonexistent.mov");
    EXPECT_NE(r.output.find("[FATAL]"), std::string::npos);
    EXPECT_EQ(r.output.find("[NOTICE]"), std::string::npos);
    EXPECT_EQ(r.output.find("[INFO]"), std::string::npos);
}

TEST(Cli, LogFileErrorIsReportedNotAborted) {
    // A folder named like the log file makes it impossible to create.
    const std::string dir = testsupport::scratchDir("CliLogError");
    testsupport::runCommand("mkdir " + quote(dir + "/framend.txt"));
    testsupport::writeFile(dir + "/in.mov", std::vector<uint8_t>(64, 0));
    const auto r = testsupport::runCommand("cd " + quote(dir) + " && " + FRAMEND_BINARY + " -log -i in.mov 2>&1");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Could not open file \"framend.txt\" for logging!"), std::string::npos) << r.output;
}
