// Simulated corruption: where the damage goes, that it is reproducible, and
// that the mdat search survives lying atom sizes.

#include "simcorr/simulated_corruption.h"

#include "platform/file.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/scratch_test.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

namespace {

using namespace testsupport;

class SimCorr : public ScratchTest {
protected:
    // A small movie-like file: ftyp, free, mdat with `payload` bytes, moov.
    std::string movie(const std::string& name, size_t payload) {
        return write(name, concat({atom("ftyp", Bytes(12, 'f')), atom("free", Bytes(3)), atom("mdat", repairrun::noise(payload, 7)),
                                atom("moov", Bytes(40, 'm'))}));
    }
};

using Range = std::pair<uint64_t, uint64_t>;

std::optional<Range> mdatOf(const std::string& path) {
    const auto r = simcorr::findMdat(path);
    return r ? std::optional<Range>(Range(r->start, r->end)) : std::nullopt;
}

}  // namespace

TEST(SimCorrMix, MatchesSplitMix64Sequence) {
    // Published SplitMix64 outputs for seed 0: mix(k * G) for k = 1, 2, 3.
    EXPECT_EQ(simcorr::mix(simcorr::G), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(simcorr::mix(2 * simcorr::G), 0x6E789E6AA1B965F4ULL);
    EXPECT_EQ(simcorr::mix(3 * simcorr::G), 0x06C45D188009454FULL);
}

// Where the mdat payload lies, or nothing when the top-level walk meets a
// size that lies.
TEST_F(SimCorr, FindMdatWalksTopLevelAtomsAndRejectsLyingSizes) {
    const Bytes head = concat({atom("ftyp", Bytes(12)), atom("free", Bytes(5))});  // 20 + 13 bytes
    const Bytes mdat = atom("mdat", Bytes(20));
    Bytes many;  // thousands of minimal atoms before the payload are walked one by one
    for (int i = 0; i < 5000; ++i)
        many = concat({many, atom("free", {})});
    const std::optional<Range> none;
    const struct {
        const char* name;
        Bytes file;
        std::optional<Range> payload;
    } cases[] = {
        {"plain", concat({head, atom("mdat", Bytes(100)), atom("moov", Bytes(8))}), Range(33 + 8, 33 + 108)},
        {"large", concat({head, atom64("mdat", Bytes(50)), atom("moov", Bytes(8))}), Range(33 + 16, 33 + 66)},
        {"two", concat({atom("mdat", Bytes(4)), atom("mdat", Bytes(9))}), Range(8, 12)},  // only the first counts
        {"nested", atom("moov", atom("mdat", Bytes(10))), none},
        {"many", concat({many, atom("mdat", Bytes(3))}), Range(40008, 40011)},
        // Size 0 reaches to the end of the file: as a first mdat, all is payload;
        // any other type swallows the mdat that follows it.
        {"zero_mdat", atom("mdat", Bytes(1000), 0), Range(8, 1008)},
        {"zero_free", concat({atom("free", Bytes(4), 0), atom("mdat", Bytes(10))}), none},
        {"zero_later", concat({atom("ftyp", Bytes(8)), atom("mdat", Bytes(7), 0)}), Range(24, 31)},
        // Sizes below the header would make the walk stand still or go back.
        {"small2", concat({atom("ftyp", Bytes(8), 2), mdat}), none},
        {"small7", concat({atom("ftyp", Bytes(8), 7), mdat}), none},
        {"overlong", concat({atom("ftyp", Bytes(8), 0x7fffffff), mdat}), none},
        {"overlong_mdat", atom("mdat", Bytes(20), 29), none},
        {"huge64", concat({atom64("ftyp", Bytes(8), ~0ULL), mdat}), none},
        {"tiny64", atom64("mdat", Bytes(8), 15), none},
        {"cut64", concat({atom("ftyp", Bytes(8)), Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0}}), none},
        {"short", Bytes{0, 0, 0, 8, 'm', 'd', 'a'}, none},
        {"empty", {}, none},
        {"tail", concat({atom("free", Bytes(2)), Bytes{1, 2, 3}}), none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mdatOf(write(c.name, c.file)), c.payload) << c.name;
    EXPECT_EQ(mdatOf(m_dir + "/missing"), none);
    EXPECT_EQ(mdatOf(m_dir), none);
}

TEST_F(SimCorr, FailedSetupDropsAnEarlierOne) {
    ASSERT_TRUE(simcorr::setup(movie("good", 5000), 1, 5));
    EXPECT_FALSE(simcorr::setup(write("emptymdat", concat({atom("ftyp", Bytes(8)), atom("mdat", {})})), 1, 5));
    EXPECT_NE(m_log.text().find("[ERROR] simcorr failed: empty mdat atom\n"), std::string::npos) << m_log.text();
    EXPECT_FALSE(simcorr::state().active);
    EXPECT_TRUE(simcorr::state().fileName.empty());
    EXPECT_TRUE(simcorr::state().blocks.empty());
}

TEST_F(SimCorr, SetupPlansBlocksInsidePayloadAndLogsThem) {
    const std::string file = movie("movie.mp4", 2 << 20);  // payload [39, 39 + 2 MiB)
    ASSERT_TRUE(simcorr::setup(file, 42, 5));
    const auto& st = simcorr::state();
    EXPECT_TRUE(st.active);
    // 2 MiB is far below one block per tens of MiB, so the base count of level + 2.
    ASSERT_EQ(st.blocks.size(), 7u);
    EXPECT_NE(m_log.text().find("[NOTICE] simcorr enabled: seed=42 mdat=39-2097191 corrlvl=5 blocks=7\n"),
              std::string::npos)
        << m_log.text();
    uint64_t previous = 0;
    for (size_t k = 0; k < st.blocks.size(); ++k) {
        const CorruptionBlock& b = st.blocks[k];
        EXPECT_GE(b.offset, previous);  // sorted
        previous = b.offset;
        EXPECT_GE(b.offset, 39u);
        EXPECT_GE(b.size, 1u);
        EXPECT_LE(b.offset + b.size, 39u + (2u << 20));
        EXPECT_LE(b.size, 5u * (2u << 20) / 200);  // the largest block allowed at this level
        std::ostringstream line;
        line << "[INFO] simcorr block " << k << " offset=" << b.offset << " size=" << b.size << " seed=" << b.seed
             << "\n";
        EXPECT_NE(m_log.text().find(line.str()), std::string::npos) << line.str();
    }
}

TEST_F(SimCorr, LevelsAreClampedAndOnlyThePayloadIsDamaged) {
    const std::string file = movie("movie.mp4", 3 << 20);
    const Bytes clean = testsupport::readFile(file);
    auto damaged = [&](uint64_t seed, int level) {
        EXPECT_TRUE(simcorr::setup(file, seed, level));
        Bytes b = clean;
        simcorr::apply(b.data(), file, 0, b.size());
        return std::make_pair(b, simcorr::state().blocks);
    };
    auto sameBlocks = [](const std::vector<CorruptionBlock>& a, const std::vector<CorruptionBlock>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
            return x.offset == y.offset && x.size == y.size && x.seed == y.seed;
        });
    };

    // Out-of-range levels are clamped, not rejected.
    EXPECT_TRUE(sameBlocks(damaged(7, 0).second, damaged(7, 1).second));
    EXPECT_NE(m_log.text().find(" corrlvl=1 "), std::string::npos);
    EXPECT_TRUE(sameBlocks(damaged(7, 15).second, damaged(7, 10).second));
    EXPECT_NE(m_log.text().find(" corrlvl=10 "), std::string::npos);
    EXPECT_FALSE(sameBlocks(damaged(7, 1).second, damaged(7, 10).second));

    // Outside the mdat payload nothing changes, whatever the seed and level.
    for (const auto& [seed, level] : {std::pair<uint64_t, int>{1, 1}, {99, 10}, {~0ULL, 5}}) {
        const Bytes b = damaged(seed, level).first;
        EXPECT_TRUE(std::equal(clean.begin(), clean.begin() + 39, b.begin()));
        EXPECT_TRUE(std::equal(clean.end() - 48, clean.end(), b.end() - 48));
    }
}

