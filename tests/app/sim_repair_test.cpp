// End to end through the binary: -sim imports an intact movie's own samples
// and writes them into a new movie; ffmpeg's packet checksums must not change.

#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using testsupport::quote;
using testsupport::runFramend;

namespace {

struct Format {
    const char* name;
    std::string (*make)();
    bool elsewhere = false;  // output on a memory file system
};

void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

std::string mpeg2PcmMov() { return testmedia::movie("mpeg2_pcm.mov", "-c:v mpeg2video -c:a pcm_s16be"); }
// Big-endian PCM ('twos') behind a moov in front; 24-bit PCM ('in24', with
// its 'wave' and 'enda' boxes).
std::string proresTwosFaststart() {
    return testmedia::movie("prores_twos.mov", "-c:v prores -profile:v 0 -c:a pcm_s16be -movflags +faststart");
}
std::string mpeg2In24() { return testmedia::movie("mpeg2_in24.mov", "-c:v mpeg2video -c:a pcm_s24le"); }

// Lossless noise makes frames of about 5 MB, more than one read of the
// writer takes at once: they come through a block of their own, between
// sound frames that come through the writer's buffer.
std::string noiseFrames() {
    return testsupport::fixture("h264_noise_5mb_frames.mp4",
                                "-f lavfi -i color=gray:size=2048x1152:rate=3:duration=1,noise=alls=100:allf=t "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                "-c:v libx264 -preset ultrafast -qp 0 -c:a aac -ac 2");
}

std::string probe(const std::string& file, const std::string& entries) {
    return testsupport::ffprobe(file, "-show_entries " + entries + " -of csv=p=0");
}

class SimRoundTrip : public ::testing::TestWithParam<Format> {};

}  // namespace

TEST_P(SimRoundTrip, PacketsTimingAndFormatSurvive) {
    const std::string orig = GetParam().make();
    // The kernel copies sample bytes only within one file system; into a
    // memory file system they take the program's own way.
    const std::string out = (GetParam().elsewhere ? "/dev/shm/framend_sim_" + std::to_string(::getpid())
                                                  : testsupport::scratchDir(std::string("Sim_") + GetParam().name) + "/out") +
                            orig.substr(orig.rfind('.'));
    const auto r = runFramend("-i " + quote(orig) + " -sim -o " + quote(out) + " -verify -verout", true);
    const auto copied = testsupport::framemd5(out);
    if (GetParam().elsewhere)
        std::remove(out.c_str());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("repair rate: 100\n"), std::string::npos);
    EXPECT_NE(r.output.find("verify output container: passed"), std::string::npos);
    EXPECT_EQ(r.output.find("verify output duration warning"), std::string::npos);
    EXPECT_NE(r.output.find("preserved reference video timing table: entries="), std::string::npos);

    const auto a = testsupport::framemd5(orig);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, copied) << "packet checksums or timestamps differ";
    if (GetParam().elsewhere)
        return;
    const std::string streams = "stream=codec_name,width,height,r_frame_rate,sample_rate,channels";
    EXPECT_EQ(probe(orig, streams), probe(out, streams));
    EXPECT_EQ(testsupport::runCommand("ffprobe -v error " + quote(out) + " 2>&1").output, "");
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, SimRoundTrip,
                         ::testing::Values(Format{"h264_aac", testmedia::h264AacMp4},
                                           Format{"hevc_aac", testmedia::hevcAacMp4},
                                           Format{"prores_pcm", testmedia::proresPcmMov},
                                           Format{"mpeg2_pcm", mpeg2PcmMov},
                                           Format{"prores_twos_faststart", proresTwosFaststart},
                                           Format{"mpeg2_in24", mpeg2In24},
                                           Format{"h264_noise_5mb_frames", noiseFrames},
                                           Format{"h264_aac_on_shm", testmedia::h264AacMp4, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sim, HighRatePcmKeepsItsRateAndSound) {
    // 96 kHz does not fit the 16-bit rate of a version-0 sound description;
    // it travels in the version-2 'lpcm' one and must come out unchanged.
    // (The writer cuts PCM into its own chunks, so the packets may differ;
    // the decoded sound may not.)
    const std::string orig = testmedia::movie("mpeg2_lpcm.mov", "-c:v mpeg2video -c:a pcm_s24le -ar 96000");
    const std::string out = testsupport::scratchDir("SimHighRatePcm") + "/out.mov";
    const auto r = runFramend("-i " + quote(orig) + " -sim -o " + quote(out) + " -verout", true);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("audio sample rate differs"), std::string::npos);
    const std::string streams = "stream=codec_name,sample_rate,channels,duration";
    EXPECT_EQ(probe(orig, streams), probe(out, streams));
    auto sound = [](const std::string& f) {
        return testsupport::runCommand("ffmpeg -nostdin -v error -i " + quote(f) + " -map 0:a -f s24le - | md5sum").output;
    };
    EXPECT_EQ(sound(orig), sound(out));
}

TEST(Sim, OutputNameThatIsTheInputIsRefused) {
    const std::string orig = testmedia::h264AacMp4();
    const auto before = testsupport::readFile(orig);
    for (const std::string opt : {"-o", "-ov", "-oa"}) {
        const auto r = runFramend("-i " + quote(orig) + " -sim " + opt + " " + quote(orig), true);
        EXPECT_EQ(r.exitCode, 1) << opt << r.output;
    }
    EXPECT_EQ(before, testsupport::readFile(orig));
}

TEST(Sim, SimulatedDamageIsDeterministicAndLeavesTheInputAlone) {
    const std::string orig = testmedia::h264AacMp4();
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

TEST(Verify, IntactH264PcmScannedAgainstItselfFindsEverySample) {
    // The index behind the media data must not be taken for audio.
    const std::string orig = testmedia::h264PcmMov();
    const auto r = runFramend("-i " + quote(orig) + " -verify -o " + quote(testsupport::scratchDir("VerifyH264Pcm") + "/out.mov"), true);
    ASSERT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    EXPECT_NE(r.output.find("repair rate: 100\n"), std::string::npos);
}
