#include "app/auto_detection.h"

#include "scan/scan_buffer.h"
#include "analysers/core/scan_info.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void put(std::vector<uint8_t>& d, size_t at, const std::vector<uint8_t>& bytes) {
    if (d.size() < at + bytes.size())
        d.resize(at + bytes.size());
    std::memcpy(d.data() + at, bytes.data(), bytes.size());
}

std::vector<uint8_t> text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

ScanInfo detect(const std::string& test, const std::vector<uint8_t>& data, const std::string& videoClass) {
    ScanBuffer buffer;
    EXPECT_TRUE(buffer.open(testsupport::writeScratch(test, "in.bin", data)));
    ScanInfo info;
    runAutoDetection(buffer, videoClass, info);
    return info;
}

}  // namespace

TEST(AutoDetection, RepiRecordNeedsAKnownKind) {
    std::vector<uint8_t> d(4096, 0);
    put(d, 100, text("repiXXXXtmcd"));
    EXPECT_FALSE(detect("AutoRepiNo", d, "hvc1").canonRepiMode);
    put(d, 200, text("repiXXXXvide"));
    EXPECT_TRUE(detect("AutoRepiYes", d, "hvc1").canonRepiMode);
}

TEST(AutoDetection, RsvSignaturesButNotInsideAMovie) {
    std::vector<uint8_t> d(4096, 0);
    put(d, 1000, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x01});
    EXPECT_TRUE(detect("AutoRsvKlv", d, "").sonyRsvMode);
    std::vector<uint8_t> r(4096, 0);
    put(r, 50, {0x00, 0x1C, 0x01, 0x00, 1, 2, 3, 4, 0xF0, 0x01, 0x00, 0x10});
    EXPECT_EQ(findRsvSignature(r.data(), int64_t(r.size())), 2);
    EXPECT_TRUE(detect("AutoRsvRtmd", r, "").sonyRsvMode);
    put(d, 0, {0, 0, 0, 20});
    put(d, 4, text("ftyp"));
    EXPECT_FALSE(detect("AutoRsvFtyp", d, "").sonyRsvMode);
    // Too short to hold a signature.
    EXPECT_EQ(findRsvSignature(d.data(), 17), 0);
}

TEST(AutoDetection, CrmPayloadLengthMustFitTheFile) {
    std::vector<uint8_t> d(64, 0);
    put(d, 10, {0xFF, 0x11, 0x00, 0x10, 0x00, 0x20, 0x00, 0x00});  // L = 2 MiB
    EXPECT_FALSE(findCrmPayload(d.data(), int64_t(d.size()), 1000));
    EXPECT_TRUE(findCrmPayload(d.data(), int64_t(d.size()), 10 + 0x200000 + 872));
    put(d, 10, {0xFF, 0x11, 0x00, 0x10, 0x00, 0x10, 0x00, 0x00});  // exactly 1 MiB is too small
    EXPECT_FALSE(findCrmPayload(d.data(), int64_t(d.size()), int64_t(1) << 30));
}

// A crx file type alone: the rebuild from the tables for the CRAW class only;
// a second crx file type beyond the first megabyte is a wrapped recording.
TEST(AutoDetection, CrmFileTypeByClassAndWrappedFromOneMiB) {
    std::vector<uint8_t> d(0x100000 + 4096, 0);
    put(d, 0, {0, 0, 0, 24});
    put(d, 4, text("ftypcrx "));
    ScanInfo other = detect("AutoCrmOther", d, "avc1");
    EXPECT_FALSE(other.canonCrmMode);
    EXPECT_FALSE(other.qtReconstruction);
    ScanInfo craw = detect("AutoCrmCraw", d, "CRAW");
    EXPECT_FALSE(craw.canonCrmMode);
    EXPECT_TRUE(craw.qtReconstruction);
    put(d, 0x100000 + 100, {0, 0, 0, 0x18});
    put(d, 0x100000 + 104, text("ftypcrx "));
    ScanInfo wrapped = detect("AutoCrmWrapped", d, "CRAW");
    EXPECT_TRUE(wrapped.canonCrmMode);
    EXPECT_TRUE(wrapped.canonCrmWrapped);
    EXPECT_FALSE(wrapped.qtReconstruction);
}
