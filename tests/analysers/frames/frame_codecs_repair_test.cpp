// End-to-end repairs of the codecs whose frames delimit themselves (ProRes,
// DV, Motion JPEG, AIC), judged by ffmpeg packet checksums against the
// intact original, and inputs that lie to their parsers.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace repairrun;
using testsupport::quote;

namespace {

repairrun::Recording frames(const std::string& name, const std::string& video, const std::string& sound,
                            const std::string& encode) {
    return {name, "-f lavfi -i " + video + " -f lavfi -i " + sound + " " + encode};
}

const std::string k51 = "sine=f=440:r=48000:d=1,aformat=channel_layouts=5.1";

// Motion JPEG and three mono PCM tracks at 32 kHz in 0.2 s chunks.
repairrun::Recording threeTracks(const std::string& name, const std::string& picture, int seconds) {
    std::string args = "-f lavfi -i " + picture + "=s=160x120:r=15:d=" + std::to_string(seconds);
    for (int t = 0; t < 3; ++t)
        args += " -f lavfi -i sine=f=" + std::to_string(440 + 110 * t) + ":r=32000:d=" + std::to_string(seconds);
    return {name, args + " -map 0:v -map 1:a -map 2:a -map 3:a -c:v mjpeg -c:a pcm_s16le -chunk_duration 200000"};
}

// DV and four mono PCM tracks in 0.5 s chunks: the muxer writes two video
// chunks before any sound, and opens with the tracks in reverse order.
repairrun::Recording fourTracks(const std::string& name, const std::string& picture, const std::string& d) {
    std::string args = "-f lavfi -i " + picture + "=s=720x480:r=30000/1001:d=" + d;
    for (int t = 0; t < 4; ++t)
        args += " -f lavfi -i sine=f=" + std::to_string(440 + 110 * t) + ":r=48000:d=" + d;
    return {name, args + " -map 0:v -map 1:a -map 2:a -map 3:a -map 4:a -c:v dvvideo -pix_fmt yuv411p "
                         "-c:a pcm_s16be -chunk_duration 500000"};
}

}  // namespace

class FrameCodecRecordings : public repairrun::Cases {};

// Every surviving frame and audio packet comes back bit-exact and decodes
// cleanly (a cut's part of a last chunk lengthens the sound, so only whole ones
// are timed). Without a reference (noref_) the command line and the frames the
// fallback analysers find say what the movie is, down to its fourcc.
TEST_P(FrameCodecRecordings, ComeBack) {
    const repairrun::Outcome o = repairrun::expectRepaired(GetParam());
    const std::map<std::string, std::string> tags = {{"noref_dv25_pal", "dvcp"}, {"noref_mjpeg_u8_cut", "jpeg"}};
    if (tags.count(GetParam().name)) {
        EXPECT_EQ(testsupport::ffprobe(o.repaired, "-select_streams v -show_entries stream=codec_tag_string -of csv=p=0"),
                  tags.at(GetParam().name) + "\n");
    }
}

// Chunks of 0.2 s put each cycle's audio in front of its video; ffmpeg's own
// interleave puts one or two PCM packets behind each frame. noref: -vf names
// the family and the frames say 625-line DV; 8-bit PCM ('raw ') without -vf;
// 24-bit PCM. three_tracks: where the video in front ran twice as long, two
// chunks of each track come in turns, which the shorter reference never shows.
// four_tracks_late_sound: the first gap with sound opens as the reference's
// does, though two video chunks stand in front of it.
INSTANTIATE_TEST_SUITE_P(
    , FrameCodecRecordings,
    ::testing::Values(
        Case{"frames_prores_cut", frames("frames_prores_cut.mov", "testsrc2=s=160x120:r=25:d=1", k51,
                                         "-c:v prores_ks -profile:v 2 -c:a pcm_s24le -chunk_duration 200000"),
             {}, Clean, 0, 100, 100, 0.6},
        Case{"frames_dv25_pal", frames("frames_dv25_pal.mov", "testsrc2=s=720x576:r=25:d=1", k51,
                                       "-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16be"),
             {}, Clean | SoundTimed},
        Case{"frames_dvcpro50_ntsc", frames("frames_dvcpro50_ntsc.mov", "testsrc2=s=720x480:r=30000/1001:d=1", k51,
                                            "-c:v dvvideo -pix_fmt yuv422p -c:a pcm_s16le -chunk_duration 200000"),
             {}, Clean, 0, 100, 100, 0.6},
        Case{"frames_dnxhr_cut", frames("frames_dnxhr_cut.mov", "testsrc2=s=256x144:r=25:d=1", k51,
                                        "-c:v dnxhd -profile:v dnxhr_lb -pix_fmt yuv422p -c:a pcm_s16le"),
             {}, Clean, 0, 100, 100, 0.6},
        Case{"frames_mjpeg_u8_noftyp", frames("frames_mjpeg_u8_noftyp.mov", "testsrc2=s=160x120:r=25:d=1", k51,
                                              "-c:v mjpeg -c:a pcm_u8 -chunk_duration 200000"),
             {}, Clean | SoundTimed | repairrun::NoFileType},
        Case{"noref_dv25_pal", frames("noref_dv25_pal.mov", "testsrc2=s=720x576:r=25:d=1", "sine=f=440:r=48000:d=1",
                                      "-c:v dvvideo -pix_fmt yuv420p -ac 2 -c:a pcm_s16le"),
             {}, Clean | Timed | NoReference, 0, 100, 100, 1, "-vf dvc -fps 25 -af sowt"},
        Case{"noref_mjpeg_u8_cut", frames("noref_mjpeg_u8_cut.mov", "testsrc2=s=160x120:r=25:d=2",
                                          "sine=f=440:r=32000:d=2", "-c:v mjpeg -c:a pcm_u8 -chunk_duration 200000"),
             {}, Clean | Timed | NoReference, 0, 100, 100, 0.6, "-fps 25 -af raw -ar 32000 -ac 1"},
        Case{"noref_mpeg2_bframes_in24", frames("noref_mpeg2_bframes_in24.mov", "testsrc2=s=352x288:r=25:d=2",
                                                "sine=f=440:r=48000:d=2",
                                                "-c:v mpeg2video -bf 2 -g 12 -ac 2 -c:a pcm_s24be"),
             {}, Clean | Timed | NoReference, 0, 100, 100, 1, "-fps 25 -af in24 -ac 2"},
        Case{"frames_three_tracks", threeTracks("frames_tracks_orig.mov", "testsrc2", 4),
             threeTracks("frames_tracks_ref.mov", "smptebars", 1), TracksExact, 0, 100, 0},
        Case{"frames_four_tracks_late_sound", fourTracks("frames_four_tracks.mov", "testsrc2", "1.5"),
             fourTracks("frames_four_tracks_ref.mov", "smptebars", "1"), TracksExact, 0, 100, 0}),
    repairrun::caseName);

