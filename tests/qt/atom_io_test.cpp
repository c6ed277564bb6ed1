// Field primitives: encodings, trace layout and fourcc helpers.

#include <gtest/gtest.h>

#include <memory>

#include "qt/quicktime.h"
#include "support/test_support.h"

using namespace qt;

namespace {

struct Scratch {
    std::unique_ptr<MovieFile> f = std::make_unique<MovieFile>();
    std::string path;
    explicit Scratch(const std::string& test) {
        path = testsupport::scratchDir(test) + "/io.bin";
        f->m_file.open(path, platform::File::Mode::Write);
        f->m_mode = 'w';
        f->m_depth = 0;
    }
    std::vector<uint8_t> bytes() {
        f->m_file.flush();
        return testsupport::readFile(path);
    }
    // Reopens the written bytes for reading from the start.
    void reread() {
        f->m_file.close();
        f->m_file.open(path, platform::File::Mode::Read);
        f->m_mode = 'r';
        f->m_position = 0;
    }
};

TEST(AtomIo, FixedPointEncodings) {
    Scratch s("AtomIo_Fixed");
    double minusOne = -1.0, one = 1.0;
    ASSERT_TRUE(rwfix32(s.f.get(), &minusOne, nullptr, 0));
    ASSERT_TRUE(rwfix16(s.f.get(), &one, nullptr, 0));
    double rate = 48000.0;
    ASSERT_TRUE(rw64float(s.f.get(), &rate, nullptr, 0));
    EXPECT_EQ(s.bytes(), (std::vector<uint8_t>{0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x40, 0xE7, 0x70, 0, 0, 0, 0, 0}));
    s.reread();
    double a = 0, b = 0, c = 0;
    rwfix32(s.f.get(), &a, nullptr, 0);
    rwfix16(s.f.get(), &b, nullptr, 0);
    rw64float(s.f.get(), &c, nullptr, 0);
    EXPECT_EQ(a, 65535.0);  // a stored negative reads back as a large positive
    EXPECT_EQ(b, 1.0);
    EXPECT_EQ(c, 48000.0);
    EXPECT_EQ(s.f->m_position, 14u);
    uint32_t v = 7;
    EXPECT_FALSE(rw32be(s.f.get(), &v, nullptr, 0));  // end of file: short read fails
    EXPECT_EQ(v, 0u);
}

TEST(AtomIo, DescriptorLengths) {
    Scratch s("AtomIo_Descr");
    uint8_t bytes[] = {0x80, 0x80, 0x80, 0x05, 0x81, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    rw(s.f.get(), bytes, sizeof bytes, nullptr, 0);
    s.reread();
    EXPECT_EQ(readdescrsz(s.f.get(), nullptr, 0), 5);
    EXPECT_EQ(readdescrsz(s.f.get(), nullptr, 0), 128);
    // Stops after four bytes even when the fourth still says "more".
    EXPECT_EQ(readdescrsz(s.f.get(), nullptr, 0), 0x0FFFFFFF);
    EXPECT_EQ(s.f->m_position, 10u);
}

// Field trace lines as -dump's trace prints them, by depth and trace class.
TEST(AtomIo, TraceLayout) {
    Scratch s("AtomIo_Trace");
    auto traced = [&](int depth, uint32_t mask) {
        s.f->m_depth = depth;
        s.f->m_traceMask = mask;
        uint32_t v = 42;
        testing::internal::CaptureStdout();
        rw32be(s.f.get(), &v, "stsz.samplesize", kTraceAtoms);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(traced(0, 1), "rw32be      " + std::string(18, ' ') + "at           0 (stsz.samplesize ):         42  (00 00 00 2A )\n");
    EXPECT_EQ(traced(6, 1).substr(0, 18 + 12 + 3), "|  |  |  |  |  |  rw32be      at ");
    EXPECT_EQ(traced(0, 0), "");
    EXPECT_EQ(traced(0, kTraceTables), "");  // class 1 field, class 2 mask: nothing

    s.f->m_depth = 0;
    s.f->m_traceMask = 255;
    uint8_t buf[100] = {};
    testing::internal::CaptureStdout();
    rw(s.f.get(), buf, 100, "atom.data", kTraceTables);
    std::string hex48;  // long fields show their first 48 bytes
    for (int i = 0; i < 48; ++i)
        hex48 += "00 ";
    EXPECT_NE(testing::internal::GetCapturedStdout().find("(" + hex48 + ")\n"), std::string::npos);
}

}  // namespace
