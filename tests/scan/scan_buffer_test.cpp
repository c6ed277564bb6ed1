// ScanBuffer: the window the scan walks through, the other read paths, and
// that every path sees the same simulated damage.

#include "scan/scan_buffer.h"

#include "simcorr/simulated_corruption.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/scratch_test.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

// Bytes that differ from their neighbours and repeat only rarely, so a
// read from the wrong offset shows.
Bytes pattern(size_t n) { return repairrun::noise(n, 0x12345678u); }

Bytes slice(const Bytes& b, size_t offset, size_t n) { return Bytes(b.begin() + offset, b.begin() + offset + n); }
Bytes at(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

using ScanBufferTest = ScratchTest;

// The window after a get(): where it starts, how much is valid from p, and
// that those bytes are the file's bytes at `at`.
void expectWindow(const ScanBuffer& buf, const uint8_t* p, const Bytes& data, int64_t start, size_t at,
                  int32_t available) {
    EXPECT_EQ(buf.windowOffset(), start);
    EXPECT_EQ(buf.available(), available);
    EXPECT_EQ(Bytes(p, p + available), slice(data, at, size_t(available)));
}

// Reads the whole file by walking the window the way the scan does: fixed
// steps with an overlap, each step a get() at the new offset.
Bytes walkWindows(ScanBuffer& buf, int32_t step) {
    Bytes out;
    int64_t pos = 0;
    while (true) {
        const uint8_t* p = buf.get(pos, step);
        const int32_t a = std::min(buf.available(), step);
        if (a <= 0)
            break;
        out.insert(out.end(), p, p + a);
        pos += a;
    }
    return out;
}

}  // namespace

TEST_F(ScanBufferTest, WindowServesFromMemoryAndRefillsAtRequestedOffset) {
    const Bytes data = pattern(10007);
    ScanBuffer buf;
    ASSERT_TRUE(buf.open(write("in.bin", data), 1000));
    EXPECT_EQ(buf.fileSize(), 10007);
    const uint8_t* base = buf.get(0, 10);  // open() filled the window from the start
    expectWindow(buf, base, data, 0, 0, 1000);
    // Inside the window: a pointer into the same buffer, no refill.
    EXPECT_EQ(buf.get(400, 600), base + 400);
    expectWindow(buf, base + 400, data, 0, 400, 600);
    EXPECT_EQ(buf.get(999, 0), base + 999);
    EXPECT_EQ(buf.available(), 1);
    // One byte more than the window holds from there: refill at exactly that offset.
    expectWindow(buf, buf.get(400, 601), data, 400, 400, 1000);
    // Past the window end, and backwards before the window start.
    expectWindow(buf, buf.get(5017, 8), data, 5017, 5017, 1000);
    expectWindow(buf, buf.get(3, 8), data, 3, 3, 1000);
    // Steps that keep part of the old window (moved, not read again).
    expectWindow(buf, buf.get(0, 1000), data, 0, 0, 1000);
    expectWindow(buf, buf.get(999, 2), data, 999, 999, 1000);
    // Walking with overlapping steps sees the file exactly once over.
    EXPECT_EQ(walkWindows(buf, 300), data);
}

TEST_F(ScanBufferTest, AvailableStopsAtEndOfFile) {
    const Bytes data = pattern(10007);
    ScanBuffer buf;
    ASSERT_TRUE(buf.open(write("in.bin", data), 1000));
    const uint8_t* p = buf.get(10007 - 50, 8192);
    expectWindow(buf, p, data, 10007 - 50, 10007 - 50, 50);
    // Inside that short window: only what is left of the file.
    EXPECT_EQ(buf.get(10007 - 20, 0), p + 30);
    EXPECT_EQ(buf.available(), 20);
    // A request the short window cannot satisfy re-reads, still bounded by the file.
    expectWindow(buf, buf.get(10007 - 20, 21), data, 10007 - 20, 10007 - 20, 20);
    // Back from that short window: the kept tail still ends at the file's end.
    expectWindow(buf, buf.get(9500, 8), data, 9500, 9500, 507);
    // At and after the end, and before the start: nothing valid.
    for (int64_t offset : {int64_t(10007), int64_t(1) << 30, int64_t(-5), INT64_MAX}) {
        EXPECT_NE(buf.get(offset, offset == INT64_MAX ? INT32_MAX : 1), nullptr) << offset;
        EXPECT_EQ(buf.available(), 0) << offset;
    }
    EXPECT_EQ(buf.lastReadCount(), 0);
}