// A size field of zero would keep the scan where it is, and one of 4 GB
// would throw it past everything; either is no frame, and the frames around
// it still come back.
TEST(ProResRepair, ZeroAndHugeFrameSizes) {
    const std::string original = testsupport::fixture(
        "frames_prores_sizes.mov", "-f lavfi -i testsrc2=s=160x120:r=25:d=1 -f lavfi -i sine=f=440:r=48000:d=1 "
                                   "-c:v prores_ks -profile:v 0 -c:a pcm_s16le");
    Bytes d = repairrun::withoutIndex(original);
    size_t tag = testsupport::findType(d, "icpf");
    for (int frame = 0; frame < 6 && tag != std::string::npos; ++frame) {
        const uint32_t size = testsupport::be32(&d[tag - 4]);
        if (frame == 2)
            std::fill(d.begin() + long(tag) - 4, d.begin() + long(tag), 0);
        if (frame == 4)
            std::fill(d.begin() + long(tag) - 4, d.begin() + long(tag), 0xFF);
        tag = testsupport::findType(d, "icpf", tag - 4 + size);
    }
    const Outcome o = repair("ProResRepair.ZeroAndHugeFrameSizes", original, d);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.video.alive, 23u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
}

// Random bytes strewn with each codec's frame signature followed by sizes
// and marker lengths that lie: the scan ends in order, whatever it takes.
TEST(FrameCodecHostile, SignaturesInNoise) {
    Bytes d = repairrun::noise(3 << 20, 7);
    std::mt19937 rng(11);
    const Bytes signatures[] = {{'i', 'c', 'p', 'f'}, {0x1F, 0x07, 0x00, 0x3F}, {0xFF, 0xD8, 0xFF, 0xDA},
                                {0xFF, 0xD8, 0xFF, 0xC0}, {0x01, 0x16}};
    for (int i = 0; i < 20000; ++i) {
        const Bytes& s = signatures[size_t(i) % std::size(signatures)];
        const size_t at = 8 + rng() % (d.size() - 16);
        std::copy(s.begin(), s.end(), d.begin() + long(at) + (s[0] == 'i' ? 4 : 0));
        if (s[0] == 0x01)
            d[at + 6] = 0x07, d[at + 7] = 0x80;  // width 1920
    }
    const std::string input = testsupport::writeScratch("FrameCodecHostile.SignaturesInNoise", "noise.mov", d);
    for (const char* codec : {"apcn", "dvc ", "jpeg", "icod"}) {
        const auto r = testsupport::runFramend("-i " + quote(input) + " -vf " + quote(codec) + " -o " +
                                               quote(input + ".out.mov"));
        // Frames or none, but a finished run (3: nothing was recovered).
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << codec << " exit " << r.exitCode;
        EXPECT_NE(r.output.find("scan end"), std::string::npos) << codec;
    }
}

