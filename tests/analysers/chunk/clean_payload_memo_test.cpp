// The memo must answer every payload test as reading the unit whole does,
// over the bytes of a real recording (H.264 pictures and AAC, as a search
// meets them) and windows that move on and jump back the way searches do.

#include "analysers/chunk/clean_payload_memo.h"

#include "bitstream/h264/sample_units.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

TEST(CleanPayloadMemo, AnswersAsTheWholeUnitTest) {
    const std::string movie = testmedia::h264AacMp4();
    const std::vector<uint8_t> file = testsupport::readFile(movie);
    ASSERT_GT(file.size(), 100000u);
    std::mt19937 rng(7);
    CleanPayloadMemo memo;
    size_t clean = 0, queries = 0;
    int64_t offset = 0;
    for (int window = 0; window < 60; ++window) {
        // Mostly on from the last window, now and then back or far ahead.
        const uint32_t move = rng() % 8;
        offset = move == 0 ? int64_t(rng() % (file.size() / 2)) : offset + int64_t(rng() % 30000);
        offset = std::min<int64_t>(offset, int64_t(file.size()) - 70000);
        const int64_t n = 20000 + rng() % 50000;
        // A copy, so that a pointer trusted beyond its window would show.
        std::vector<uint8_t> bytes(file.begin() + offset, file.begin() + offset + n);
        memo.setWindow(bytes.data(), n, offset);
        int64_t at = 0;
        for (int q = 0; q < 400; ++q, ++queries) {
            at = rng() % 6 == 0 ? int64_t(rng() % uint32_t(n)) : std::min<int64_t>(n - 1, at + rng() % 64);
            const uint32_t length = uint32_t(rng() % 3 == 0 ? n - at : rng() % uint32_t(n - at + 1));
            const bool whole = H264::nalPayloadClean(bytes.data() + at, length);
            clean += whole;
            ASSERT_EQ(memo.clean(bytes.data() + at, length), whole) << "offset " << offset + at << " length " << length;
        }
        memo.setWindow(nullptr, 0, 0);
    }
    // Both answers must have come up often enough to mean something.
    EXPECT_GT(clean, queries / 10);
    EXPECT_LT(clean, queries * 9 / 10);
}