// Reads split at any offset see the same damage (the scan buffer's tests);
// other files, even identical ones, and negative offsets stay untouched.
TEST_F(SimCorr, ApplyTouchesOnlyTheSetUpFile) {
    const std::string file = movie("movie.mp4", 1 << 20);
    const std::string twin = write("twin.mp4", testsupport::readFile(file));  // same size and bytes
    const Bytes clean = testsupport::readFile(file);
    ASSERT_TRUE(simcorr::setup(file, 2024, 10));
    Bytes whole = clean;
    simcorr::apply(whole.data(), file, 0, whole.size());
    ASSERT_NE(whole, clean);

    Bytes other = clean;
    simcorr::apply(other.data(), twin, 0, other.size());
    EXPECT_EQ(other, clean);
    simcorr::apply(other.data(), file, -1, other.size());
    EXPECT_EQ(other, clean);
    simcorr::reset();
    simcorr::apply(other.data(), file, 0, other.size());
    EXPECT_EQ(other, clean);
}

TEST_F(SimCorr, TinyPayloadsGetSingleByteBlocks) {
    // Below 400 bytes of level-weighted payload every block is one byte.
    const std::string file = movie("tiny.mp4", 30);
    ASSERT_TRUE(simcorr::setup(file, 3, 1));
    for (const CorruptionBlock& b : simcorr::state().blocks) {
        EXPECT_EQ(b.size, 1u);
        EXPECT_GE(b.offset, 39u);
        EXPECT_LT(b.offset, 69u);
    }
    // A one-byte payload: each block is the whole payload.
    const std::string one = movie("one.mp4", 1);
    ASSERT_TRUE(simcorr::setup(one, 3, 10));
    EXPECT_EQ(simcorr::state().blocks.size(), 12u);
    for (const CorruptionBlock& b : simcorr::state().blocks) {
        EXPECT_EQ(b.offset, 39u);
        EXPECT_EQ(b.size, 1u);
    }
}

TEST_F(SimCorr, HugeSparsePayloadCapsBlockCount) {
    // 6 GiB of payload in a sparse file: offsets beyond 4 GiB, block count capped.
    const std::string path = m_dir + "/huge.mov";
    constexpr uint64_t kPayload = 6ULL << 30;
    {
        platform::File f;
        ASSERT_TRUE(f.open(path, platform::File::Mode::Write));
        const Bytes header = atom64("mdat", {}, 16 + kPayload);
        ASSERT_EQ(f.write(header.data(), header.size()), header.size());
        ASSERT_TRUE(f.seek(int64_t(16 + kPayload - 1)));
        const uint8_t last = 0;
        ASSERT_EQ(f.write(&last, 1), 1u);
        ASSERT_TRUE(f.closeChecked());
    }
    ASSERT_TRUE(simcorr::setup(path, 11, 3));
    const auto& blocks = simcorr::state().blocks;
    EXPECT_EQ(blocks.size(), 8u * 3 + 8);
    bool beyond4G = false;
    for (const CorruptionBlock& b : blocks) {
        EXPECT_GE(b.offset, 16u);
        EXPECT_LE(b.offset + b.size, 16 + kPayload);
        beyond4G |= b.offset > (4ULL << 30);
    }
    EXPECT_TRUE(beyond4G);
    std::remove(path.c_str());
}
