// The rebuild's own box reader on hand-made references: the tables it
// expands and the faults it must refuse instead of reading past.

#include "camera/crm/crm_reference.h"
#include "support/atom_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace testsupport;

namespace {

Bytes videoTrak(const Bytes& stsc) {
    const Bytes stbl = atom("stbl", concat({fullAtom("stsd", 0, 0, u32s({0})), fullAtom("stsz", 0, 0, u32s({4096, 90})),
                                            fullAtom("stsc", 0, 0, stsc), fullAtom("stts", 0, 0, u32s({1, 90, 1001})),
                                            fullAtom("stco", 0, 0, u32s({4, 100, 200, 300, 400}))}));
    const Bytes hdlr = fullAtom("hdlr", 0, 0, concat({u32s({0}), Bytes{'v', 'i', 'd', 'e'}, u32s({0, 0, 0})}));
    const Bytes minf = atom("minf", concat({fullAtom("vmhd", 0, 1, Bytes(8, 0)), atom("dinf", {}), stbl}));
    const Bytes mdhd = fullAtom("mdhd", 1, 0, concat({Bytes(16, 0), u32s({24000, 0, 90090, 0})}));
    return atom("trak", concat({fullAtom("tkhd", 0, 3, Bytes(80, 0)), atom("mdia", concat({mdhd, hdlr, minf}))}));
}

Bytes movie(const Bytes& moovChildren) {
    return concat({atom("ftyp", Bytes{'c', 'r', 'x', ' ', 0, 0, 0, 1}), atom("moov", moovChildren),
                   atom("mdat", Bytes(500, 0))});
}

Bytes mvhd() { return fullAtom("mvhd", 0, 0, concat({u32s({0, 0, 600, 0}), Bytes(80, 0)})); }

}  // namespace

TEST(CrmReference, TablesAreExpandedPerChunk) {
    const std::string name = writeScratch("crm_reference", "ref.mov",
                                          movie(concat({mvhd(), videoTrak(u32s({2, 1, 30, 1, 3, 15, 1}))})));
    const crm::CrmReference ref = crm::loadCrmReference(name);
    ASSERT_NE(ref.video(), nullptr);
    EXPECT_EQ(ref.video()->samplesPerChunk, (std::vector<uint32_t>{30, 30, 15, 15}));
    EXPECT_EQ(ref.video()->sampleSizes, std::vector<uint32_t>(90, 4096));
    EXPECT_EQ(ref.video()->duration, 90090u);  // 64-bit in a version 1 header
    EXPECT_EQ(ref.video()->sampleDelta, 1001u);
    EXPECT_EQ(ref.movieTimescale, 600u);
    EXPECT_EQ(ref.mediaStart, readFile(name).size() - 500);  // the mdat payload is the last 500 bytes
}

TEST(CrmReference, FaultsAreRefused) {
    const struct {
        Bytes moovChildren;
        const char* error;
    } cases[] = {
        {videoTrak(u32s({2, 1, 30, 1, 3, 15, 1})), "reference moov lacks mvhd"},
        {concat({mvhd(), videoTrak(u32s({5, 1, 30, 1}))}), "bad stsc entries"},  // claims 5 entries, holds 1
        {concat({mvhd(), atom("trak", atom("tkhd", {}))}), "bad trak"},
        {concat({mvhd(), atom("udta", {}, 7u)}), "invalid box"},  // smaller than its header
    };
    for (const auto& c : cases) {
        const std::string name = writeScratch("crm_reference_faults", "ref.mov", movie(c.moovChildren));
        try {
            crm::loadCrmReference(name);
            ADD_FAILURE() << "accepted; expected " << c.error;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}
