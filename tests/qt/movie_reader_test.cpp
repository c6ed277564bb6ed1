// The atom walk and the per-sample lookups on hand-built movies, including
// hostile ones: sizes that lie, deep nesting, tables larger than their atom.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "qt_test_util.h"
#include "support/atom_builder.h"
#include "support/nal_builder.h"
#include "support/test_media.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

Bytes mvhd(uint32_t timescale, uint32_t duration) {
    return fullAtom("mvhd", 0, 0, concat({u32s({0, 0, timescale, duration}), Bytes(80, 0)}));
}

Bytes tkhd(uint32_t id) { return fullAtom("tkhd", 0, 0xF, concat({u32s({0, 0, id, 0, 250}), Bytes(64, 0)})); }

// Component type and subtype; manufacturer, flags, mask, empty name.
Bytes hdlr(const char* subtype) {
    return fullAtom("hdlr", 0, 0, concat({Bytes{'m', 'h', 'l', 'r'}, Bytes(subtype, subtype + 4), Bytes(14, 0)}));
}

// A sound sample description entry of the given version: reserved bytes and
// data reference 1; version, revision and vendor; channels, bits,
// compression id and packet size, and rate (version 2: fixed values there,
// then the rate as a double and the real layout behind them).
Bytes stsdSound(const char* codec, uint16_t version, uint16_t channels, uint16_t bits, uint32_t formatFlags = 0) {
    const bool v2 = version == 2;
    Bytes e = concat({Bytes(6, 0), u32s({0x10000u | version}), Bytes(6, 0),
                      u32s({v2 ? 0x30010u : uint32_t(channels) << 16 | bits, v2 ? 0xFFFE0000u : 0u,
                            v2 ? 0x10000u : 48000u << 16})});
    if (v2)
        e = concat({e, u32s({72, 0x40E77000, 0, channels, 0x7F000000, bits, formatFlags, bits / 8u * channels, 1})});
    return fullAtom("stsd", 0, 0, concat({u32s({1}), atom(codec, e)}));
}

Bytes soundTrak(const Bytes& stsd, const Bytes& tables) {
    return atom("trak", concat({tkhd(1), atom("mdia", concat({hdlr("soun"), atom("minf", atom("stbl", concat({stsd, tables})))}))}));
}

using qttest::Movie;

Movie openBytes(const std::string& test, const Bytes& bytes) { return qttest::open(writeScratch(test, "movie.mov", bytes)); }

TEST(QtReader, LpcmVersionTwoEndianness) {
    for (uint32_t flags : {12u, 14u}) {
        const Movie m = openBytes("QtReader_Lpcm", atom("moov", soundTrak(stsdSound("lpcm", 2, 2, 24, flags), {})));
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->m_audioTrackCount, 1);
        const MovieTrack* t = m->m_audioTracks[0];
        EXPECT_EQ(t->m_lpcmFlags, flags);
        EXPECT_EQ(t->m_endianness, flags == 14 ? 1 : 2);
        EXPECT_EQ(t->m_audioChannels, 2);
        EXPECT_EQ(t->m_audioSampleSize, 24);
        EXPECT_EQ(t->m_audioSampleRate, 48000);
    }
}

TEST(QtReader, FixedSampleSizeOneBecomesFrameSize) {
    const auto tables = concat({fullAtom("stsz", 0, 0, u32s({1, 96000})), fullAtom("stsc", 0, 0, u32s({1, 1, 48000, 1})),
                                fullAtom("stco", 0, 0, u32s({2, 1000, 300000}))});
    const Movie m = openBytes("QtReader_FixedOne", atom("moov", soundTrak(stsdSound("sowt", 0, 2, 16), tables)));
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
    for (uint32_t s : {4000u, 2u, 3u, 2u})  // and back by one to where the cursor's run starts
        check(s);
    EXPECT_EQ(QTGetSampleOffset(&t, uint32_t(expectedOffset.size() + 1)), 0u);
}

TEST(QtReader, DumpListsStopAfterTwentyTwoEntries) {
    Bytes sizes = u32s({0, 22});
    for (uint32_t i = 1; i <= 22; ++i)
        put32(sizes, i * 10);
    const Movie m = openBytes("QtReader_Dump22", atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), fullAtom("stsz", 0, 0, sizes))));
    ASSERT_NE(m, nullptr);
    testing::internal::CaptureStdout();
    QTDump(m.get());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("     samplesize:    sample              22, size               220\n...\n     chunkcount: 0\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    trackcount: 1\n"), std::string::npos);
}

// The dump command prints what the reader found.
TEST(QtDumpCommand, PrintsTheMovie) {
    const auto dump = runFramend("-i " + quote(testmedia::h264AacMp4()) + " -dump");
    EXPECT_EQ(dump.exitCode, 0);
    EXPECT_NE(dump.output.find("---------------- QTDump -------------\n"), std::string::npos);
    EXPECT_NE(dump.output.find("    trackcount: 2\n"), std::string::npos);
}

