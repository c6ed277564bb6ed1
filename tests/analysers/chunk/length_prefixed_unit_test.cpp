// Passing over positions whose length field cannot fit must find exactly the
// positions the full unit test finds, over the bytes of a real recording
// (H.264 units and AAC frames as a gap search meets them).

#include "analysers/chunk/learned_sample_codec.h"

#include "bitstream/h264/sample_units.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

class LengthPrefixedUnit : public ::testing::TestWithParam<unsigned> {};

// The same bytes read with two-byte lengths stand for the phones that write those.
INSTANTIATE_TEST_SUITE_P(LengthSizes, LengthPrefixedUnit, ::testing::Values(4u, 2u));

TEST_P(LengthPrefixedUnit, FindsWhatTheUnitTestFinds) {
    const unsigned prefix = GetParam();
    const std::vector<uint8_t> file = testsupport::readFile(testmedia::h264AacMp4());
    ASSERT_GT(file.size(), 100000u);
    const auto test = [prefix](const uint8_t* d, int64_t m) {
        H264::NalUnitCheck nal;
        return H264::nalUnitCheck(d, m, nal, H264::kMinKnownSliceLength, 0, prefix);
    };
    size_t found = 0;
    // Every search from every start of the window; the first unit found.
    const auto searches = [&](const uint8_t* data, int64_t n) {
        int64_t first = n;
        for (int64_t from = 0, expected = 0; from <= n; from = expected + 1) {
            for (expected = from; expected < n && !test(data + expected, n - expected);)
                ++expected;
            EXPECT_EQ(nextLengthPrefixedUnit(data, n, from, prefix, test), expected);
            found += expected < n;
            first = std::min(first, expected);
        }
        return first;
    };
    std::mt19937 rng(11);
    for (int window = 0; window < 40; ++window) {
        const int64_t n = 5 + int64_t(rng() % 40000);
        const int64_t offset = int64_t(rng() % (file.size() - size_t(n)));
        const uint8_t* data = file.data() + offset;
        const int64_t first = searches(data, n);
        // And the window that ends where that unit does.
        if (first < n) {
            EXPECT_EQ(searches(data, first + prefix + int64_t(bitstream::readUnitLength(data + first, prefix))), first);
        }
    }
    EXPECT_GT(found, 40u);  // the windows held units, not only sound
}
