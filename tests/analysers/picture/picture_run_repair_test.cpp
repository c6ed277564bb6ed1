// MPEG-2 and MPEG-4 Visual recordings that lost their index, end to end:
// every picture and audio packet that survived the damage must come back
// bit-exact (ffmpeg packet checksums), shown in the original's order, and
// nothing else. ffmpeg's muxer writes a picture or a few, then the audio
// of that time, so each picture ends where audio begins; the reference has
// other content and is shorter, so its interleave must be carried on.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace repairrun;

struct Settings {
    const char* name;
    const char* settings;  // video and audio encoding, muxing
    const char* ext;
};

Recording make(const Settings& r, const char* picture, const char* sound, int seconds, const char* suffix) {
    return {std::string("picrun_") + r.name + suffix + "." + r.ext,
            std::string("-f lavfi -i ") + picture + "=size=352x288:rate=25 -f lavfi -i " + sound +
                ":sample_rate=48000 -t " + std::to_string(seconds) + " " + r.settings};
}

// MPEG-2 with PCM (ffmpeg's interleave; interlaced closed GOPs in
// camera-like chunks of 24-bit sound); MPEG-4 Visual with B-VOPs and AAC,
// and with MP3.
const Settings kRecordings[] = {
    {"mpeg2_pcm", "-c:v mpeg2video -b:v 2M -bf 2 -g 15 -c:a pcm_s16be -ac 2", "mov"},
    {"mpeg2_interlaced_chunks",
     "-c:v mpeg2video -b:v 2M -bf 2 -g 12 -flags +cgop+ilme+ildct -top 1 -sc_threshold 1000000000 "
     "-c:a pcm_s24be -ac 2 -chunk_duration 500000",
     "mov"},
    {"mp4v_aac", "-c:v mpeg4 -bf 2 -c:a aac -b:a 128k -ac 2", "mp4"},
    {"mp4v_mp3", "-c:v mpeg4 -c:a libmp3lame -b:a 128k -ac 2", "mp4"},
};

// Each lost its index, and is cut at 60% too; with the whole payload there,
// no picture or audio may be made of other bytes.
std::vector<Case> cases() {
    std::vector<Case> out;
    for (const Settings& r : kRecordings) {
        const auto original = make(r, "testsrc2", "sine=frequency=440", 3, ""),
                   ref = make(r, "mandelbrot", "anoisesrc=amplitude=0.2:seed=14", 1, "_ref");
        out.push_back({std::string(r.name) + "_nomoov", original, ref, Order | Counts | Clean | Sync});
        out.push_back({std::string(r.name) + "_cut60", original, ref, Order | Clean | Sync, 0, 100, 100, 0.6});
    }
    return out;
}

}  // namespace

class PictureRunRepair : public Cases {};

TEST_P(PictureRunRepair, EveryPacketComesBack) { expectRepaired(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Ffmpeg, PictureRunRepair, ::testing::ValuesIn(cases()), caseName);

// Start codes in noise: no picture is whole, nothing may crash or loop.
TEST(PictureRunRepair, StartCodesInNoiseEndCleanly) {
    Bytes noise = repairrun::noise(3 << 20, 7);
    // Sequence, group, picture, slice and VOP start codes and MPEG audio
    // sync words every few hundred bytes, some at window borders.
    const uint8_t codes[] = {0xB3, 0xB8, 0x00, 0x01, 0x12, 0xAF, 0xB6, 0xB0, 0x20, 0xB7};
    for (size_t i = 0, k = 0; i + 8 < noise.size(); i += 97 + (i * 7919) % 700, ++k) {
        noise[i] = 0;
        noise[i + 1] = 0;
        noise[i + 2] = 1;
        noise[i + 3] = codes[k % sizeof codes];
        if (k % 3 == 0) {
            noise[i + 6] = 0xFF;
            noise[i + 7] = 0xFB;
        }
    }
    for (const Settings* r : {&kRecordings[0], &kRecordings[3]}) {
        const auto ref = make(*r, "mandelbrot", "anoisesrc=amplitude=0.2:seed=14", 1, "_ref");
        const Outcome o =
            repair("PictureRunRepair.Noise_" + std::string(r->name), testsupport::fixture(ref.file, ref.args), noise);
        EXPECT_NE(o.log.find("[INFO] scan end\n"), std::string::npos) << o.errors;
    }
}

// A QuickTime recorder's media data atom that holds a 'wide' atom and an
// inner 'mdat' of size 0 in front of the payload: the end of the media data
// was read from the inner header, which gives none, so the last picture,
// which ends with the data, was dropped as one the input may cut.
TEST(PictureRunRepair, LastPictureEndsWhereTheOuterMediaDataHeaderSays) {
    const Settings& r = kRecordings[2];
    // The sound stops half a second before the pictures do.
    Bytes d = testsupport::readFile(testsupport::fixture(
        "picrun_mp4v_pictures_last.mp4", std::string("-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i "
                                                     "sine=frequency=440:sample_rate=48000:duration=2.5 -t 3 ") +
                                             r.settings));
    const size_t at = testsupport::findType(d, "mdat");
    ASSERT_TRUE(at != std::string::npos && at >= 4);
    const size_t header = at - 4;
    const uint8_t nested[16] = {0, 0, 0, 8, 'w', 'i', 'd', 'e', 0, 0, 0, 0, 'm', 'd', 'a', 't'};
    testsupport::setBe32(d.data() + header, testsupport::be32(d.data() + header) + 16);
    d.insert(d.begin() + long(header + 8), nested, nested + sizeof nested);
    testsupport::mapChunkOffsets(d, [header](uint64_t v) { return v > header ? v + 16 : v; });
    const std::string original = testsupport::writeScratch("PictureRunRepair.nested_original", "nested.mp4", d);
    const auto ref = make(r, "mandelbrot", "anoisesrc=amplitude=0.2:seed=14", 1, "_ref");
    const Outcome o = repair("PictureRunRepair.Nested", testsupport::fixture(ref.file, ref.args),
                             withoutIndex(original), "", original);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(packetCounts(o.repaired), packetCounts(original));
}