TEST(QtReader, SampleDurationIsTheOneMostSamplesHave) {
    // A first frame held for two seconds (variable frame rate) and a longer
    // first audio frame (some phones) must not decide the track's duration.
    const struct {
        Bytes stts;
        uint32_t duration;
    } cases[] = {
        {u32s({3, 1, 2000, 99, 40, 1, 2000}), 40},  // 1x2000, 99x40, 1x2000
        {u32s({2, 1, 1691, 500, 1024}), 1024},
        {u32s({2, 5, 512, 5, 1024}), 512},  // a tie keeps the duration met first
        {u32s({1, 0, 700}), 700},           // no samples at all: the only duration there is
    };
    for (const auto& c : cases) {
        const Movie m = openBytes("QtReader_SttsMost",
                                 atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), fullAtom("stts", 0, 0, c.stts))));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->m_tracks[0].m_sampleDuration, c.duration);
    }
}

// The walk's rules, and hostile input (more in the corpus, which also holds
// tables whose counts exceed their atom): the walk ends or skips cleanly.
TEST(QtReader, AtomWalkRulesAndSizesThatLie) {
    const Bytes moov = atom("moov", mvhd(25, 1));
    Bytes truncated = atom("moov", soundTrak(stsdSound("lpcm", 2, 2, 24, 12), {}));
    truncated.resize(truncated.size() - 30);
    const struct {
        const char* what;
        Bytes bytes;
        const char* found;
    } cases[] = {
        // A second mdat after mdat and moov ends the walk: the ftyp behind it is never read.
        {"second mdat", concat({atom("mdat", {1, 2, 3, 4}), atom("moov", mvhd(600, 1200)), atom("mdat", {5}),
                                atom("ftyp", u32s({0x71742020, 0}))}),
         "mdat 8 moov 20 ts 600 tracks 0"},
        {"extended size", concat({atom64("free", Bytes(24, 0xEE)), atom("moov", mvhd(90000, 5))}),
         "mdat 0 moov 48 ts 90000 tracks 0"},
        // meta's first child starts 12 bytes in; the atom after meta is read
        // once, as meta's sibling.
        {"meta", atom("moov", concat({atom("meta", concat({u32s({0}), mvhd(111, 1)})), tkhd(7)})),
         "mdat 0 moov 8 ts 111 tracks 1 | - - n=0 0/0/0/0"},
        // Size 0 ends the level: the moov after it is not walked.
        {"size 0", concat({atom("free", {}), u32s({0}), moov}), "mdat 0 moov 0 ts 0 tracks 0"},
        {"extended size 0", concat({atom64("free", {}, 0), moov}), "mdat 0 moov 0 ts 0 tracks 0"},
        {"extended size below its header", concat({atom64("free", {}, 15), moov}), "mdat 0 moov 0 ts 0 tracks 0"},
        // Below its header: walking on by that size would land on a moov
        // header made of the atom's own type field.
        {"size below its header", concat({u32s({4, 8 + 108}), {'m', 'o', 'o', 'v'}, mvhd(25, 1)}),
         "mdat 0 moov 0 ts 0 tracks 0"},
        // An absurd size is cut at the end of the file; the content is still read.
        {"absurd extended size", atom64("moov", mvhd(25, 1), ~0ull - 15), "mdat 0 moov 16 ts 25 tracks 0"},
        // The description's fields past the end of the file read as nothing.
        {"truncated description", truncated, "mdat 0 moov 8 ts 0 tracks 1 | soun lpcm n=0 0/0/0/0"},
        {"three bytes", {0, 0, 0}, "mdat 0 moov 0 ts 0 tracks 0"},
    };
    for (const auto& c : cases) {
        const Movie m = openBytes("QtReader_Walk", c.bytes);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(qttest::summary(m.get()), c.found) << c.what;
        EXPECT_EQ(m->m_brand.m_majorBrand, 0u) << c.what;
    }
    const Movie m = openBytes("QtReader_Lies", truncated);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_audioTracks[0]->m_audioSampleSize, 0);
}

