// End to end through the binary: -sim imports an intact movie's own samples
// and writes them into a new movie; ffmpeg's packet checksums must not change.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using testsupport::quote;
using testsupport::runFramend;

namespace {

struct Format {
    const char* name;
    const char* file;
    const char* args;
};

const char* const kSources =
    "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 ";

std::string make(const Format& f) { return testsupport::fixture(f.file, std::string(kSources) + f.args); }

std::string probe(const std::string& file, const std::string& entries) {
    return testsupport::runCommand("ffprobe -v error -show_entries " + entries + " -of csv=p=0 " + quote(file)).output;
}

class SimRoundTrip : public ::testing::TestWithParam<Format> {};

}  // namespace

TEST_P(SimRoundTrip, PacketsTimingAndFormatSurvive) {
    const Format f = GetParam();
    const std::string orig = make(f);
    ASSERT_FALSE(orig.empty()) << "ffmpeg could not make " << f.file;
    const std::string ext = std::string(f.file).substr(std::string(f.file).rfind('.'));
    const std::string dir = testsupport::scratchDir(std::string("Sim_") + f.name);
    const std::string out = dir + "/out" + ext;
    const auto r = runFramend("-i " + quote(orig) + " -sim -o " + quote(out) + " -verify -verout", true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("repair rate: 100\n"), std::string::npos);
    EXPECT_NE(r.output.find("verify output container: passed"), std::string::npos);
    EXPECT_EQ(r.output.find("verify output duration warning"), std::string::npos);

    const auto a = testsupport::framemd5(orig);
    const auto b = testsupport::framemd5(out);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b) << "packet checksums or timestamps differ";
    const std::string streams = "stream=codec_name,width,height,r_frame_rate,sample_rate,channels";
    EXPECT_EQ(probe(orig, streams), probe(out, streams));
    EXPECT_EQ(testsupport::runCommand("ffprobe -v error " + quote(out) + " 2>&1").output, "");
}

INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, SimRoundTrip,
    ::testing::Values(Format{"h264_aac", "sim_h264_aac.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2"},
                      Format{"hevc_aac", "sim_hevc_aac.mp4", "-c:v libx265 -tag:v hvc1 -x265-params log-level=none -c:a aac"},
                      Format{"prores_pcm", "sim_prores_pcm.mov", "-c:v prores_ks -profile:v 2 -c:a pcm_s16le"},
                      Format{"mpeg2_pcm", "sim_mpeg2_pcm.mov", "-c:v mpeg2video -c:a pcm_s16be"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Sim, SecondFileAsReference) {
    const Format f{"h264_aac", "sim_h264_aac.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2"};
    const std::string orig = make(f);
    ASSERT_FALSE(orig.empty());
    const std::string dir = testsupport::scratchDir("SimSecondRef");
    const std::string copy = dir + "/copy.mp4";
    testsupport::writeFile(copy, testsupport::readFile(orig));
    const auto r = runFramend("-i " + quote(copy) + " -ref " + quote(orig) + " -sim -o " + quote(dir + "/out.mp4"), true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("using input file as reference!"), std::string::npos);
    EXPECT_EQ(testsupport::framemd5(orig), testsupport::framemd5(dir + "/out.mp4"));
}

TEST(Sim, RawAnnexBStreamsDecode) {
    for (const Format& f : {Format{"h264", "sim_h264_aac.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2"},
                            Format{"hevc", "sim_hevc_aac.mp4", "-c:v libx265 -tag:v hvc1 -x265-params log-level=none -c:a aac"}}) {
        const std::string orig = make(f);
        ASSERT_FALSE(orig.empty());
        const std::string dir = testsupport::scratchDir(std::string("SimRaw_") + f.name);
        const std::string raw = dir + "/video.raw";
        const auto r = runFramend("-i " + quote(orig) + " -sim -ov " + quote(raw) + " -oa " + quote(dir + "/a.aac"), true);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const auto bytes = testsupport::readFile(raw);
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
        const auto dec = testsupport::runCommand("ffmpeg -nostdin -v error -f " + std::string(f.name) + " -i " +
                                                 quote(raw) + " -f framecrc - 2>&1");
        EXPECT_EQ(dec.output.find("rror"), std::string::npos) << dec.output.substr(0, 400);
        const auto frames = std::count(dec.output.begin(), dec.output.end(), '\n') -
                            std::count_if(dec.output.begin(), dec.output.end(), [](char c) { return c == '#'; });
        EXPECT_EQ(frames, 50) << f.name;
    }
}

TEST(Sim, OutputNameThatIsTheInputIsRefused) {
    const Format f{"h264_aac", "sim_h264_aac.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2"};
    const std::string orig = make(f);
    ASSERT_FALSE(orig.empty());
    const auto before = testsupport::readFile(orig);
    for (const std::string opt : {"-o", "-ov", "-oa"}) {
        const auto r = runFramend("-i " + quote(orig) + " -sim " + opt + " " + quote(orig), true);
        EXPECT_EQ(r.exitCode, 1) << opt << r.output;
    }
    EXPECT_EQ(before, testsupport::readFile(orig));
}

TEST(Sim, SimulatedDamageIsDeterministicAndLeavesTheInputAlone) {
    const Format f{"h264_aac", "sim_h264_aac.mp4", "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2"};
    const std::string orig = make(f);
    ASSERT_FALSE(orig.empty());
    const auto before = testsupport::readFile(orig);
    const std::string dir = testsupport::scratchDir("SimCorr");
    auto run = [&](const std::string& seed, const std::string& out) {
        const auto r = runFramend("-i " + quote(orig) + " -sim -simcorr " + seed + " -corrlvl 3 -o " + quote(dir + "/" + out), true);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_NE(r.output.find("simcorr enabled: seed=" + seed), std::string::npos);
        return testsupport::readFile(dir + "/" + out);
    };
    const auto a1 = run("7", "a1.mp4");
    const auto a2 = run("7", "a2.mp4");
    const auto b = run("8", "b.mp4");
    ASSERT_FALSE(a1.empty());
    EXPECT_EQ(a1, a2);
    EXPECT_NE(a1, b);
    EXPECT_NE(testsupport::framemd5(orig), testsupport::framemd5(dir + "/a1.mp4"));
    EXPECT_EQ(before, testsupport::readFile(orig));

    // A file without an mdat cannot be damaged: the run stops.
    const std::string nomdat = dir + "/nomdat.bin";
    testsupport::writeFile(nomdat, std::vector<uint8_t>(100, 0x41));
    const auto r = runFramend("-i " + quote(nomdat) + " -simcorr 1", true);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("[ERROR] simcorr failed: mdat atom not found"), std::string::npos) << r.output;
}

