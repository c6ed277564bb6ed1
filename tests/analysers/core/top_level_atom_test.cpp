// The atom finder tests sixteen positions at a time: an atom must be found
// at every position of a block and of the tail, and never past `last`.

#include "analysers/core/top_level_atom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(TopLevelAtom, FoundAtEveryPositionUpToLastOnly) {
    // Bytes rich in type initials ('m', 'f', 's', 'w', 'u', 'p') that never
    // form an atom header.
    std::vector<uint8_t> filler(80);
    for (size_t k = 0; k < filler.size(); ++k)
        filler[k] = uint8_t("mfswup\x01"[k % 7]);
    for (int64_t at = 0; at <= 60; ++at) {
        std::vector<uint8_t> data = filler;
        // One type of each initial in turn.
        const char* type = "free\0moov\0skip\0wide\0udta\0pnot\0" + 5 * (at % 6);
        const uint8_t header[12] = {0, 0, 0, 12, uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
        std::memcpy(data.data() + at, header, sizeof header);
        // The file ends right behind the atom, which vouches for its size.
        const int64_t n = at + 12;
        for (const int64_t last : {at - 1, at, n - 8, int64_t(data.size())}) {
            TopLevelAtom atom;
            const bool found = findTopLevelAtom(data.data(), n, 1000, 1000 + n, last, atom);
            EXPECT_EQ(found, last >= at) << "at " << at << " last " << last;
            if (found) {
                EXPECT_EQ(atom.offset, 1000 + at);
            }
        }
    }
}