TEST(QtReader, ParameterSetSlotsNeverOverrun) {
    // avcC with one SPS too long for its slot and 40 PPS: the long SPS is
    // skipped, 32 PPS are kept; hvcC with 9 arrays of 9 units of 600 bytes:
    // 7 of each are kept, whole.
    std::vector<Bytes> pps;
    for (int i = 0; i < 40; ++i)
        pps.push_back({0x68, uint8_t(i)});
    const Bytes avcc = avcC({Bytes(9000, 0x67), {0x67, 1, 2, 3}}, pps);
    std::vector<HvccArray> arrays;
    for (int a = 0; a < 9; ++a) {
        arrays.push_back({uint8_t(32 + a), {}});
        for (int n = 0; n < 9; ++n)
            arrays.back().second.push_back(Bytes(600, uint8_t(a * 16 + n)));
    }
    Bytes entry = u32s({0});
    putType(entry, "avc1");
    entry.resize(entry.size() + 6 + 2 + 70, 0);
    entry[8 + 7] = 1;  // data reference index
    const auto stsd = fullAtom("stsd", 0, 0, concat({u32s({1}), entry, atom("avcC", avcc), atom("hvcC", hvcC(arrays))}));
    const auto trak = atom("trak", concat({tkhd(1), atom("mdia", concat({hdlr("vide"), atom("minf", atom("stbl", stsd))}))}));
    const Movie m = openBytes("QtReader_Slots", atom("moov", trak));
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->m_videoTrack, nullptr);
    const MovieTrack& t = *m->m_videoTrack;
    EXPECT_EQ(t.m_avc.spsCount(), 1);
    EXPECT_EQ(t.m_avc.m_spsLength[0], 4);
    EXPECT_EQ(t.m_avc.m_ppsCount, 32);
    EXPECT_EQ(t.m_avc.m_pps[31][1], 31);
    EXPECT_EQ(t.m_hevc.m_arrayCount, 7);
    EXPECT_EQ(t.m_hevc.m_arrays[6].m_nalCount, 7);
    EXPECT_EQ(t.m_hevc.m_arrays[6].m_nalLength[6], 600);
    EXPECT_EQ(t.m_hevc.m_arrays[6].m_nal[6][599], 6 * 16 + 6);
    // Units past the slots are walked over: the next array's data is intact.
    EXPECT_EQ(t.m_hevc.m_arrays[1].m_nalType & 0x3F, 33);
    EXPECT_EQ(t.m_hevc.m_arrays[1].m_nal[0][0], 16);
}

// A fragmented movie keeps its tables in the fragments: read, they give the
// offsets and sizes ffprobe reports, B-frame offsets included. A fragment
// whose run claims more samples than its atom or the file could hold adds
// none of them.
TEST(QtReader, FragmentedMovieTablesComeFromTheFragments) {
    const std::string file = testmedia::movie(
        "h264_aac_fragmented.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -movflags +frag_keyframe+empty_moov");
    const Movie m = qttest::open(file);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->m_videoTrack, nullptr);
    ASSERT_EQ(m->m_audioTrackCount, 1);
    const MovieTrack* tracks[2] = {m->m_videoTrack, m->m_audioTracks[0]};
    uint32_t next[2] = {1, 1};
    for (const testmedia::Packet& p : testmedia::probePackets(file)) {
        ASSERT_TRUE(p.stream == 0 || p.stream == 1);
        const uint32_t n = next[p.stream]++;
        EXPECT_EQ(QTGetSampleOffset(tracks[p.stream], n), uint64_t(p.pos)) << p.stream << " " << n;
        EXPECT_EQ(QTGetSampleSize(tracks[p.stream], n), uint64_t(p.size));
    }
    EXPECT_EQ(tracks[0]->m_sampleCount, next[0] - 1);
    EXPECT_EQ(tracks[1]->m_sampleCount, next[1] - 1);
    EXPECT_FALSE(tracks[0]->m_compositionOffsets.empty());
    EXPECT_EQ(tracks[1]->m_sampleDuration, 1024u);

    Bytes bytes = readFile(file);
    size_t trun = findType(bytes, "trun");
    ASSERT_NE(trun, std::string::npos);
    setBe32(&bytes[trun + 8], 0x7FFFFFFF);
    const Movie lying = openBytes("QtReader_LyingRun", bytes);
    ASSERT_NE(lying, nullptr);
    qttest::expectTablesWithinFile(lying.get(), bytes.size());
    EXPECT_LT(lying->m_videoTrack->m_sampleCount, 50u);
}

TEST(QtReader, MillionSampleTableUsesOnlyWhatItNeeds) {
    constexpr uint32_t kSamples = 1000000;
    Bytes stsz = u32s({0, kSamples});
    stsz.reserve(stsz.size() + kSamples * 4);
    for (uint32_t i = 0; i < kSamples; ++i)
        put32(stsz, 100 + i % 7);
    const Movie m = openBytes("QtReader_Million",
                             atom("moov", soundTrak(stsdSound("sowt", 0, 1, 16), fullAtom("stsz", 0, 0, stsz))));
    ASSERT_NE(m, nullptr);
    const MovieTrack& t = m->m_tracks[0];
    EXPECT_EQ(t.m_sampleSizes.size(), kSamples);
    EXPECT_LT(t.m_sampleSizes.capacity(), kSamples + kTableGrowStep + 1);
    EXPECT_EQ(QTGetSampleSize(&t, kSamples), 100u + (kSamples - 1) % 7);
}

}  // namespace
