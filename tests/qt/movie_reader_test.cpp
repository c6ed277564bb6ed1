// The atom walk and the per-sample lookups on hand-built movies, including
// hostile ones: sizes that lie, deep nesting, tables larger than their atom.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/test_support.h"

using namespace qttest;

namespace {

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> b;
    for (uint32_t v : values)
        put32(b, v);
    return b;
}

std::vector<uint8_t> mvhd(uint32_t timescale, uint32_t duration) {
    std::vector<uint8_t> p = u32s({0, 0, timescale, duration});
    p.resize(96, 0);
    return fullAtom("mvhd", 0, 0, p);
}

std::vector<uint8_t> tkhd(uint32_t id) {
    std::vector<uint8_t> p = u32s({0, 0, id, 0, 250});
    p.resize(84, 0);
    return fullAtom("tkhd", 0, 0xF, p);
}

std::vector<uint8_t> hdlr(const char* subtype) {
    std::vector<uint8_t> p;
    putType(p, "mhlr");
    putType(p, subtype);
    put32(p, 0);
    put32(p, 0);
    put32(p, 0);
    put16(p, 0);
    return fullAtom("hdlr", 0, 0, p);
}

// A sound sample description entry of the given version.
std::vector<uint8_t> stsdSound(const char* codec, uint16_t version, uint16_t channels, uint16_t bits,
                               uint32_t formatFlags = 0) {
    std::vector<uint8_t> e;
    put32(e, 0);  // entry size, patched below
    putType(e, codec);
    e.insert(e.end(), 6, 0);
    put16(e, 1);
    put16(e, version);
    put16(e, 0);
    put32(e, 0);
    put16(e, version == 2 ? 3 : channels);
    put16(e, version == 2 ? 16 : bits);
    put16(e, version == 2 ? 65534 : 0);
    put16(e, 0);
    put32(e, version == 2 ? 0x00010000 : 48000u << 16);
    if (version == 2) {
        put32(e, 72);
        put64(e, 0x40E7700000000000ull);  // 48000.0
        put32(e, channels);
        put32(e, 0x7F000000);
        put32(e, bits);
        put32(e, formatFlags);
        put32(e, bits / 8 * channels);
        put32(e, 1);
    }
    const uint32_t n = uint32_t(e.size());
    e[0] = uint8_t(n >> 24), e[1] = uint8_t(n >> 16), e[2] = uint8_t(n >> 8), e[3] = uint8_t(n);
    std::vector<uint8_t> p = u32s({1});
    p.insert(p.end(), e.begin(), e.end());
    return fullAtom("stsd", 0, 0, p);
}

std::vector<uint8_t> soundTrak(const std::vector<uint8_t>& stsd, const std::vector<uint8_t>& tables) {
    return atom("trak", concat({tkhd(1), atom("mdia", concat({hdlr("soun"), atom("minf", atom("stbl", concat({stsd, tables})))}))}));
}

MovieFile* openBytes(const std::string& test, const std::vector<uint8_t>& bytes) {
    return QTOpen(writeScratch(test, "movie.mov", bytes), 0, true);
}

TEST(QtReader, SecondMdatAfterMdatAndMoovStopsWalk) {
    const auto bytes = concat({atom("mdat", {1, 2, 3, 4}), atom("moov", mvhd(600, 1200)), atom("mdat", {5}),
                               atom("ftyp", u32s({0x71742020, 0}))});
    MovieFile* m = openBytes("QtReader_SecondMdat", bytes);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_mdatOffset, 8u);
    EXPECT_EQ(m->m_moovOffset, 20u);
    EXPECT_EQ(m->m_movieTimescale, 600u);
    EXPECT_EQ(m->m_brand.m_majorBrand, 0u);  // the ftyp after the second mdat is never reached
    QTClose(m);
}

TEST(QtReader, ExtendedSizeAtomSkippedBySixtyFourBitSize) {
    std::vector<uint8_t> wide;
    put32(wide, 1);
    putType(wide, "free");
    put64(wide, 40);
    wide.resize(40, 0xEE);
    MovieFile* m = openBytes("QtReader_Wide", concat({wide, atom("moov", mvhd(90000, 5))}));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_movieTimescale, 90000u);
    EXPECT_EQ(m->m_moovOffset, 48u);
    QTClose(m);
}

