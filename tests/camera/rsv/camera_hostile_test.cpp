// Random bytes sprinkled with the structures the Sony RSV and Canon REPI
// recoveries look for (KLV keys with wild lengths, RTMD headers, delimiters,
// repi record heads with wild counts and sizes) never crash or hang a repair.

#include "camera/rsv/rsv_recording.h"
#include "support/repair_run.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hostile(uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(3 << 20);
    for (uint8_t& x : b)
        x = uint8_t(gen());
    const Bytes heads[] = {
        {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x01},
        {0x00, 0x1C, 0x01, 0x00, 1, 2, 3, 4, 0xF0, 0x01, 0x00, 0x10},
        {0x00, 0x00, 0x00, 0x02, 0x09, 0x10, 0x00, 0x00, 0x00, 0x09, 0x65},
        {0x00, 0x00, 0x00, 0x03, 0x46, 0x01, 0x50, 0x00, 0x00, 0x00, 0x05, 0x26, 0x01},
        {'r', 'e', 'p', 'i', 0, 0, 0, 0, 'v', 'i', 'd', 'e', 0, 0, 0, 0, 120, 0, 0, 0},
        {'r', 'e', 'p', 'i', 0, 0, 0, 0, 'l', 'p', 'c', 'm'},
        {'r', 'e', 'p', 'i', 0, 0, 0, 0, 't', 'm', 'c', 'd'},
        {0x00, 0x10, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0x14, 0x02, 0x01, 0x67},
    };
    for (int k = 0; k < 3000; ++k) {
        const Bytes& h = heads[gen() % std::size(heads)];
        const size_t at = gen() % (b.size() - 64);
        std::copy(h.begin(), h.end(), b.begin() + long(at));
    }
    return b;
}

}  // namespace

TEST(CameraHostile, SprinkledStructuresNeverCrashOrHang) {
    const std::string ref = rsvtest::referenceMovie(true);
    for (const char* flags : {"-sonyrsv", "-canonrepi"}) {
        const auto r = repairrun::repairBytes(std::string("camera_hostile") + flags, ref, hostile(11), "noise.bin", flags);
        // A finished run: something recovered (0) or nothing found (3).
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3)
            << flags << " exit " << r.exitCode << "\n" << r.log.substr(r.log.size() > 4000 ? r.log.size() - 4000 : 0);
        EXPECT_NE(r.log.find("scan end"), std::string::npos) << flags;
    }
}