// No encoder makes AIC here: frames built from its header layout (signature,
// 32-bit size, width, height) with sound-like bytes between them, one
// header that claims 9 MB inside a gap, and a last frame cut by the end.
TEST(ICODRepair, SyntheticFrames) {
    std::mt19937 rng(5);
    // An mdat that runs to the end of the file, behind an empty free atom.
    Bytes d = testsupport::concat({testsupport::atom("free", {}), testsupport::atom("mdat", {}, 0u)});
    std::vector<uint32_t> sizes;
    for (int i = 0; i < 12; ++i) {
        const uint32_t size = 3000 + rng() % 6000;
        sizes.push_back(size);
        Bytes frame = testsupport::concat({{0x01, 0x16}, testsupport::u32s({size, 1920u << 16 | 1080})});
        while (frame.size() < size)
            frame.push_back(uint8_t(rng()));
        if (i + 1 == 12)
            frame.resize(size / 2);
        d.insert(d.end(), frame.begin(), frame.end());
        Bytes gap(4000);
        for (auto& b : gap)
            b = uint8_t(rng() & 0x7F);
        if (i == 5) {
            const Bytes lying = {0x01, 0x16, 0x00, 0x89, 0x54, 0x40, 0x07, 0x80, 0x04, 0x38};
            std::copy(lying.begin(), lying.end(), gap.begin() + 100);
        }
        if (i + 1 < 12)
            d.insert(d.end(), gap.begin(), gap.end());
    }
    const Outcome r = repairBytes("ICODRepair.SyntheticFrames", "", d, "aic.mov", "-vf icod -fw 1920 -fh 1080 -fps 25");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.log.find("framesize too high (9000000)"), std::string::npos);
    const auto packets = testsupport::framemd5(r.repaired);
    ASSERT_EQ(packets.size(), sizes.size() - 1);
    // "stream, dts, pts, duration, size, md5"
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_NE(packets[i].find(" " + std::to_string(sizes[i]) + ", "), std::string::npos) << packets[i];
}

// ffmpeg writes no interlaced Motion-JPEG format A: its fields are encoded
// here as images of their own, each given the APP1 "mjpg" segment the format
// puts behind the start of image (its next-field offset, the others left
// 0), and muxed two to a sample. Every frame comes back with both fields.
TEST(MjpaRepair, TwoFieldFramesComeBackWhole) {
    const std::string dir = testsupport::scratchDir("MjpaRepair.TwoFieldFramesComeBackWhole_fields");
    for (const char* field : {"top", "bottom"}) {
        const auto r = testsupport::runCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc2=s=320x240:r=25:d=2 -vf field=" +
                                               std::string(field) + " -c:v mjpeg -q:v 5 " +
                                               quote(dir + "/" + field + "%03d.jpg"));
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    const auto withApp1 = [](Bytes image, uint32_t nextField) {
        const uint32_t size = uint32_t(image.size() + 44);
        const Bytes app1 = testsupport::concat({{0xFF, 0xE1, 0x00, 0x2A, 0, 0, 0, 0, 'm', 'j', 'p', 'g'},
                                                testsupport::u32s({size, size, nextField, 0, 0, 0, 0, 0})});
        image.insert(image.begin() + 2, app1.begin(), app1.end());
        return image;
    };
    for (int i = 1; i <= 50; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.jpg", i);
        const Bytes top = testsupport::readFile(dir + "/top" + name);
        const Bytes bottom = testsupport::readFile(dir + "/bottom" + name);
        ASSERT_FALSE(top.empty() || bottom.empty());
        Bytes frame = withApp1(top, uint32_t(top.size() + 44));
        const Bytes second = withApp1(bottom, 0);
        frame.insert(frame.end(), second.begin(), second.end());
        ASSERT_TRUE(testsupport::writeFile(dir + "/frame" + name, frame));
    }
    const std::string original = dir + "/mjpa.mov";
    const auto r = testsupport::runCommand("ffmpeg -nostdin -v error -framerate 25 -i " + quote(dir + "/frame%03d.jpg") +
                                           " -f lavfi -i sine=f=440:r=48000:d=2 -c:v copy -tag:v mjpa -c:a pcm_s16be " +
                                           quote(original));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const Outcome o = repair("MjpaRepair.TwoFieldFramesComeBackWhole", original, repairrun::withoutIndex(original));
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(repairrun::packetCounts(o.repaired)[0], 50u);
    EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
}

// Quiet PCM holds VOP start codes by chance (samples 0 and 438 in a row):
// without a reference or -vf the fallback set must not take them for
// MPEG-4 Visual pictures, which would run across the DV frames around them.
TEST(FallbackSet, VopCodesInSoundAreNoPictures) {
    const std::string dv = testmedia::dvPcmMov();
    Bytes planted = testsupport::readFile(dv);
    for (const testmedia::Run& run : testmedia::fileOrderRuns(testmedia::probePackets(dv))) {
        if (run.stream != 1)
            continue;
        for (int64_t at = run.start + 64; at + 16 < run.start + run.bytes; at += 2048) {
            const uint8_t vop[] = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x00, 0x00, 0x00};
            std::copy(std::begin(vop), std::end(vop), planted.begin() + at);
        }
    }
    const std::string original =
        testsupport::writeScratch("FallbackSet.VopCodesInSoundAreNoPictures_orig", "dv.mov", planted);
    const Outcome o = repair("FallbackSet.VopCodesInSoundAreNoPictures", "", repairrun::withoutIndex(original),
                             "-fps 29.97 -af sowt -ac 2", original);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(repairrun::packetCounts(o.repaired)[0], o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
}