TEST(QtReader, MetaWalkedAfterVersionAndStopsAtItsEnd) {
    // meta's first child starts 12 bytes in; the sibling after meta is read
    // as a sibling, not as part of meta.
    const auto meta = atom("meta", concat({u32s({0}), mvhd(111, 1)}));
    MovieFile* m = openBytes("QtReader_Meta", atom("moov", concat({meta, tkhd(7)})));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_movieTimescale, 111u);
    ASSERT_EQ(m->m_trackCount, 1);
    EXPECT_EQ(m->m_tracks[0].m_trackId, 7u);
    QTClose(m);
}

TEST(QtReader, LpcmVersionTwoEndianness) {
    for (uint32_t flags : {12u, 14u}) {
        MovieFile* m = openBytes("QtReader_Lpcm", atom("moov", soundTrak(stsdSound("lpcm", 2, 2, 24, flags), {})));
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->m_audioTrackCount, 1);
        const MovieTrack* t = m->m_audioTracks[0];
        EXPECT_EQ(t->m_lpcmFlags, flags);
        EXPECT_EQ(t->m_endianness, flags == 14 ? 1 : 2);
        EXPECT_EQ(t->m_audioChannels, 2);
        EXPECT_EQ(t->m_audioSampleSize, 24);
        EXPECT_EQ(t->m_audioSampleRate, 48000);
        QTClose(m);
    }
}

TEST(QtReader, FixedSampleSizeOneBecomesFrameSize) {
    const auto tables = concat({fullAtom("stsz", 0, 0, u32s({1, 96000})), fullAtom("stsc", 0, 0, u32s({1, 1, 48000, 1})),
                                fullAtom("stco", 0, 0, u32s({2, 1000, 300000}))});
    MovieFile* m = openBytes("QtReader_FixedOne", atom("moov", soundTrak(stsdSound("sowt", 0, 2, 16), tables)));
    ASSERT_NE(m, nullptr);
    const MovieTrack* t = m->m_audioTracks[0];
    EXPECT_EQ(t->m_fixedSampleSize, 4u);
    EXPECT_EQ(t->m_sampleCount, 96000u);
    EXPECT_EQ(QTGetSampleSize(t, 5), 4u);
    EXPECT_EQ(QTGetSampleOffset(t, 1), 1000u);
    EXPECT_EQ(QTGetSampleOffset(t, 11), 1040u);  // fixed size: first + 10 x 4
    EXPECT_EQ(QTGetSampleOffset(t, 48001), 300000u);
    EXPECT_EQ(QTGetSampleOffset(t, 48002), 300004u);
    EXPECT_EQ(QTGetSampleOffset(t, 96001), 0u);  // past the last chunk
    QTClose(m);
}

