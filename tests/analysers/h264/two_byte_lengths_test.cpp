// Phones that store their H.264 units behind 2-byte lengths: the recording
// and its reference are rewritten that way from ffmpeg-made movies, and the
// repair is judged by packet checksums against the rewritten original.

#include "platform/file.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"
#include "support/two_byte_lengths.h"

#include <gtest/gtest.h>

using namespace repairrun;

namespace {

struct Layout {
    std::string name;
    std::string mux;
    std::string sound = "-ac 1 -b:a 64k";
    std::string tone = "sine=frequency=660:sample_rate=44100";
    std::string video = "-profile:v high -bf 2";
    int soundTracks = 1;
    std::string ext = "mp4";
    const char* scene = "testsrc2";
};

void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

// A recording of `seconds` of `scene` with an AAC tone, rewritten (in a
// scratch folder of its own: the repair empties the test's).
std::string phoneRecording(const std::string& test, const std::string& file, const char* scene, int seconds,
                           const Layout& layout) {
    const std::string made = testsupport::fixture(
        layout.name + "_" + file,
        std::string("-f lavfi -i ") + scene + "=size=320x240:rate=30 -f lavfi -i " + layout.tone + " " +
            "-t " + std::to_string(seconds) +
            " -c:v libx264 " + layout.video + " -pix_fmt yuv420p -g 30 -crf 26 -c:a aac " + layout.sound + " " +
            layout.mux);
    const std::vector<uint8_t> rewritten = testsupport::withTwoByteNalLengths(made);
    return rewritten.empty() ? "" : testsupport::writeScratch(test + "." + file, file, rewritten);
}

class TwoByteLengths : public ::testing::TestWithParam<Layout> {};

}  // namespace

TEST_P(TwoByteLengths, RecordingComesBackWhole) {
    const Layout& l = GetParam();
    const std::string test = "TwoByteLengths." + l.name;
    testmedia::captionCues(12, true);
    const std::string original = phoneRecording(test, "recording." + l.ext, l.scene, 6, l);
    const std::string reference = phoneRecording(test, "reference." + l.ext, "mandelbrot", 3, l);
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(reference.empty());
    ASSERT_NE(testsupport::ffprobe(original, "-show_entries stream=codec_name -of csv=p=0"), "");
    const Outcome o = repair(test, reference, withoutIndex(original), "", original);
    EXPECT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.alive, 180u);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    EXPECT_GT(o.audio.alive, 60u);
    std::string types = "video\n";
    for (int t = 0; t < l.soundTracks; ++t)
        types += "audio\n";
    EXPECT_EQ(testsupport::ffprobe(o.repaired, "-select_streams V -show_entries stream=codec_type -of csv=p=0") +
                  testsupport::ffprobe(o.repaired, "-select_streams a -show_entries stream=codec_type -of csv=p=0"),
              types);
    // Each sound track read on its own: ffmpeg reads PCM in other packets
    // where it leaves out the edit lists.
    for (int t = 0; t < l.soundTracks; ++t) {
        const std::string map = "a:" + std::to_string(t);
        EXPECT_EQ(mappedChecksums(o.repaired, map), mappedChecksums(original, map)) << map;
    }
    EXPECT_EQ(decodeErrors(o.repaired), "");
}

