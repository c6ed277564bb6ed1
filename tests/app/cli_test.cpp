// The binary itself: exit codes, usage and error paths.

#include "support/test_media.h"
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
    // A folder; a name that is not ASCII arrives intact.
    const std::string dir = testsupport::scratchDir("CliDir");
    for (const std::string& input : {std::string("/nonexistent/broken.mp4"), dir, dir + "/Größe_映画.mov"}) {
        const auto r = runFramend("-i " + quote(input));
        EXPECT_EQ(r.exitCode, 1) << input;
        EXPECT_NE(r.output.find("i : " + input + "\n"), std::string::npos);
        EXPECT_NE(r.output.find("[FATAL] error opening input file\n"), std::string::npos) << input;
    }
}

TEST(Cli, VerbosityChoosesTheLevelsShown) {
    // A run that logs at every level from WARNING to TRACE.
    const std::string movie = testmedia::h264AacMp4();
    const std::string out = testsupport::scratchDir("CliVerbosity") + "/out.mp4";
    const struct {
        int v;
        const char* shown;   // the quietest level shown, or empty
        const char* hidden;  // the next level, hidden
    } cases[] = {{0, "[INFO]", "[DEBUG]"},     {1, "", "[WARNING]"},      {2, "[WARNING]", "[NOTICE]"},
                 {3, "[WARNING]", "[NOTICE]"}, {4, "[NOTICE]", "[INFO]"}, {5, "[DEBUG]", "[TRACE]"},
                 {9, "[DEBUG]", "[TRACE]"},    {10, "[TRACE]", "[ANY]"}};
    for (const auto& c : cases) {
        const auto r = runFramend("-v " + std::to_string(c.v) + " -i " + quote(movie) + " -sim -o " + quote(out));
        EXPECT_EQ(r.exitCode, 0) << c.v;
        if (*c.shown) {
            EXPECT_NE(r.output.find(c.shown), std::string::npos) << "-v " << c.v;
        }
        EXPECT_EQ(r.output.find(c.hidden), std::string::npos) << "-v " << c.v;
    }
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