TEST(QtReader, SampleLookupsThroughStscRuns) {
    MovieTrack t;
    for (uint32_t first : {1u, 3u})
        t.m_sampleToChunk.push_back({first, first == 1 ? 2u : 1u, 1});
    for (uint64_t ofs : {100, 200, 300, 400})
        t.m_chunkOffsets.push_back(ofs);
    for (uint32_t size : {10, 20, 30, 40, 50, 60})
        t.m_sampleSizes.push_back(size);
    EXPECT_EQ(QTGetSampleOffset(&t, 1), 100u);
    EXPECT_EQ(QTGetSampleOffset(&t, 2), 110u);
    EXPECT_EQ(QTGetSampleOffset(&t, 3), 200u);
    EXPECT_EQ(QTGetSampleOffset(&t, 4), 230u);
    EXPECT_EQ(QTGetSampleOffset(&t, 5), 300u);
    EXPECT_EQ(QTGetSampleOffset(&t, 6), 400u);
    EXPECT_EQ(QTGetSampleOffset(&t, 7), 0u);
    EXPECT_EQ(QTGetSampleOffset(&t, 0), 0u);
    EXPECT_EQ(QTGetSampleSize(&t, 6), 60u);
    EXPECT_EQ(QTGetSampleSize(&t, 7), 0u);
    EXPECT_EQ(QTGetSamplesPerChunk(&t, 2), 2u);
    EXPECT_EQ(QTGetSamplesPerChunk(&t, 3), 1u);
    EXPECT_EQ(QTGetSamplesPerChunk(&t, 5), 0u);
    // A zero size inside the chunk makes the offset unknown.
    t.m_sampleSizes[2] = 0;
    EXPECT_EQ(QTGetSampleOffset(&t, 4), 0u);

    t.m_compositionOffsets.push_back({2, 0});
    t.m_compositionOffsets.push_back({1, 1024});
    EXPECT_EQ(QTGetCompositionOffset(&t, 0), 0u);
    EXPECT_EQ(QTGetCompositionOffset(&t, 2), 0u);
    EXPECT_EQ(QTGetCompositionOffset(&t, 3), 1024u);
    EXPECT_EQ(QTGetCompositionOffset(&t, 99), 1024u);  // past the runs: the last entry

    t.m_mediaTimescale = 30000;
    t.m_sampleDuration = 1001;
    EXPECT_NEAR(QTGetFrameRate(&t), 29.97, 0.001);
    t.m_sampleDuration = 1;
    EXPECT_EQ(QTGetFrameRate(&t), 30000.0);
}

// Lookups resume where the previous one stopped; in any order they must give
// what a walk from the start gives (stsc alternating 1, 2 per chunk, one ctts
// entry per sample).
TEST(QtReader, LookupsInAnyOrderAgreeWithTables) {
    MovieTrack t;
    std::vector<uint64_t> expectedOffset;
    uint64_t ofs = 1000;
    for (uint32_t chunk = 1; chunk <= 3000; ++chunk) {
        const uint32_t n = chunk % 2 ? 1 : 2;
        t.m_sampleToChunk.push_back({chunk, n, 1});
        t.m_chunkOffsets.push_back(ofs);
        for (uint32_t i = 0; i < n; ++i) {
            expectedOffset.push_back(ofs);
            t.m_sampleSizes.push_back(7 + i);
            ofs += 7 + i;
        }
        ofs += 50;  // another track's chunk in between
    }
    for (uint32_t s = 1; s <= expectedOffset.size(); ++s)
        t.m_compositionOffsets.push_back({1, s * 3});
    auto check = [&](uint32_t s) {
        ASSERT_EQ(QTGetSampleOffset(&t, s), expectedOffset[s - 1]) << s;
        ASSERT_EQ(QTGetCompositionOffset(&t, s), s * 3) << s;
    };
    for (uint32_t s = 1; s <= expectedOffset.size(); ++s)
        check(s);
    for (int s = int(expectedOffset.size()); s >= 1; s -= 7)
        check(uint32_t(s));
    check(4000);
    check(2);
    EXPECT_EQ(QTGetSampleOffset(&t, uint32_t(expectedOffset.size() + 1)), 0u);
}

TEST(QtReader, DumpListsStopAfterTwentyTwoEntries) {
    std::vector<uint8_t> sizes = u32s({0, 22});
    for (uint32_t i = 1; i <= 22; ++i)
        put32(sizes, i * 10);
    MovieFile* m = openBytes("QtReader_Dump22", atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), fullAtom("stsz", 0, 0, sizes))));
    ASSERT_NE(m, nullptr);
    const std::string out = captureStdout([](void* p) { QTDump(static_cast<MovieFile*>(p)); }, m);
    EXPECT_NE(out.find("     samplesize:    sample              22, size               220\n...\n     chunkcount: 0\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    trackcount: 1\n"), std::string::npos);
    QTClose(m);
}

// Hostile input: the walk ends or skips cleanly, nothing is read beyond a
// table's atom, and counts follow the entries really present.