// ffmpeg's own interleave (a picture, then a frame or two of sound: most
// chance slices that start in the sound name a parameter set the reference
// lacks), the same with 5.1 sound (whose frames begin with a gain close to
// their own size: read as a length, an SPS extension of exactly the frame)
// and with Baseline pictures behind single large frames of sound (chance
// slices that keep every rule of the header, told by the frame run across
// them), and camera-like chunks of half a second.
INSTANTIATE_TEST_SUITE_P(Layouts, TwoByteLengths,
                         ::testing::Values(Layout{"interleaved", ""},
                                           Layout{"interleaved_5_1", "", "-b:a 128k",
                                                  "sine=f=330:r=48000,aformat=channel_layouts=5.1"},
                                           Layout{"interleaved_baseline", "", "-ac 1 -b:a 128k",
                                                  "sine=frequency=440:sample_rate=44100", "-profile:v baseline"},
                                           Layout{"chunks", "-chunk_duration 500000"},
                                           // MP3 in ffmpeg's interleave: a frame or two between
                                           // pictures, a chance picture inside the one in front
                                           // of a picture.
                                           Layout{"interleaved_mp3", "", "-c:a libmp3lame -ac 1 -b:a 64k",
                                                  "sine=frequency=440:sample_rate=48000",
                                                  "-profile:v main -bf 0 -x264-params cabac=0:slices=3"},
                                           // Two 5.1 tracks at 96 and 22 kHz: a gap that opens
                                           // with the second track's chunk has a chance picture
                                           // inside its frames, which the first track's
                                           // settings do not read across.
                                           Layout{"chunks_two_5_1_tracks", "-chunk_duration 478000",
                                                  "-map 0:v -map 1:a -map 2:a -b:a:0 320k -b:a:1 32k",
                                                  "anoisesrc=r=96000:a=0.2:seed=4,aformat=channel_layouts=5.1 "
                                                  "-f lavfi -i sine=f=660:r=22050,aformat=channel_layouts=5.1",
                                                  "-profile:v high -bf 2", 2},
                                           // 5.1 at 11 kHz in long chunks behind captions: a
                                           // gap whose sound opens behind a caption chunk.
                                           Layout{"chunks_captions_5_1", "-chunk_duration 1305000",
                                                  "-map 0:v -map 1:a -map 2:s -c:s mov_text -b:a 320k",
                                                  "sine=f=550:r=11025,aformat=channel_layouts=5.1 -i " +
                                                      testsupport::quote(testmedia::captionCuesPath(12, true)),
                                                  "-profile:v baseline"},
                                           // Noise in 16-bit PCM at 96 kHz in chunks of 1.3 s,
                                           // half a megabyte, where chance pictures keep every
                                           // rule and sample frames are four bytes; captions
                                           // in front of the pictures.
                                           Layout{"pcm_noise_chunks", "-chunk_duration 1345000",
                                                  "-map 0:v -map 1:a -map 2:s -c:s mov_text -c:a pcm_s16be",
                                                  "anoisesrc=r=96000:a=0.2:seed=5,aformat=channel_layouts=stereo -i " +
                                                      testsupport::quote(testmedia::captionCuesPath(12, true)),
                                                  "-profile:v high422 -bf 2 -x264-params slices=4", 1, "mov"},
                                           // Noise and a tone in 24-bit PCM, packet by packet
                                           // in ffmpeg's interleave: three-byte sample frames.
                                           Layout{"pcm_two_tracks_interleaved", "",
                                                  "-map 0:v -map 1:a -map 2:a -c:a pcm_s24be",
                                                  "anoisesrc=r=32000:a=0.2:seed=6,aformat=channel_layouts=mono "
                                                  "-f lavfi -i sine=f=660:r=44100,aformat=channel_layouts=stereo",
                                                  "-profile:v main -bf 1", 2, "mov"},
                                           // Noise in 24-bit mono PCM at 16 kHz in chunks of
                                           // 1.1 s: the last chunk holds a chance picture that
                                           // runs to the end of the input, where the media data
                                           // ends as its atom says (nothing was cut there).
                                           Layout{"pcm24_noise_mono_chunks", "-chunk_duration 1126000", "-c:a pcm_s24le",
                                                  "anoisesrc=r=16000:a=0.2:seed=4,aformat=channel_layouts=mono",
                                                  "-profile:v high -bf 1", 1, "mov"},
                                           // A still scene between AAC frames of noise: its pictures
                                           // of a dozen bytes, too short for the scan's unit test,
                                           // were left in the sound, and half of the sound with them.
                                           Layout{"still_scene", "", "-ac 2 -b:a 128k", "anoisesrc=r=48000:a=0.5:seed=3",
                                                  "-profile:v baseline", 1, "mp4", "color"}),
                         [](const auto& info) { return info.param.name; });

// Behind two-byte lengths, bytes of any kind hold a picture that keeps every
// rule now and then; random bytes hold a few hundred in 20 MB, which never
// continue one another's frame numbers: nothing is taken from them.
TEST(TwoByteLengthsNoise, RandomBytesGiveNothing) {
    const std::string test = "TwoByteLengths.noise";
    const std::string reference = phoneRecording(test, "reference.mp4", "mandelbrot", 3, Layout{"noise", ""});
    ASSERT_FALSE(reference.empty());
    const Outcome o = repair(test, reference, noise(20 * 1024 * 1024, 7));
    EXPECT_EQ(o.exitCode, 3) << o.log.substr(0, 2000);
    EXPECT_NE(o.log.find("AVC1: the pictures found do not continue one another"), std::string::npos);
    EXPECT_EQ(platform::fileSize(o.repaired), -1);
}

// A 550 Hz tone in 16-bit stereo PCM at 96 kHz, packet by packet, beside
// 10-bit pictures: the tone repeats every 1,920 sample frames and with it a
// chance picture of 416 bytes. The reference's first picture lasts two
// seconds, so its first gap holds two seconds of sound; taken for what a
// last flush may hold, that let every chance picture in the last 800 KB
// stand. Nor does the last flush itself excuse a picture behind sound that
// is no sum of whole packets.
TEST(TwoByteLengthsPcm, FirstGapOfTheReferenceIsNoLastFlush) {
    const std::string test = "TwoByteLengths.pcm_first_gap";
    const std::string settings = " -c:v libx264 -preset veryfast -pix_fmt yuv420p10le -profile:v high10 -bf 2 -g 12 "
                                 "-x264-params cabac=0:slices=2:open_gop=0 -c:a pcm_s16be -timecode 01:00:00:00 ";
    auto made = [&](const std::string& file, const std::string& args) {
        const std::vector<uint8_t> rewritten = testsupport::withTwoByteNalLengths(testsupport::fixture(file, args));
        return rewritten.empty() ? "" : testsupport::writeScratch(test + "." + file, file, rewritten);
    };
    const std::string original =
        made("pcm_tone_96k_two_byte.mov", "-f lavfi -i mandelbrot=s=192x464:r=25:maxiter=64,trim=duration=6 -f lavfi -i "
                                          "sine=f=550:r=96000:d=6,aformat=channel_layouts=stereo" + settings + "-t 6");
    const std::string reference =
        made("pcm_noise_96k_held_two_byte.mov",
             "-f lavfi -i testsrc2=s=192x464:r=25:d=5 -f lavfi -i "
             "anoisesrc=d=5:r=96000:a=0.2:seed=1210361284,aformat=channel_layouts=stereo -vf "
             "\"setpts='if(eq(N,0),0,PTS+2/TB)'\" -fps_mode vfr" + settings + "-t 5");
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(reference.empty());
    const Outcome o = repair(test, reference, withoutIndex(original), "", original);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(packetCounts(o.repaired), packetCounts(original));
    EXPECT_EQ(mappedChecksums(o.repaired, "a"), mappedChecksums(original, "a"));
}

