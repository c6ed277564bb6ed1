// -atomdump on a damaged movie: the markers and every table the file still
// holds, each with at most ten entries.

#include "movie_surgery.h"

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using testsupport::quote;

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(AtomDump, DamagedMovieShowsMarkersAndTablesWithTenEntriesEach) {
    const std::string movie = testmedia::h264AacMp4();
    const std::string dir = testsupport::scratchDir("AtomDumpDamaged");
    const std::string input = dir + "/broken.mp4";
    testsupport::writeFile(input, atomtest::withoutHeaders(testsupport::readFile(movie), atomtest::Fill::Zero));
    const auto r = repairrun::run("-i " + quote(input) + " -atomdump", dir);
    // A dump that writes nothing is complete whatever the analysers found.
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    const std::string& log = r.log;
    EXPECT_NE(log.find("[NOTICE] using analyser: AtomScanner\n"), std::string::npos);
    EXPECT_NE(log.find("[INFO] ftyp found at          0 - QT Filetype - "), std::string::npos);
    EXPECT_NE(log.find("[INFO] mdat found at "), std::string::npos);
    // Two tracks: video (with composition offsets) and audio; 50 video
    // frames and about 95 AAC frames: ten shown each, then "[...]".
    const std::pair<const char*, size_t> counts[] = {
        {"stsz        found at ", 2}, {"stsc [1] found at ", 1}, {"stsc [2] found at ", 1}, {"stco        found at ", 2},
        {"ctts        found at ", 1}, {"stsz version 0, uniform size 0, entries ", 2}, {"ctts entries ", 1},
        {"stsz ENTRY - sample size#", 20}, {"stsz ENTRY - sample size#10: ", 2}, {"stsz ENTRY - [...]\n", 2},
        {"ctts ENTRY entry#", 10}, {"ctts ENTRY - [...]\n", 1}, {"stco ENTRY - offset#1: ", 2}};
    for (const auto& [part, n] : counts)
        EXPECT_EQ(count(log, std::string("[INFO] ") + part), n) << part;
    EXPECT_LE(count(log, "[INFO] stco ENTRY - offset#"), 20u);
    EXPECT_LE(count(log, "[INFO] stsc ENTRY - first chunk "), 20u);
    EXPECT_NE(log.find(",  samples per chunk "), std::string::npos);
    EXPECT_NE(log.find(",  sample desc id "), std::string::npos);
    // Nothing was rebuilt.
    EXPECT_EQ(log.find("QT reconstruction"), std::string::npos);
}