TEST(QtReader, TableCountLargerThanAtomKeepsEntriesPresent) {
    const auto tables = concat({fullAtom("stsz", 0, 0, u32s({0, 0xFFFFFFFF, 5, 6, 7})),
                                fullAtom("stco", 0, 0, u32s({0x40000000, 8})),
                                fullAtom("stsc", 0, 0, u32s({0x7FFFFFFF, 1, 3, 1})),
                                fullAtom("stts", 0, 0, u32s({1000000, 3, 1}))});
    MovieFile* m = openBytes("QtReader_TableCount", atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), tables)));
    ASSERT_NE(m, nullptr);
    const MovieTrack& t = m->m_tracks[0];
    EXPECT_EQ(t.m_sampleSizes.size(), 3u);
    EXPECT_EQ(t.m_sampleCount, 3u);
    EXPECT_EQ(t.m_chunkOffsets.size(), 1u);
    EXPECT_EQ(t.m_sampleToChunk.size(), 1u);
    EXPECT_EQ(t.m_timeToSample.size(), 1u);
    EXPECT_EQ(QTGetSampleOffset(&t, 3), 8u + 5 + 6);
    QTClose(m);
}

TEST(QtReader, SizesThatLie) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> bogusWide;  // size 1 with an absurd 64-bit size
    put32(bogusWide, 1);
    putType(bogusWide, "moov");
    put64(bogusWide, 0xFFFFFFFFFFFFFFF0ull);
    const auto header = mvhd(25, 1);
    bogusWide.insert(bogusWide.end(), header.begin(), header.end());
    std::vector<uint8_t> tooSmall = u32s({4});  // smaller than its header
    putType(tooSmall, "moov");
    std::vector<uint8_t> zeroWide = u32s({1});
    putType(zeroWide, "free");
    put64(zeroWide, 0);
    std::vector<uint8_t> childTooBig = atom("moov", concat({mvhd(25, 1), tkhd(1)}));
    childTooBig[8 + 3] = 0xF0;  // mvhd claims more than moov holds
    std::vector<uint8_t> truncated = atom("moov", soundTrak(stsdSound("lpcm", 2, 2, 24, 12), {}));
    truncated.resize(truncated.size() - 30);
    const std::vector<Case> cases = {
        {"size 0 ends the level", concat({atom("free", {}), u32s({0}), atom("moov", mvhd(25, 1))})},
        {"size 1 with bogus 64-bit size", bogusWide},
        {"size below the header", concat({tooSmall, atom("moov", mvhd(25, 1))})},
        {"extended size 0", zeroWide},
        {"child larger than parent", childTooBig},
        {"truncated description", truncated},
        {"empty file", {}},
        {"three bytes", {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MovieFile* m = openBytes("QtReader_Lies", c.bytes);
        ASSERT_NE(m, nullptr);
        QTDump(m);
        QTClose(m);
    }
}

TEST(QtReader, DeepNestingIsCapped) {
    std::vector<uint8_t> nested = mvhd(25, 1);
    // Not moov: a second moov would end the walk of its level by itself.
    const char* const kinds[] = {"trak", "mdia", "minf", "stbl"};
    for (int i = 0; i < 200; ++i)
        nested = atom(kinds[i % 4], nested);
    std::string out = captureStdout(
        [](void* p) {
            MovieFile* m = openBytes("QtReader_Deep", *static_cast<std::vector<uint8_t>*>(p));
            QTClose(m);
        },
        &nested);
    EXPECT_NE(out.find("parseContainer error: atom level too high\n"), std::string::npos);
}

TEST(QtReader, ParameterSetSlotsNeverOverrun) {
    // avcC with one SPS too long for its slot and 40 PPS: the long SPS is
    // skipped, 32 PPS are kept; hvcC with 9 arrays of 9 units of 600 bytes.
    std::vector<uint8_t> avcc = {1, 100, 0, 30, 0xFF, 0xE2};
    put16(avcc, 9000);
    avcc.insert(avcc.end(), 9000, 0x67);
    put16(avcc, 4);
    avcc.insert(avcc.end(), {0x67, 1, 2, 3});
    avcc.push_back(40);
    for (int i = 0; i < 40; ++i) {
        put16(avcc, 2);
        avcc.insert(avcc.end(), {0x68, uint8_t(i)});
    }
    std::vector<uint8_t> hvcc(22, 0);
    hvcc.push_back(9);
    for (int a = 0; a < 9; ++a) {
        hvcc.push_back(uint8_t(32 + a));
        put16(hvcc, 9);
        for (int n = 0; n < 9; ++n) {
            put16(hvcc, 600);
            hvcc.insert(hvcc.end(), 600, uint8_t(a * 16 + n));
        }
    }
    std::vector<uint8_t> entry = u32s({0});
    putType(entry, "avc1");
    entry.insert(entry.end(), 6, 0);
    put16(entry, 1);
    std::vector<uint8_t> desc(70, 0);
    entry.insert(entry.end(), desc.begin(), desc.end());
    const auto children = concat({atom("avcC", avcc), atom("hvcC", hvcc)});
    entry.insert(entry.end(), children.begin(), children.end());
    const auto stsd = fullAtom("stsd", 0, 0, concat({u32s({1}), entry}));
    const auto trak = atom("trak", concat({tkhd(1), atom("mdia", concat({hdlr("vide"), atom("minf", atom("stbl", stsd))}))}));
    MovieFile* m = openBytes("QtReader_Slots", atom("moov", trak));
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->m_videoTrack, nullptr);
    const MovieTrack& t = *m->m_videoTrack;
    EXPECT_EQ(t.m_avc.spsCount(), 1);
    EXPECT_EQ(t.m_avc.m_spsLength[0], 4);
    EXPECT_EQ(t.m_avc.m_ppsCount, 32);
    EXPECT_EQ(t.m_avc.m_pps[31][1], 31);
    EXPECT_EQ(t.m_hevc.m_arrayCount, 7);
    EXPECT_EQ(t.m_hevc.m_arrays[6].m_nalCount, 7);
    EXPECT_EQ(t.m_hevc.m_arrays[6].m_nalLength[6], 511);
    // Units past the slots are walked over: the next array's data is intact.
    EXPECT_EQ(t.m_hevc.m_arrays[1].m_nalType, 33);
    EXPECT_EQ(t.m_hevc.m_arrays[1].m_nal[0][0], 16);
    QTClose(m);
}

