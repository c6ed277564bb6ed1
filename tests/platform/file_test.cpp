#include "platform/file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using platform::File;

TEST(PlatformFile, RefusesDirectoriesAndMissingFiles) {
    const std::string dir = testsupport::scratchDir("PlatformRefuses");
    File f;
    EXPECT_FALSE(f.open(dir, File::Mode::Read));
    EXPECT_FALSE(f.open(dir, File::Mode::Write));
    EXPECT_FALSE(f.open(dir + "/missing", File::Mode::Read));
    EXPECT_FALSE(f.open("", File::Mode::Read));
    EXPECT_EQ(platform::fileSize(dir), -1);
    EXPECT_EQ(f.read(nullptr, 10), 0u);  // harmless when closed
}

TEST(PlatformFile, SameFileSeesThroughPathSpellings) {
    const std::string dir = testsupport::scratchDir("PlatformSame");
    const std::string a = dir + "/a.mov";
    testsupport::writeFile(a, {1, 2, 3});
    EXPECT_TRUE(platform::sameFile(a, dir + "/./a.mov"));
    EXPECT_TRUE(platform::sameFile(a, dir + "/../PlatformSame/a.mov"));
    ASSERT_EQ(::link(a.c_str(), (dir + "/hard.mov").c_str()), 0);
    EXPECT_TRUE(platform::sameFile(a, dir + "/hard.mov"));
    EXPECT_FALSE(platform::sameFile(a, dir + "/b.mov"));
    EXPECT_TRUE(platform::sameFile(dir + "/new.mov", dir + "/./new.mov"));
    EXPECT_FALSE(platform::sameFile("", a));
}

// The output's blocks are set aside ahead of the copies: the file must keep
// the size its writes give it (a reserve that grew it would leave zeros
// behind the movie's index), and cutting it to that size must give back
// what was set aside beyond.
TEST(PlatformFile, ReserveKeepsTheSizeAndTruncateGivesItBack) {
    const std::string name = testsupport::scratchDir("PlatformReserve") + "/reserved.bin";
    File w;
    ASSERT_TRUE(w.open(name, File::Mode::Write));
    const std::string block(1 << 20, 'r');
    ASSERT_EQ(w.write(block.data(), block.size()), block.size());
    ASSERT_TRUE(w.flush());
    if (!w.reserve(0, 16 << 20))
        GTEST_SKIP() << "this file system sets no blocks aside";
    EXPECT_EQ(w.size(), int64_t(block.size()));
    ASSERT_TRUE(w.truncate(w.size()));
    ASSERT_TRUE(w.closeChecked());
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, int64_t(block.size()));
    EXPECT_LE(int64_t(st.st_blocks) * 512, int64_t(block.size()) + (64 << 10));
    ::unlink(name.c_str());
}

TEST(PlatformFile, PreadLeavesThePositionAlone) {
    const std::string digits = "0123456789";
    const std::string name = testsupport::writeScratch("PlatformPread", "data.bin", {digits.begin(), digits.end()});
    File f;
    ASSERT_TRUE(f.open(name, File::Mode::Read));
    char b[8] = {};
    ASSERT_EQ(f.read(b, 2), 2u);
    EXPECT_EQ(f.pread(6, b, 8), 4u);  // up to the end only
    EXPECT_EQ(std::string(b, 4), "6789");
    EXPECT_EQ(f.pread(10, b, 1), 0u);
    EXPECT_EQ(f.pread(-1, b, 1), 0u);
    ASSERT_EQ(f.read(b, 3), 3u);  // the stream goes on where it was
    EXPECT_EQ(std::string(b, 3), "234");
}
