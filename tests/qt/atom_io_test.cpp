// Field primitives: encodings, trace layout and fourcc helpers.

#include <gtest/gtest.h>

#include <memory>

#include "qt/quicktime.h"
#include "qt_test_util.h"
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

struct TraceArgs {
    MovieFile* f;
    int depth;
    uint32_t mask;
};

TEST(AtomIo, TraceLayout) {
    Scratch s("AtomIo_Trace");
    TraceArgs args{s.f.get(), 0, 1};
    auto writeField = [](void* p) {
        auto* a = static_cast<TraceArgs*>(p);
        a->f->m_depth = a->depth;
        a->f->m_traceMask = a->mask;
        uint32_t v = 42;
        rw32be(a->f, &v, "stsz.samplesize", kTraceAtoms);
    };
    const std::string depth0 = qttest::captureStdout(writeField, &args);
    EXPECT_EQ(depth0, "rw32be      " + std::string(18, ' ') + "at           0 (stsz.samplesize ):         42  (00 00 00 2A )\n");
    args.depth = 6;
    const std::string depth6 = qttest::captureStdout(writeField, &args);
    EXPECT_EQ(depth6.substr(0, 18 + 12 + 3), "|  |  |  |  |  |  rw32be      at ");
    args.mask = 0;
    EXPECT_EQ(qttest::captureStdout(writeField, &args), "");
    args.mask = kTraceTables;  // class 1 field, class 2 mask: nothing
    EXPECT_EQ(qttest::captureStdout(writeField, &args), "");

    auto rawField = [](void* p) {
        auto* a = static_cast<TraceArgs*>(p);
        a->f->m_depth = 0;
        a->f->m_traceMask = 255;
        uint8_t buf[100] = {};
        rw(a->f, buf, 100, "atom.data", kTraceTables);
    };
    const std::string raw = qttest::captureStdout(rawField, &args);
    EXPECT_NE(raw.find("(" + [] { std::string h; for (int i = 0; i < 48; ++i) h += "00 "; return h; }() + ")\n"),
              std::string::npos);
}

TEST(AtomIo, FourccHelpers) {
    const Fourcc avc1 = makeFourcc("avc1");
    EXPECT_EQ(avc1, fourccFromText("avc1xyz"));
    EXPECT_TRUE(fourccEquals(avc1, "avc1"));
    EXPECT_FALSE(fourccEquals(makeFourcc("avc\0"), "avc"));  // three characters never match
    EXPECT_FALSE(fourccEquals(avc1, "avc"));
    EXPECT_STREQ(fourccText(makeFourcc("soun")), "soun");
    const uint8_t bytes[4] = {'m', 'd', 'a', 't'};
    Fourcc fromFile;
    std::memcpy(&fromFile, bytes, 4);
    EXPECT_EQ(fromFile, makeFourcc("mdat"));  // in memory in file order
}

}  // namespace