TEST(QtReader, TruncatedRealMoviesOpenCleanly) {
    const std::string file = sourceFixture("h264_aac.mp4", "-c:v libx264 -bf 2 -c:a aac -ac 2");
    ASSERT_FALSE(file.empty());
    const auto bytes = testsupport::readFile(file);
    for (size_t cut : {size_t(7), size_t(40), bytes.size() / 2, bytes.size() - 2000, bytes.size() - 700, bytes.size() - 1}) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
        MovieFile* m = openBytes("QtReader_Truncated", part);
        ASSERT_NE(m, nullptr);
        for (int i = 0; i < m->m_trackCount; ++i)
            for (uint32_t n = 0; n <= m->m_tracks[i].m_sampleCount + 1; ++n)
                QTGetSampleOffset(&m->m_tracks[i], n);
        QTClose(m);
    }
}

TEST(QtReader, MillionSampleTableUsesOnlyWhatItNeeds) {
    constexpr uint32_t kSamples = 1000000;
    std::vector<uint8_t> stsz = u32s({0, kSamples});
    stsz.reserve(stsz.size() + kSamples * 4);
    for (uint32_t i = 0; i < kSamples; ++i)
        put32(stsz, 100 + i % 7);
    MovieFile* m = openBytes("QtReader_Million",
                             atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), fullAtom("stsz", 0, 0, stsz))));
    ASSERT_NE(m, nullptr);
    const MovieTrack& t = m->m_tracks[0];
    EXPECT_EQ(t.m_sampleSizes.size(), kSamples);
    EXPECT_LT(t.m_sampleSizes.capacity(), kSamples + kTableGrowStep + 1);
    EXPECT_EQ(QTGetSampleSize(&t, kSamples), 100u + (kSamples - 1) % 7);
    QTClose(m);
}

TEST(QtReader, OpenFailurePrintsMessage) {
    const std::string out = captureStdout(
        [](void*) { EXPECT_EQ(QTOpen("/nonexistent/x.mov", 0, true), nullptr); }, nullptr);
    EXPECT_EQ(out, "QTOpen: cannot open file: /nonexistent/x.mov\n");
}

}  // namespace
