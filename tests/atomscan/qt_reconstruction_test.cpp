// -qtrc end to end: movies whose headers were destroyed while their sample
// tables survived come back packet for packet from the tables alone.

#include "movie_surgery.h"

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using atomtest::Bytes;
using atomtest::Fill;
using atomtest::faststartMp4;
using testsupport::quote;

namespace {

// Every packet of the original, in its place, and nothing else.
void expectEveryPacket(const repairrun::Outcome& r, const std::string& original) {
    EXPECT_EQ(r.exitCode, 0) << r.errors << r.log.substr(0, 3000);
    for (const int stream : {0, 1}) {
        const auto packets = repairrun::checksums(original, stream);
        EXPECT_GT(packets.size(), stream ? 80u : 40u);
        EXPECT_EQ(repairrun::checksums(r.repaired, stream), packets) << "stream " << stream;
    }
}

}  // namespace

// Headers zeroed or overwritten with noise, index in front or behind, PCM
// tables with one fixed sample size (each chunk comes back as one block), a
// recording behind junk (a larger image, a carved fragment) whose table
// offsets count from its ftyp, and chunk offsets in co64 instead of stco (as
// files over 4 GiB keep them).
TEST(QtReconstruction, MoviesWithDestroyedHeadersComeBackWhole) {
    const Bytes wide = atomtest::withCo64(testsupport::readFile(testmedia::h264AacMp4()));
    ASSERT_NE(testsupport::findType(wide, "co64"), std::string::npos);
    ASSERT_EQ(testsupport::findType(wide, "stco"), std::string::npos);
    struct Case {
        const char* name;
        std::string movie;
        Fill fill;
        size_t junk;
        std::vector<std::string> logLines;
    };
    const Case cases[] = {
        {"QtrcFaststartZero", faststartMp4(), Fill::Zero, 0,
         {"[INFO] *** new video track ***\n", "[INFO] *** new audio track ***\n", "[INFO] filestart=0 ofsshift=0\n"}},
        {"QtrcFaststartNoise", faststartMp4(), Fill::Noise, 0, {}},
        {"QtrcIndexAtEnd", testmedia::h264AacMp4(), Fill::Noise, 0, {}},
        {"QtrcPcm", testmedia::h264PcmMov(), Fill::Noise, 0, {"[INFO] QT audio samples 0 - "}},
        {"QtrcJunkInFront", faststartMp4(), Fill::Zero, 3001, {"[INFO] filestart=3001 ofsshift=3001\n"}},
        {"QtrcCo64", testsupport::writeScratch("QtrcCo64Source", "co64.mp4", wide), Fill::Noise, 0,
         {"[INFO] co64        found at ", " - QT Sample Chunk offset 64 - "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes damaged = testsupport::concat(
            {repairrun::noise(c.junk, 4242), atomtest::withoutHeaders(testsupport::readFile(c.movie), c.fill)});
        // ffmpeg itself can no longer read the damaged file.
        EXPECT_TRUE(repairrun::packets(testsupport::writeScratch(std::string(c.name) + "Input",
                                                                 "broken" + c.movie.substr(c.movie.rfind('.')),
                                                                 damaged))
                        .empty());
        const repairrun::Outcome r = repairrun::repair(c.name, c.movie, damaged, "-qtrc");
        expectEveryPacket(r, c.movie);
        for (const std::string& line : c.logLines)
            EXPECT_NE(r.log.find(line), std::string::npos) << line;
    }
}

// A recording cut short after its tables were written: what is still in the
// file comes back, what the tables place beyond its end is skipped.
TEST(QtReconstruction, RecordingCutShortKeepsEverySampleBeforeTheCut) {
    const std::string movie = faststartMp4();
    Bytes damaged = atomtest::withoutHeaders(testsupport::readFile(movie), Fill::Zero);
    damaged.resize(damaged.size() * 6 / 10);
    const auto r = repairrun::repair("QtrcCutShort", movie, damaged, "-qtrc");
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_GT(r.video.alive, 20u);
    EXPECT_LT(r.video.alive, 45u);
    EXPECT_EQ(r.video.recovered, r.video.alive);
    EXPECT_EQ(r.audio.recovered, r.audio.alive);
    EXPECT_EQ(r.video.inPresentationOrder, r.video.alive);
    EXPECT_NE(r.log.find("samples of the tables lie outside the input; skipped"), std::string::npos);
}

// Media data beyond 4 GiB (the hole is sparse on disk): 64-bit offsets all
// the way from the co64 table to the samples copied into the output. The scan
// starts at the index; without an ftyp the offsets are taken as they are.
TEST(QtReconstruction, MediaBeyond4GiBComesBackFromCo64) {
    const std::string movie = testmedia::h264AacMp4();
    const std::string dir = testsupport::scratchDir("QtrcBeyond4GiB");
    const std::string intact = dir + "/intact.mp4", broken = dir + "/broken.mp4", output = dir + "/repaired.mp4";
    const Bytes original = testsupport::readFile(movie);
    ASSERT_NE(atomtest::writeBeyond4GiB(original, intact, false), 0u);
    const uint64_t index = atomtest::writeBeyond4GiB(original, broken, true);
    ASSERT_NE(index, 0u);
    // The large file is a sound movie with the original's packets.
    ASSERT_EQ(repairrun::checksums(intact, 0), repairrun::checksums(movie, 0));

    repairrun::Outcome r = repairrun::run("-i " + quote(broken) + " -ref " + quote(intact) + " -o " + quote(output) +
                                              " -qtrc -startofs " + std::to_string(index),
                                          dir);
    r.repaired = output;
    expectEveryPacket(r, movie);
    EXPECT_NE(r.log.find("[INFO] filestart=-1 ofsshift=0\n"), std::string::npos);
    EXPECT_NE(r.log.find("[INFO] co64 ENTRY - offset#1: 42949"), std::string::npos);
    std::remove(intact.c_str());
    std::remove(broken.c_str());
}

// -auto chooses the reconstruction for an input that starts with ftyp when
// the working video class is CRAW and no Canon CRM payload is found.
TEST(QtReconstruction, AutoDetectionOnCrawRebuildsFromTheTables) {
    const std::string movie = faststartMp4();
    const auto r = repairrun::repair("QtrcAutoCraw", movie,
                                     atomtest::withoutHeaders(testsupport::readFile(movie), Fill::Zero), "-vf CRAW -auto");
    EXPECT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_NE(r.log.find("[NOTICE] auto selected QT reconstruction candidate\n"), std::string::npos);
    EXPECT_NE(r.log.find("[NOTICE] using analyser: AtomScanner\n"), std::string::npos);
    EXPECT_EQ(r.log.find("AVC1Analyser"), std::string::npos);
    EXPECT_GT(r.video.alive, 40u);
    EXPECT_EQ(r.video.recovered, r.video.alive) << r.video;
}

TEST(QtReconstruction, NothingToRebuildEndsWithExitThree) {
    const auto r = repairrun::repair("QtrcNothing", faststartMp4(), repairrun::noise(200000, 99), "-qtrc");
    EXPECT_EQ(r.exitCode, 3) << r.log.substr(0, 2000);
    // The reference was readable, so the input is what held nothing like it.
    EXPECT_NE(r.errors.find("nothing was recovered: nothing in the input looked like the reference's video 'avc1'"),
              std::string::npos)
        << r.errors;
    EXPECT_NE(r.errors.find("(exit code 3)\n"), std::string::npos);
    EXPECT_NE(r.log.find("[INFO] QT reconstruction...\n"), std::string::npos);
    EXPECT_NE(r.log.find("[ERROR] invalid data - cannot reconstruct\n"), std::string::npos);
}