TEST_F(ScanBufferTest, BlockAndDirectReads) {
    const Bytes data = pattern(5000);
    ScanBuffer buf;
    ASSERT_TRUE(buf.open(write("in.bin", data), 1000));

    // Reads inside the file are held against the window's bytes by
    // SimulatedDamageSameThroughEveryReadPath; here their ends.
    // Crossing the end: the valid part is short, the rest of the block is zero.
    ByteBlock b = buf.readBlock(4990, 64);
    // Block reads leave the window alone.
    EXPECT_EQ(buf.windowOffset(), 0);
    EXPECT_EQ(b.length(), 10);
    EXPECT_EQ(b.capacity(), 64u);
    EXPECT_EQ(at(b.data(), 10), slice(data, 4990, 10));
    EXPECT_EQ(at(b.data() + 10, 54), Bytes(54, 0));
    EXPECT_EQ(buf.lastReadCount(), 10);

    for (int64_t off : {int64_t(5000), int64_t(99999), int64_t(-1)}) {
        b = buf.readBlock(off, 16);
        EXPECT_EQ(b.length(), 0) << off;
        EXPECT_EQ(buf.lastReadCount(), 0) << off;
    }
    EXPECT_TRUE(buf.readBlock(0, 0).empty());
    EXPECT_TRUE(buf.readBlock(0, -7).empty());

    Bytes dest(64, 0xEE);
    EXPECT_EQ(buf.read(dest.data(), 4980, 64), 20u);
    EXPECT_EQ(buf.lastReadCount(), 20);
    EXPECT_EQ(slice(dest, 0, 20), slice(data, 4980, 20));
    EXPECT_EQ(dest[20], 0xEE);  // nothing written past the count
    EXPECT_EQ(buf.read(dest.data(), 5000, 64), 0u);
    EXPECT_EQ(buf.read(dest.data(), -3, 64), 0u);
}

TEST_F(ScanBufferTest, OpenFailureLeavesZeroFilledEmptyBuffer) {
    ScanBuffer buf;
    const std::string missing = m_dir + "/no such file.mp4";
    EXPECT_FALSE(buf.open(missing, 4096));
    EXPECT_FALSE(buf.isOpen());
    EXPECT_NE(m_log.text().find("[ERROR] ScanBuffer error opening file " + missing + "\n"), std::string::npos)
        << m_log.text();
    const uint8_t* p = buf.get(0, 16);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(buf.available(), 0);
    EXPECT_EQ(at(p, 16), Bytes(16, 0));
    EXPECT_EQ(buf.readBlock(0, 8).length(), 0);

    EXPECT_FALSE(buf.open(m_dir, 4096));  // a directory is not an input

    // An empty file opens but offers nothing.
    ASSERT_TRUE(buf.open(write("empty", {}), 4096));
    EXPECT_EQ(buf.fileSize(), 0);
    buf.get(0, 1);
    EXPECT_EQ(buf.available(), 0);
}

