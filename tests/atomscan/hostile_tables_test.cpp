// Tables that lie: counts beyond their atom, zero and huge entries, offsets
// past the end of the file, tables that point into each other. Every run
// must end in order, and never rebuild more than the file holds.

#include "movie_surgery.h"

#include "platform/file.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

Bytes ftyp() { return atom("ftyp", concat({Bytes{'i', 's', 'o', 'm'}, u32s({0x200}), Bytes{'i', 's', 'o', 'm'}})); }

// ftyp, an mdat of noise, then the tables.
Bytes movieWith(const Bytes& tables) {
    return concat({ftyp(), atom("mdat", repairrun::noise(20000, 11)), tables, Bytes(64, 0)});
}

constexpr uint32_t kMedia = 28;  // first payload byte: 20-byte ftyp, 8-byte mdat header

// -qtrc with an output, then -atomdump alone: both end in order, and a
// rebuilt movie holds no more than the input had.
repairrun::Outcome runHostile(const std::string& test, const Bytes& input) {
    const auto r = repairrun::repairBytes(test, atomtest::faststartMp4(), input, "in.mp4", "-qtrc", "out.mp4");
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << test << " exit " << r.exitCode << "\n" << r.errors;
    EXPECT_NE(r.log.find("[INFO] scan end\n"), std::string::npos) << test;
    if (r.exitCode == 0) {
        EXPECT_LE(platform::fileSize(r.repaired), 2 * int64_t(input.size()) + 65536) << test;
    }
    const std::string dir = r.repaired.substr(0, r.repaired.rfind('/'));
    const auto dump = repairrun::run("-i " + quote(dir + "/in.mp4") + " -atomdump", dir);
    EXPECT_EQ(dump.exitCode, 0) << test << "\n" << dump.errors;
    return r;
}

struct HostileCase {
    const char* name;
    Bytes input;
    int exitCode;  // -1: either 0 or 3
    const char* logLine;  // nullptr: none required
};

Bytes offsetsPastTheEnd() {
    auto build = [](uint64_t last) {
        Bytes co64 = u32s({4});
        for (const uint64_t offset : {uint64_t(1) << 63, UINT64_MAX, UINT64_MAX - 27, last})
            put64(co64, offset);
        return movieWith(concat({
            fullAtom("stsz", 0, 0, u32s({0, 4, 100, 100, 100, 100})),
            fullAtom("stsc", 0, 0, u32s({1, 1, 1, 1})),
            fullAtom("co64", 0, 0, co64),
        }));
    };
    // The last sample starts inside the file and reaches past its end.
    return build(build(0).size() - 50);
}

// Every chunk at the same place, each with four billion samples of one byte
// (or one huge PCM block): far more than the file holds.
Bytes tablesPointingIntoEachOther() {
    Bytes offsets;
    put32(offsets, 5000);
    for (int i = 0; i < 5000; ++i)
        put32(offsets, kMedia + uint32_t(i % 7));
    const Bytes chunks = fullAtom("stco", 0, 0, offsets);
    return movieWith(concat({
        fullAtom("stsz", 0, 0, u32s({1, 0xFFFFFFFF})),
        fullAtom("stsc", 0, 0, u32s({1, 1, 0xFFFFFFFF, 1})),
        chunks,
        fullAtom("stsz", 0, 0, u32s({0, 3, 300, 300, 300})),
        fullAtom("stsc", 0, 0, u32s({1, 1, 3, 1})),
        chunks,
    }));
}

Bytes atomSizesThatLie() {
    Bytes truncated = movieWith(concat({
        atom64("stsz", u32s({0, 0, 2, 10, 20}), uint64_t(1) << 62),
        atom("stsc", {}, 3),
        atom("stco", u32s({0, 1, kMedia}), 0xFFFFFFF0),
    }));
    // A table header as the file's last bytes.
    const Bytes tail = atom("stsz", u32s({0}), 0x100);
    truncated.insert(truncated.end(), tail.begin(), tail.end());
    return truncated;
}

Bytes moreTracksThanTheReference() {
    Bytes tables;
    for (int t = 0; t < 40; ++t) {
        const Bytes one = concat({fullAtom("stsz", 0, 0, u32s({0, 1, 10})), fullAtom("stsc", 0, 0, u32s({1, 1, 1, 1})),
                                  fullAtom("stco", 0, 0, u32s({1, kMedia + uint32_t(t) * 10}))});
        tables.insert(tables.end(), one.begin(), one.end());
    }
    return movieWith(tables);
}

