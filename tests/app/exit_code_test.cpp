// Runs that recover nothing: the exit code and the closing lines on standard
// error tell why, while the log on standard output stays as it was.

#include "platform/file.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::quote;

TEST(ExitCode, HostileInputsThatHoldNothingAreThree) {
    const std::string dir = testsupport::scratchDir("ExitCodeNothing");
    testsupport::writeFile(dir + "/empty.mov", {});
    std::vector<uint8_t> lies = {0, 0, 0, 1, 'm', 'o', 'o', 'v', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    lies.resize(4096, 0xAB);
    testsupport::writeFile(dir + "/lies.mov", lies);
    testsupport::writeFile(dir + "/noise.mp4", repairrun::noise(300000, 12345));
    const std::string out = " -o " + quote(dir + "/out.mov");
    for (const char* name : {"empty.mov", "lies.mov", "noise.mp4"}) {
        const std::string in = dir + "/" + name;
        // Without -o as well, and with a dump: the code tells what was found, not
        // what was written.
        for (const std::string& extra : {out, std::string(), out + " -ref " + quote(in) + " -sim",
                                         out + " -auto -nfd -aac -entropy 64", out + " -atomdump"}) {
            const auto r = repairrun::run("-i " + quote(in) + extra + " -verout", dir);
            EXPECT_EQ(r.exitCode, 3) << name << extra << "\n" << r.log.substr(0, 2000);
            EXPECT_NE(r.errors.find("framend: no samples were found; nothing was recovered: "), std::string::npos)
                << name << extra << "\n" << r.errors;
            EXPECT_EQ(r.errors.substr(r.errors.size() - std::min<size_t>(r.errors.size(), 15)), " (exit code 3)\n")
                << name << extra;
        }
    }
    const auto r = repairrun::run("-i " + quote(dir + "/noise.mp4"), dir);
    EXPECT_NE(r.log.find("[NOTICE] reference did not select a known video analyser; using fallback analyser set\n"),
              std::string::npos);
    EXPECT_NE(r.log.find("[INFO] scan end\n"), std::string::npos);
    // Why: without -ref the input itself was the reference, and it has no index.
    EXPECT_NE(r.errors.find("nothing was recovered: no reference was given"), std::string::npos) << r.errors;
    EXPECT_EQ(platform::fileSize(dir + "/out.mov"), -1);
}

TEST(ExitCode, ReferenceCodecNoAnalyserKnowsIsTwo) {
    // QuickTime Animation has no analyser: the verdict names the codec
    // instead of blaming the reference's settings.
    const std::string movie =
        testsupport::fixture("qtrle.mov", "-f lavfi -i testsrc2=size=256x144:rate=25:duration=1 -c:v qtrle");
    const std::string dir = testsupport::scratchDir("ExitCodeUnknownCodec");
    const auto r = repairrun::run("-i " + quote(movie) + " -o " + quote(dir + "/out.mov"), dir);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.errors.find("framend: no analyser knows the reference's video codec 'rle '; nothing was recovered"),
              std::string::npos)
        << r.errors;
}
