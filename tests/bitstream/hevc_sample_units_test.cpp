// The HEVC unit test that every offset of a chunk search goes through.

#include "bitstream/hevc/sample_units.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A length-prefixed unit of `length` bytes: the two header bytes, then 0x80s.
std::vector<uint8_t> unit(uint8_t type, uint32_t length, uint8_t layerTid = 1) {
    std::vector<uint8_t> u = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                              uint8_t(type << 1), layerTid};
    u.resize(4 + length, 0x80);
    return u;
}

bool passes(const std::vector<uint8_t>& u, bool parameterSets = false) {
    HEVC::UnitCheck c;
    return HEVC::unitCheck(u.data(), int64_t(u.size()), c, HEVC::kMinKnownSliceLength, parameterSets);
}

}  // namespace

TEST(HevcUnitCheck, TypesAndLengthsASampleHolds) {
    EXPECT_TRUE(passes(unit(1, 3)));     // a trailing picture's slice
    EXPECT_TRUE(passes(unit(21, 900)));  // CRA
    EXPECT_TRUE(passes(unit(35, 16)));   // access unit delimiter
    EXPECT_FALSE(passes(unit(35, 17)));
    EXPECT_TRUE(passes(unit(39, 131072)));  // prefix SEI
    EXPECT_FALSE(passes(unit(40, 131073)));
    EXPECT_FALSE(passes(unit(1, 40, 0x09)));  // nuh_layer_id 1
    EXPECT_FALSE(passes(unit(1, 40, 0x00)));  // no temporal id
    EXPECT_FALSE(passes(unit(22, 40)));       // reserved random access type
    for (uint8_t type : {32, 33, 34}) {
        EXPECT_FALSE(passes(unit(type, 20)));
        EXPECT_TRUE(passes(unit(type, 20), true));  // a recorder that repeats them in its samples
    }
    std::vector<uint8_t> cut = unit(1, 100);
    cut.resize(50);
    EXPECT_FALSE(passes(cut));
}
