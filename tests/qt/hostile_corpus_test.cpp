// Every file in tests/qt/corpus (hand-made hostile movies and inputs the
// fuzzer found) is opened, walked, looked up and dumped: what the reader keeps
// and what it prints are pinned per file, every table stays within the file,
// and sanitizer builds catch any read outside a buffer.

#include <gtest/gtest.h>


#include <map>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_support.h"

namespace {

struct Expected {
    std::string found;    // qttest::summary of the open movie
    std::string printed;  // what opening it prints
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

const std::map<std::string, Expected> kExpected = {
    {"child_larger_than_parent.mov", {"mdat 0 moov 8 ts 0 tracks 1 | - - n=0 0/0/0/0", ""}},
    {"config_lengths_lie.mov", {"mdat 0 moov 8 ts 0 tracks 1 | vide avc1 n=0 0/0/0/0", ""}},
    {"deep_nesting.mov", {"mdat 0 moov 0 ts 0 tracks 0", "parseContainer error: atom level too high\n"}},
    {"fuzz_77dd992a7022.mov", {"mdat 44 moov 0 ts 0 tracks 0", ""}},
    {"fuzz_7b59a052b17d.mov", {"mdat 0 moov 36 ts 0 tracks 0", ""}},
    {"fuzz_8290d964c0dd.mov", {"mdat 0 moov 0 ts 0 tracks 0", ""}},
    {"fuzz_8c3885a16cac.mov", {"mdat 0 moov 36 ts 0 tracks 0", ""}},
    {"fuzz_9d7f357582a3.mov", {"mdat 0 moov 0 ts 0 tracks 0", ""}},
    {"fuzz_e6d6d2e082a7.mov", {"mdat 0 moov 52 ts 0 tracks 0", ""}},
    {"meta_short.mov", {"mdat 0 moov 8 ts 0 tracks 0", ""}},
    {"seventeen_tracks.mov", {"mdat 0 moov 8 ts 0 tracks 16" + repeat(" | vide - n=0 0/0/0/0", 16), "addTrack error - memory full\n"}},
    {"size_one_bogus64.mov", {"mdat 0 moov 16 ts 0 tracks 1 | - - n=0 0/0/0/0", ""}},
    {"size_smaller_than_header.mov", {"mdat 0 moov 8 ts 0 tracks 0", ""}},
    {"size_zero_in_moov.mov", {"mdat 0 moov 8 ts 0 tracks 0", ""}},
    {"table_counts_exceed_atom.mov", {"mdat 0 moov 8 ts 0 tracks 1 | - - n=1 1/1/1/0", ""}},
};

TEST(QtHostileCorpus, EveryFileGivesItsKnownResult) {
    const std::string dir = std::string(FRAMEND_SOURCE_DIR) + "/tests/qt/corpus";
    const std::vector<std::string> files = testsupport::filesIn(dir);
    ASSERT_EQ(files.size(), kExpected.size()) << "a corpus file without an expectation, or one missing";
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(kExpected.count(name));
        const Expected& e = kExpected.at(name);
        const std::string path = dir + "/" + name;
        for (uint32_t traceMask : {0u, 255u}) {
            testing::internal::CaptureStdout();
            const qttest::Movie m = qttest::open(path, traceMask);
            const std::string printed = testing::internal::GetCapturedStdout();
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(qttest::summary(m.get()), e.found);
            qttest::expectTablesWithinFile(m.get(), testsupport::readFile(path).size());
            if (traceMask == 0) {
                EXPECT_EQ(printed, e.printed);
            }
            testing::internal::CaptureStdout();
            QTDump(m.get());
            // At most 22 lines per table: a dump that loops or lists a
            // lying count in full is far longer.
            EXPECT_LT(testing::internal::GetCapturedStdout().size(), 64u * 1024);
        }
    }
}

}  // namespace