// Table atoms nested in each other, each claiming the rest of the file: read
// together they would be many times the file.
Bytes nestedTables() {
    const Bytes body = repairrun::noise(30000, 8);
    Bytes file = concat({ftyp(), atom("mdat", repairrun::noise(2000, 11))});
    const size_t start = file.size();
    file.insert(file.end(), body.begin(), body.end());
    const char* types[] = {"stsz", "stsc", "stco", "ctts"};
    for (size_t i = 0; i < 4; ++i) {
        const size_t at = start + i * 24;
        const Bytes head = fullAtom(types[i], 0, 0, u32s({0, 0x3FFFFFFF}));
        std::copy(head.begin(), head.end(), file.begin() + long(at));
        setBe32(&file[at], uint32_t(file.size() - at));
    }
    return file;
}

}  // namespace

TEST(HostileTables, EveryLieEndsInOrder) {
    const HostileCase cases[] = {
        // Counts beyond the atom are cut to what it holds.
        {"HostileCounts",
         movieWith(concat({
             fullAtom("ctts", 0, 0, u32s({0xFFFFFFFF, 1, 0})),
             fullAtom("stsc", 0, 0, u32s({0x7FFFFFFF, 1, 2, 1})),
             fullAtom("stsz", 0, 0, u32s({0, 0xFFFFFFFF, 100, 200})),
             fullAtom("stco", 0, 0, u32s({1000000000, kMedia})),
         })),
         0, "[INFO] QT video sample        128 - 200 - 0\n"},
        // Zero and huge entries take only what fits the file.
        {"HostileEntries",
         movieWith(concat({
             fullAtom("stsz", 0, 0, u32s({0, 5, 0, 0xFFFFFFFF, 0x7FFFFFFF, 50, 60})),
             fullAtom("stsc", 0, 0, u32s({3, 0, 0xFFFFFFFF, 1, 1, 0, 1, 0xFFFFFFFF, 5, 1})),
             fullAtom("stco", 0, 0, u32s({3, 0xFFFFFFFF, 0, kMedia})),
         })),
         -1, nullptr},
        {"HostileOffsets", offsetsPastTheEnd(), 3,
         "[WARNING] QT reconstruction: 4 samples of the tables lie outside the input; skipped\n"},
        {"HostileOverlap", tablesPointingIntoEachOther(), 0,
         "[ERROR] QT reconstruction: the tables describe more data than the file holds; stopped\n"},
        {"HostileAtomSizes", atomSizesThatLie(), -1, nullptr},
        {"HostileTrackCount", moreTracksThanTheReference(), 0, "[ERROR] no such track\n"},
        {"HostileNested", nestedTables(), -1, "[ERROR] table atoms overlap - stsc at "},
    };
    for (const HostileCase& c : cases) {
        const repairrun::Outcome v = runHostile(c.name, c.input);
        if (c.exitCode >= 0) {
            EXPECT_EQ(v.exitCode, c.exitCode) << c.name;
        }
        if (c.logLine) {
            EXPECT_NE(v.log.find(c.logLine), std::string::npos) << c.name << "\n" << v.log.substr(0, 3000);
        }
    }
}

// Noise with table atoms of random content planted all over it.
TEST(HostileTables, RandomTablesInNoise) {
    const char* types[] = {"ftyp", "mdat", "ctts", "stsc", "stco", "co64", "stsz"};
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        Bytes b = repairrun::noise(60000, seed);
        const Bytes plan = repairrun::noise(600, seed + 1000);
        for (size_t i = 0; i + 5 < plan.size(); i += 5) {
            const size_t at = (size_t(plan[i]) << 8 | plan[i + 1]) % (b.size() - 16);
            setBe32(&b[at], plan[i + 2] < 128 ? plan[i + 3] : be32(&plan[i + 1]));
            std::copy(types[plan[i + 4] % 7], types[plan[i + 4] % 7] + 4, b.begin() + long(at + 4));
            b[at + 8] = plan[i + 3] & 1;  // version 0 or 1
        }
        runHostile("HostileRandom" + std::to_string(seed), b);
    }
}