TEST(Sim, HostileInputsEndInAnOrderlyWay) {
    const std::string dir = testsupport::scratchDir("SimHostile");
    testsupport::writeFile(dir + "/empty.mov", {});
    std::vector<uint8_t> lies = {0, 0, 0, 1, 'm', 'o', 'o', 'v', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    lies.resize(4096, 0xAB);
    testsupport::writeFile(dir + "/lies.mov", lies);
    std::vector<uint8_t> noise(300000);
    uint32_t x = 12345;
    for (auto& b : noise) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    testsupport::writeFile(dir + "/noise.mp4", noise);
    for (const char* name : {"empty.mov", "lies.mov", "noise.mp4"}) {
        const std::string in = dir + "/" + name;
        for (const std::string& extra : std::vector<std::string>{"", " -ref " + quote(in) + " -sim", " -auto -nfd -aac -entropy 64"}) {
            const auto r = runFramend("-i " + quote(in) + " -o " + quote(dir + "/out.mov") + extra + " -verout", true);
            // Nothing in them to recover: the run says so instead of crashing.
            EXPECT_EQ(r.exitCode, 3) << name << extra << "\n" << r.output.substr(0, 2000);
            EXPECT_NE(r.output.find("framend: no samples were found; nothing was recovered\n"), std::string::npos);
        }
    }
}

TEST(Verify, IntactH264PcmScannedAgainstItselfFindsEverySample) {
    // The index behind the media data must not be taken for audio.
    const std::string orig = testsupport::fixture(
        "verify_h264_pcm.mov", std::string(kSources) + "-c:v libx264 -bf 2 -g 25 -c:a pcm_s16le -chunk_duration 500000");
    ASSERT_FALSE(orig.empty());
    const std::string dir = testsupport::scratchDir("VerifyH264Pcm");
    const auto r = runFramend("-i " + quote(orig) + " -verify -o " + quote(dir + "/out.mov"), true);
    ASSERT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    EXPECT_NE(r.output.find("repair rate: 100\n"), std::string::npos) << r.output.substr(r.output.find("matches:") - 200, 600);
}