TEST_F(ScanBufferTest, EntropyOfKnownDistributions) {
    Bytes flat;
    for (int rep = 0; rep < 16; ++rep)
        for (int v = 0; v < 256; ++v)
            flat.push_back(uint8_t(v * 37));
    Bytes twoValues(4096);
    for (size_t i = 0; i < twoValues.size(); ++i)
        twoValues[i] = i % 2 ? 0x00 : 0xFF;
    ScanBuffer buf;
    ASSERT_TRUE(buf.open(write("e.bin", concat({Bytes(4096, 0x41), flat, twoValues})), 1000));

    EXPECT_FLOAT_EQ(buf.entropy(0, 4096), 0.0f);  // one repeated value
    EXPECT_EQ(buf.lastReadCount(), 4096);
    EXPECT_NEAR(buf.entropy(4096, 4096), 1.0f, 1e-6);  // all 256 values equally often
    EXPECT_NEAR(buf.entropy(8192, 4096), 0.125f, 1e-6);  // one bit per byte
    // Only the bytes actually read count: a request running past the end
    // measures the two-value tail alone.
    EXPECT_NEAR(buf.entropy(8192, 1 << 30), 0.125f, 1e-6);
    EXPECT_EQ(buf.lastReadCount(), 4096);
    EXPECT_FLOAT_EQ(buf.entropy(12288, 100), 0.0f);  // empty read
    EXPECT_EQ(buf.lastReadCount(), 0);

    // 3 MiB with every value equally often, read in one call through many internal chunks.
    Bytes big(3 << 20);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i);
    ASSERT_TRUE(buf.open(write("big.bin", big), 4096));
    EXPECT_NEAR(buf.entropy(0, int32_t(big.size())), 1.0f, 1e-6);
    EXPECT_EQ(buf.lastReadCount(), int32_t(big.size()));
}

TEST_F(ScanBufferTest, SimulatedDamageSameThroughEveryReadPath) {
    const Bytes file = concat({atom("ftyp", Bytes(16, 'f')), atom("mdat", pattern(3 << 20)), atom("moov", Bytes(100, 'm'))});
    const size_t mdatStart = 24 + 8, mdatEnd = mdatStart + (3 << 20);
    const std::string path = write("movie.mov", file);

    ASSERT_TRUE(simcorr::setup(path, 77, 8));
    ScanBuffer buf;
    ASSERT_TRUE(buf.open(path, 64 * 1024));

    // Through the window, in overlapping steps.
    const Bytes viaWindow = walkWindows(buf, 7001);
    ASSERT_EQ(viaWindow.size(), file.size());
    // Damage only inside the mdat payload, and in every planned block.
    EXPECT_EQ(slice(viaWindow, 0, mdatStart), slice(file, 0, mdatStart));
    EXPECT_EQ(slice(viaWindow, mdatEnd, file.size() - mdatEnd), slice(file, mdatEnd, file.size() - mdatEnd));
    for (const CorruptionBlock& b : simcorr::state().blocks)
        EXPECT_NE(slice(viaWindow, b.offset, b.size), slice(file, b.offset, b.size)) << b.offset;

    // Through block reads of odd sizes and through one direct read.
    Bytes viaBlocks;
    for (int64_t off = 0; off < int64_t(file.size());) {
        const ByteBlock b = buf.readBlock(off, 12345);
        viaBlocks.insert(viaBlocks.end(), b.data(), b.data() + b.length());
        off += b.length();
    }
    EXPECT_EQ(viaBlocks, viaWindow);
    Bytes viaRead(file.size());
    EXPECT_EQ(buf.read(viaRead.data(), 0, viaRead.size()), file.size());
    EXPECT_EQ(viaRead, viaWindow);
    // Through peeks of a few bytes here and there, which leave the window be.
    const uint8_t* window = buf.get(0, 100);
    for (size_t off = 0; off < file.size(); off += 9973) {
        const int32_t n = int32_t(std::min<size_t>(300, file.size() - off));
        const uint8_t* p = buf.peek(int64_t(off), n);
        ASSERT_GE(buf.available(), n) << off;
        EXPECT_EQ(at(p, size_t(n)), slice(viaWindow, off, size_t(n))) << off;
    }
    EXPECT_EQ(buf.get(0, 100), window);

    // Entropy reads measure the damaged bytes: compare with the same bytes
    // stored undamaged in a file the overlay does not touch.
    ScanBuffer damagedCopy;
    ASSERT_TRUE(damagedCopy.open(write("copy.bin", viaWindow), 4096));
    for (const CorruptionBlock& b : simcorr::state().blocks) {
        const int64_t from = int64_t(b.offset) - 500;
        const int32_t n = int32_t(b.size) + 1000;
        EXPECT_FLOAT_EQ(buf.entropy(from, n), damagedCopy.entropy(from, n)) << b.offset;
    }
}
