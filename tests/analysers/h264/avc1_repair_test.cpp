// End-to-end H.264 repairs of ffmpeg-made movies whose index was lost,
// judged by ffmpeg: packet checksums of the repaired file against the intact
// original, counting only packets whose bytes survived the damage.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <tuple>

using namespace repairrun;

namespace {

// 320x240 at 25 fps with B-frames.
constexpr const char* kVideo = "-c:v libx264 -bf 2 -g 50 -crf 30 -pix_fmt yuv420p ";
constexpr const char* kAac = "-c:a aac -ac 2 -b:a 96k ";
constexpr const char* kMp3 = "-c:a libmp3lame -ac 2 -b:a 128k ";

std::string movie(const std::string& name, const std::string& audio, const std::string& mux = "") {
    return testmedia::movie(name, kVideo + audio + mux);
}

double streamDuration(const std::string& file, const char* type) {
    return std::atof(testsupport::ffprobe(file, std::string("-select_streams ") + type +
                                                    " -show_entries stream=duration -of csv=p=0").c_str());
}

// A few blocks of random bytes inside the media payload.
std::vector<uint8_t> withRandomBlocks(std::vector<uint8_t> d, unsigned seed) {
    std::mt19937 rng(seed);
    for (int block = 0; block < 3; ++block) {
        const size_t at = 4000 + rng() % (d.size() - 8000);
        const size_t length = 200 + rng() % 1300;
        for (size_t i = at; i < at + length && i < d.size(); ++i)
            d[i] = uint8_t(rng());
    }
    return d;
}

}  // namespace

struct Whole {
    const char* name;
    const char* audio;
    const char* mux;
    const char* options;
    double minAudio;   // percent of the audio packets
    const char* line;  // a log line that shows the path taken
};

void PrintTo(const Whole& w, std::ostream* os) { *os << w.name; }

class Avc1WithoutIndex : public ::testing::TestWithParam<Whole> {};

// A movie that lost only its index comes back whole: every frame in
// presentation order, the audio, a clean decode, streams of equal length,
// the original's sync samples.
TEST_P(Avc1WithoutIndex, ComesBackWhole) {
    const Whole& w = GetParam();
    const std::string ref = movie(std::string("avc_") + w.name + ".mp4", w.audio, w.mux);
    const Outcome o = repair(std::string("Avc1Repair.") + w.name, ref, withoutIndex(ref), w.options);
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), w.minAudio);
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    // Its IDR picture is the one random-access point, as in the original.
    EXPECT_EQ(o.video.syncAgreed, o.video.recovered);
    EXPECT_NE(o.log.find(w.line), std::string::npos) << w.line;
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
    // Only the streams the original has: no empty sound track, which would
    // have no channels and nothing to play.
    auto types = [](const std::string& f) { return testsupport::ffprobe(f, "-show_entries stream=codec_type -of csv=p=0"); };
    EXPECT_EQ(types(o.repaired), types(ref));
    if (types(ref) != "video\n") {
        // The reference block is printed once the chunk layout is known.
        EXPECT_EQ(o.log.find("audio chunks size all   : 0\n"), std::string::npos);
        EXPECT_NE(o.log.find("audio chunks size all   : "), std::string::npos);
        EXPECT_GT(o.audio.alive, 75u);
        EXPECT_LT(std::abs(streamDuration(o.repaired, "v") - streamDuration(o.repaired, "a")), 0.2);
    }
}

// ffmpeg's own interleaving (about one video frame, then one or two AAC
// frames), camera-like chunks, 'avc3' with parameter sets in the samples, MPEG audio in 'mp4a' (object type 0x6B) found
// between the chunks without any option or by the stand-alone audio
// analyser, and video alone.
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, Avc1WithoutIndex,
    ::testing::Values(Whole{"aac", kAac, "", "", 97, "AVC1 chunk scanner enabled"},
                      Whole{"aac_chunk500000", kAac, "-chunk_duration 500000", "", 97, "AVC1 chunk scanner enabled"},
                      Whole{"aac_chunk1000000", kAac, "-chunk_duration 1000000", "", 97, "AVC1 chunk scanner enabled"},
                      Whole{"aac_avc3_inband", kAac, "-tag:v avc3 -x264-params repeat-headers=1 -chunk_duration 500000",
                            "", 97, "AVC1 chunk scanner enabled"},
                      Whole{"mp3", kMp3, "", "", 99, "AVC1 chunk scanner enabled"},
                      Whole{"mp3_chunk500000", kMp3, "-chunk_duration 500000", "-aac", 97, "using analyser: AACAnalyser"},
                      Whole{"noaudio", "-an ", "", "", 100, "AVC1 chunk scanner enabled"}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

const std::string kFields = std::string(kVideo) + "-x264-params interlaced=1 -c:a aac -ac 1 ";

Recording avc(const std::string& file, const std::string& settings) {
    return {file, testmedia::movieArgs(kVideo + settings)};
}

// A testsrc2 (or other scene) recording with a tone and AAC.
Recording aac(const std::string& file, const std::string& scene, int seconds, int tone, int rate,
                         const std::string& video) {
    return {file, "-f lavfi -i " + scene + "=size=320x240:rate=25 -f lavfi -i sine=frequency=" + std::to_string(tone) +
                      ":sample_rate=" + std::to_string(rate) + " -t " + std::to_string(seconds) + video};
}

const Recording kMp3Lookalike{
    "avc_mp3_lookalike.mov",
    "-f lavfi -i testsrc2=s=720x688:r=24:d=6 -f lavfi -i sine=f=550:r=44100:d=6,aformat=channel_layouts=stereo "
    "-map 0:v -map 1:a -c:v libx264 -preset veryfast -pix_fmt yuv420p -profile:v high -bf 2 -g 130 "
    "-c:a libmp3lame -b:a 128k -t 6"};
const std::string kShortSlices =
    "-f lavfi -i testsrc=size=224x208:rate=24 -f lavfi -i sine=f=440:r=32000:d=4 -map 0:v -map 1:a "
    "-c:v libx264 -profile:v high -pix_fmt yuv420p -bf 3 -g 48 -x264-params slices=3 -c:a aac -ac 1 -b:a 64k -t 4 ";
const std::string kTinyPictures =
    "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 "
    "-c:v libx264 -pix_fmt ";
const std::string kOpenGop = " -c:v libx264 -bf 2 -g 50 -x264-params open_gop=1 -c:a aac -ac 2";
// Groups of a key frame and two B pictures, no more, no fewer: a 6 s
// recording closes its last group with a P picture, a 4 s reference ends on
// a whole group and shows none.
const std::string kShortGroups =
    " -c:v libx264 -pix_fmt yuv420p -x264-params keyint=3:min-keyint=3:bframes=2:open-gop=1:scenecut=0:b-adapt=0 "
    "-c:a aac -ac 2 -chunk_duration 1000000";
const std::string kBf3 = " -c:v libx264 -bf 3 -c:a aac -ac 2";
// A muxer that leaves out four pictures of every ten: the six left last
// 40 ms, or 200 ms where the four are missing.
const std::string kDropped =
    " -c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p -vf \"select='lt(mod(n\\,10)\\,6)'\" -fps_mode vfr -c:a aac -ac 2";
const std::string kSteady = " -c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p -c:a aac -ac 2";
// 60 fps and 5.1 sound at 22 kHz in chunks of 0.92 s, for -t seconds.
const std::string kSoundAhead = "-f lavfi -i testsrc2=size=320x240:rate=60 -f lavfi -i "
                                "sine=frequency=440:sample_rate=22050,aformat=channel_layouts=5.1 -c:v libx264 "
                                "-pix_fmt yuv420p -g 40 -c:a aac -b:a 48k -chunk_duration 922000 -t ";
// Linear PCM in long camera-like chunks behind large pictures.
Recording pcmChunks(const std::string& file, const char* scene, int tone, int seconds) {
    return {file, std::string("-f lavfi -i ") + scene + "=size=944x544:rate=25 -f lavfi -i sine=frequency=" +
                      std::to_string(tone) + ":sample_rate=8000 -map 0:v -map 1:a -c:v libx264 -preset veryfast "
                      "-profile:v high -pix_fmt yuv420p -bf 2 -g 18 -c:a pcm_s24be -ac 2 -chunk_duration 1737000 -t " +
                      std::to_string(seconds)};
}
std::string still(const std::string& scene) {
    return "-f lavfi -i " + scene + "=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=300:sample_rate=48000 "
           "-t 3 " + kVideo + kAac;
}

}  // namespace

class Avc1Recordings : public repairrun::Cases {};

TEST_P(Avc1Recordings, ComeBack) { repairrun::expectRepaired(GetParam()); }

// mov_*: QuickTime recordings whose every packet must come back bit-exact,
// and nothing else. Four slices: a slice over a still part is a few bytes and
// the frame goes on behind it; 'twos' PCM in ffmpeg's interleave; MP3, whose
// one sample size is a frame's; PCM chunks larger than any of a shorter
// reference; pictures larger than one search read against small ones; MBAFF
// bottom field first, shown in the order its fields' counts say.
// mp3_lookalike: 18 bytes into an MP3 frame lie bytes that pass for a whole
// one-slice picture; the frames around it say it is sound.
// short_slices: most pictures begin with (or are nothing but) slices of
// fewer than 32 bytes, between audio frames or splitting chunks.
// tiny_pictures: single slices of 20-30 bytes between mono AAC frames, which
// may open with the zero byte a mono frame opens with.
// open_gop: a reference shorter than one group shows only its first IDR; the
// I pictures behind a recovery point SEI are sync samples, as in the original.
// ends_on_p: a reference with nothing but B pictures between key frames.
// audio_tails: an AAC frame ends in 00 00 00 06 6B (an "end of stream" unit
// once taken as part of it), and the last frame is 7 bytes.
// still_reference: a black or still reference codes its P and B frames in a
// few bytes; what it shows must not change what comes back.
// other_scene: every frame larger (or smaller) than any of the reference's,
// whose composition offsets do not fit; the frames' order counts do.
// two_sei: picture timing and recovery point SEIs both lead key pictures; the
// second must not cut off the first, nor hide the key picture.
// pcm_cut_picture: the cut-off picture behind the last video chunk was taken
// as sound, lengthening the sound track.
// vfr_reference: the reference's first frame is held for two seconds.
// mp3_tiny_picture_cue: ffmpeg's interleave at 24 fps with MP3 and captions,
// whose first gap holds an MP3 frame, a 72-byte B picture (too small for the
// chunk search), the first cue and two more frames; the frame, the picture
// and the cue were lost with the stretch (the first second of a recording
// that came out this way).
const std::vector<Case> kAvc1Cases = {
    {"avc_mov_slices4_pcm",
     avc("avc_mov_slices4_pcm.mov", "-c:a pcm_s16le -ac 1 -ar 44100 -x264-params slices=4 -chunk_duration 226000"),
     {}, Order | Counts | Clean, 50},
    {"avc_mov_pcm16be", avc("avc_mov_pcm16be.mov", "-c:a pcm_s16be -ac 2"), {}, Order | Counts | Clean, 50},
    {"avc_mov_mp3", avc("avc_mov_mp3.mov", "-c:a libmp3lame -ac 2 -b:a 128k -chunk_duration 700000"), {},
     Order | Counts | Clean, 50},
    {"avc_mov_pcm_long_chunks", avc("avc_mov_pcm_long_chunks.mov", "-c:a pcm_s16le -ac 1 -ar 44100 -chunk_duration 703000"),
     avc("avc_mov_pcm_long_chunks_ref.mov", "-c:a pcm_s16le -ac 1 -ar 44100 -chunk_duration 703000 -t 1"),
     Order | Counts | Clean, 50},
    {"avc_mov_large_frames",
     avc("avc_mov_large_frames.mov", "-preset ultrafast -x264-params slices=3 -an -chunk_duration 1000000 "
                                     "-vf scale=640:360,noise=alls=30:allf=t"),
     avc("avc_mov_large_frames_ref.mov", "-preset ultrafast -x264-params slices=3 -an -chunk_duration 1000000 "
                                         "-vf scale=640:360"),
     Order | Counts | Clean, 50},
    {"avc_mov_interlaced_bff",
     avc("avc_mov_interlaced_bff.mov",
         "-flags +ildct+ilme -bf 3 -x264-params interlaced=1:bff=1:open_gop=1:slices=4 -c:a pcm_s16le -ac 1"),
     avc("avc_mov_interlaced_bff_ref.mov",
         "-flags +ildct+ilme -bf 3 -x264-params interlaced=1:bff=1:open_gop=1:slices=4 -c:a pcm_s16le -ac 1 "
         "-t 1.2 -vf hflip"),
     Order | Counts | Clean, 50},
    // Every interlaced picture opens with the same timing message, which
    // tells where pictures begin in a reference of 300 of them; the first
    // carries the encoder's settings in front of it.
    {"avc_interlaced_first_picture_with_settings",
     {"avc_interlaced_first_picture_with_settings.mov",
      "-f lavfi -i testsrc2=size=176x144:rate=100:duration=2 -f lavfi -i sine=frequency=440:duration=2 " + kFields},
     {"avc_interlaced_first_picture_with_settings_ref.mov",
      "-f lavfi -i mandelbrot=size=176x144:rate=100:maxiter=64 -f lavfi -i sine=frequency=880 -t 3 " + kFields},
     Order | Counts | Clean},
    {"avc_mp3_lookalike", kMp3Lookalike, {}, Clean},
    {"avc_short_slices", {"avc_short_slices.mov", kShortSlices}, {}, Order | Counts, 96},
    {"avc_short_slices_chunks", {"avc_short_slices_chunks.mov", kShortSlices + "-chunk_duration 500000"}, {},
     Order | Counts, 96},
    {"avc_tiny_pictures_yuv420p", {"avc_tiny_pictures_yuv420p.mp4", kTinyPictures + "yuv420p -c:a aac"}, {},
     repairrun::Identical | Clean},
    {"avc_tiny_pictures_yuv444p", {"avc_tiny_pictures_yuv444p.mp4", kTinyPictures + "yuv444p -c:a aac"}, {},
     repairrun::Identical | Clean},
    {"avc_open_gop", aac("avc_aac_open_gop.mp4", "testsrc2", 6, 440, 48000, kOpenGop),
     aac("avc_aac_open_gop_ref.mp4", "mandelbrot", 1, 440, 48000, kOpenGop), repairrun::Sync},
    {"avc_ends_on_p", aac("avc_aac_short_groups.mp4", "testsrc2", 6, 440, 48000, kShortGroups),
     aac("avc_aac_short_groups_ref.mp4", "mandelbrot", 4, 440, 48000, kShortGroups), Clean, 150},
    {"avc_audio_tails", aac("avc_aac_bf3.mp4", "testsrc2", 6, 500, 44100, kBf3),
     aac("avc_aac_bf3_ref.mp4", "testsrc2", 3, 700, 44100, kBf3)},
    {"avc_still_reference_color", avc("avc_aac.mp4", kAac), {"avc_aac_color.mp4", still("color")}, Order, 0, 100, 97},
    {"avc_still_reference_smptebars", avc("avc_aac.mp4", kAac), {"avc_aac_smptebars.mp4", still("smptebars")}, Order,
     0, 100, 97},
    {"avc_other_scene", avc("avc_aac_noisy.mp4", kAac + std::string("-vf noise=alls=30:allf=t")), avc("avc_aac.mp4", kAac),
     Order | Clean, 0, 100, 97},
    {"avc_other_scene_back", avc("avc_aac.mp4", kAac), avc("avc_aac_noisy.mp4", kAac + std::string("-vf noise=alls=30:allf=t")),
     Order | Clean, 0, 100, 97},
    {"avc_two_sei",
     {"interlaced_open_gop_422.mp4", "-f lavfi -i testsrc2=size=192x320:rate=60:duration=6 -c:v libx264 -pix_fmt "
                                     "yuv422p -bf 2 -g 8 -flags +ildct+ilme -x264-params interlaced=1:open_gop=1"},
     {}, repairrun::Sync, 360, 99},
    {"avc_pcm_cut_picture", pcmChunks("pcm_cut_picture.mov", "testsrc2", 440, 4),
     pcmChunks("pcm_cut_picture_ref.mov", "mandelbrot", 880, 3), repairrun::SoundTimed, 0, 100, 100, 0.6},
    {"avc_vfr_reference", avc("avc_aac.mp4", kAac),
     avc("avc_aac_vfr.mp4", kAac + std::string("-vf \"setpts='if(eq(N,0),0,PTS+2/TB)'\" -fps_mode vfr")),
     repairrun::Timed, 0, 99, 0},
    // Timed by their sound: at the reference's rate the pictures lasted 60%
    // of their time.
    {"avc_dropped_pictures", aac("avc_aac_dropped.mp4", "testsrc2", 6, 440, 48000, kDropped), {},
     repairrun::Timed | repairrun::SoundTimed | Clean},
    {"avc_mp3_tiny_picture_cue", {"analysers/h264/media/mp3_tiny_picture_cue.mov"},
     {"analysers/h264/media/mp3_tiny_picture_cue_ref.mov"}, Counts},
    // ffmpeg writes the first chunk of 5.1 sound at 22 kHz ahead of the
    // pictures: between the chunks of pictures lies a chunk of sound less
    // than they last, and every measure of the sound agrees on pictures 9%
    // shorter. With a steady reference too short to tell, the pictures
    // keep its rate.
    {"avc_sound_chunk_ahead_keeps_steady_rate", {"avc_aac51_22k_sound_ahead_8s.mov", kSoundAhead + "8"},
     {"avc_aac51_22k_sound_ahead_3s.mov", kSoundAhead + "3"}, repairrun::Timed, 0, 100, 0},
    // Two 5.1 tracks of noise in ffmpeg's interleave: five bytes into a
    // frame of the 96 kHz track, a "picture" of 75 bytes naming PPS 4 (the
    // avcC holds PPS 0 only) took that frame and the 48 kHz frame behind it.
    {"avc_aac51_two_rates_chance_pps",
     {"avc_aac51_two_rates_noise.mp4",
      "-f lavfi -i testsrc2=s=176x256:r=60:d=6 -f lavfi -i "
      "anoisesrc=d=6:r=48000:a=0.2:seed=1392161624,aformat=channel_layouts=5.1 -f lavfi -i "
      "anoisesrc=d=6:r=96000:a=0.2:seed=1392161625,aformat=channel_layouts=5.1 -map 0:v -map 1:a -map 2:a -c:v "
      "libx264 -preset veryfast -pix_fmt yuv420p -profile:v high -bf 3 -g 26 -x264-params "
      "cabac=0:slices=3:open_gop=0 -c:a:0 aac -b:a:0 96k -c:a:1 aac -b:a:1 128k -t 6"},
     {}, repairrun::TracksExact | Clean},
    // Phones' recordings of a still, silent scene (see media/README.md):
    // nearly every picture is one slice of 8 to 19 bytes between AAC frames
    // of 4 to 8. Such a picture was taken for sound, or not searched for at
    // all, and up to 92% of them were lost.
    {"avc_still_scene_phone_black", {"analysers/h264/media/silent_black_10s.mp4"}, {}, repairrun::Identical | Clean},
    {"avc_still_scene_phone_edit_list", {"analysers/h264/media/edit_list_positive_shift.mp4"}, {},
     repairrun::Identical | Clean},
    // Cut off 17 bytes behind the start of its last picture, which the scan
    // never looked at: it left the last 32 bytes of its input alone.
    {"avc_still_scene_phone_cut", {"analysers/h264/media/edit_list_positive_shift.mp4"}, {}, Clean, 0, 100,
     100, 0.6},
    // 388 bytes into an AAC frame lie what reads as a whole picture of one
    // 40 KB slice, which swallowed the 12 pictures and 20 frames behind it.
    {"avc_chance_slice_in_aac", {"analysers/h264/media/chance_slice_in_aac.mp4"}, {}, Order | Clean},
    // A still scene with loud PCM between its pictures, repaired with a
    // reference of a moving one, whose pictures are never that short: 1
    // picture of 300 came back.
    {"avc_still_scene_pcm_noise",
     {"avc_still_scene_pcm_noise.mov",
      "-f lavfi -i color=black:size=640x360:rate=30 -f lavfi -i anoisesrc=r=48000:a=0.5:seed=7 -frames:v 300 -t 10.5 "
      "-c:v libx264 -profile:v baseline -c:a pcm_s16le -ac 2"},
     {"avc_moving_scene_pcm_noise_ref.mov",
      "-f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi -i anoisesrc=r=48000:a=0.5:seed=8 -frames:v 90 -t 3 "
      "-c:v libx264 -profile:v baseline -c:a pcm_s16le -ac 2"},
     repairrun::Identical | Clean},
};

INSTANTIATE_TEST_SUITE_P(Ffmpeg, Avc1Recordings, ::testing::ValuesIn(kAvc1Cases), repairrun::caseName);

TEST(Avc1Repair, SoundOfACodecItCannotFollowIsLeftOut) {
    // AC-3, Apple Lossless or Opus chunks between the AAC ones, one packet
    // per chunk (ffmpeg's interleave) or half a second's (a camera's): the
    // AAC track comes back, and the track whose frames cannot be found is
    // not written (as an Apple Lossless track without its decoder's
    // settings, it made ffprobe refuse the whole movie). A camera's chunk
    // of the other track in front of the AAC frames hid them; standing
    // alone between two video chunks, it had the gap padded with copies.
    // In ffmpeg's interleave a gap holds one AAC frame and one of the
    // other's: a frame or two may be taken for the other's, and the gap
    // padded for it.
    struct Other {
        const char* name;
        const char* ext;
        const char* codec;
        const char* mux;
        double minVideo, minAac;
        bool timed;
    };
    for (const Other& other : {Other{"ac3", "mp4", "ac3", "", 100, 95, false}, Other{"alac", "mov", "alac", "", 100, 95, false},
                               Other{"alac_chunks", "mov", "alac", "-chunk_duration 500000", 100, 100, true},
                               Other{"opus_chunks", "mp4", "libopus", "-chunk_duration 500000", 100, 100, true}}) {
        SCOPED_TRACE(other.name);
        const std::string file = testsupport::fixture(
            std::string("avc_aac_beside_") + other.name + "." + other.ext,
            "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
            "-f lavfi -i anoisesrc=r=48000:a=0.2:seed=3 -map 0:v -map 1:a -map 2:a -c:v libx264 -pix_fmt yuv420p "
            "-g 30 -c:a:0 aac -c:a:1 " + std::string(other.codec) + " " + other.mux + " -t 4");
        const repairrun::Outcome o =
            repairrun::repair(std::string("aac_beside_") + other.name, file, repairrun::withoutIndex(file));
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_GE(o.video.percent(), other.minVideo) << o.video;
        EXPECT_GE(o.audio.percent(), other.minAac) << o.audio;
        EXPECT_TRUE(o.audio.timed() || !other.timed) << o.audio;
        EXPECT_EQ(testsupport::ffprobe(o.repaired, "-show_entries stream=codec_name -of csv=p=0"), "h264\naac\n");
        EXPECT_NE(o.log.find("the track is left out"), std::string::npos);
    }
    // AC-3 alone, its last chunks behind the last picture: they were carried
    // over as a track of three samples without a sound description.
    const std::string alone = testsupport::fixture(
        "avc_ac3.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 "
                       "-c:v libx264 -pix_fmt yuv420p -c:a ac3 -t 4");
    const repairrun::Outcome o = repairrun::repair("ac3_alone", alone, repairrun::withoutIndex(alone));
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(testsupport::ffprobe(o.repaired, "-show_entries stream=codec_name -of csv=p=0"), "h264\n");
}

TEST(Avc1Repair, PicturesOfAVaryingRateLastWhatTheirSoundDoes) {
    // Four pictures of every ten left out: at the reference's frame rate the
    // repaired pictures lasted 60% of their time, against the sound. The
    // sound between chunks of pictures times them, whole or cut, in ffmpeg's
    // interleave (a picture or two between AAC frames) and in chunks of half
    // a second that the two tracks cut at other moments. Sound cut at chunk
    // edges measures them to a few percent.
    for (const std::string mux : {"", " -chunk_duration 500000"}) {
        const std::string file = testsupport::fixture(
            "avc_aac_dropped_20s" + std::string(mux.empty() ? "" : "_chunks") + ".mp4",
            aac("", "testsrc2", 20, 440, 48000, kDropped + mux).args);
        for (const double keep : {1.0, 0.6}) {
            SCOPED_TRACE(mux + " keep " + std::to_string(keep));
            const repairrun::Outcome o = repairrun::repair("Avc1Repair.VaryingRate", file,
                                                           repairrun::withoutIndex(file, keep));
            EXPECT_EQ(o.exitCode, 0);
            EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
            EXPECT_NEAR(o.video.repaired / o.video.lasted, 1, 0.03) << o.video;
        }
    }
    // A reference of two seconds in chunks of one holds too few to tell
    // which sound times its pictures: the recording's own measures, which
    // agree, do. A reference at a steady rate (a phone's in daylight, where
    // the recording was made in the dark) tells it as well: its pictures
    // last what the sound beside them does, so the rate it gives is no
    // reason to keep that rate for a recording whose sound says otherwise.
    // So do those of a recording of five seconds, fewer chunks than a
    // reference needs to tell, where they find the pictures much slower
    // than the reference's (to a few percent: each chunk's edges weigh more).
    const std::string chunks = " -chunk_duration 500000";
    const std::string shortReference = testsupport::fixture(
        "avc_aac_dropped_2s_1s_chunks.mp4", aac("", "mandelbrot", 2, 880, 48000, kDropped + " -chunk_duration 1000000").args);
    const std::string file =
        testsupport::fixture("avc_aac_dropped_20s_chunks.mp4", aac("", "testsrc2", 20, 440, 48000, kDropped + chunks).args);
    const std::string brief =
        testsupport::fixture("avc_aac_dropped_5s_chunks.mp4", aac("", "testsrc2", 5, 440, 48000, kDropped + chunks).args);
    for (const auto& [reference, recording, error] :
         {std::tuple(shortReference, file, 0.03), std::tuple(shortReference, brief, 0.05),
          std::tuple(testsupport::fixture("avc_aac_steady_6s_chunks.mp4",
                                          aac("", "mandelbrot", 6, 880, 48000, kSteady + chunks).args),
                     file, 0.03)}) {
        SCOPED_TRACE(reference + " " + recording);
        const repairrun::Outcome o = repairrun::repair("Avc1Repair.VaryingRateOtherReference", reference,
                                                       repairrun::withoutIndex(recording), "", recording);
        EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
        EXPECT_NEAR(o.video.repaired / o.video.lasted, 1, error) << o.video;
    }
}

TEST(Avc1Repair, PicturesOfARateThatChangesKeepToTheirSound) {
    // Ten seconds at 30 pictures a second, then ten at 15 (a phone that
    // walks into the dark), in chunks of a second, repaired with a
    // reference at the steady rate. One duration for every picture put
    // them five seconds off their sound at the change; each stretch of a
    // few seconds timed by its own sound keeps them near it.
    const std::string scene = "-f lavfi -i sine=frequency=440:sample_rate=48000 -c:v libx264 -pix_fmt yuv420p -g 30 "
                              "-bf 2 -c:a aac -ac 2 -chunk_duration 1000000 ";
    const std::string file = testsupport::fixture(
        "avc_aac_30_then_15fps.mp4", "-f lavfi -i testsrc2=size=320x240:rate=30 " + scene +
                                         "-vf \"select='lt(t\\,10)+not(mod(n\\,2))'\" -fps_mode vfr -t 20");
    const std::string reference =
        testsupport::fixture("avc_aac_30fps_6s.mp4", "-f lavfi -i mandelbrot=size=320x240:rate=30 " + scene + "-t 6");
    const repairrun::Outcome o =
        repairrun::repair("Avc1Repair.RateChanges", reference, repairrun::withoutIndex(file), "", file);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_NEAR(o.video.repaired / o.video.lasted, 1, 0.03) << o.video;
    // Pictures shown around a change keep their order and their moments apart.
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
    // When each picture begins, from the first, by its checksum.
    const auto begins = [](const std::string& movie) {
        std::map<std::string, double> out;
        double at = 0;
        for (const repairrun::Packet& p : repairrun::packets(movie))
            if (p.stream == 0) {
                out.emplace(p.md5, at);
                at += p.seconds;
            }
        return out;
    };
    const auto before = begins(file), after = begins(o.repaired);
    double worst = 0;
    for (const auto& [md5, at] : after)
        if (before.count(md5))
            worst = std::max(worst, std::abs(at - before.at(md5)));
    EXPECT_LT(worst, 1.5);
}

TEST(Avc1Repair, DamageCostsOnlyTheFramesItTouches) {
    // Cut at 60 % of the payload, and a few random blocks inside it, with
    // either interleaving.
    for (const std::string mux : {"", "-chunk_duration 500000"}) {
        const std::string ref =
            movie(mux.empty() ? "avc_aac.mp4" : "avc_aac_chunk500000.mp4", kAac, mux);
        const std::vector<uint8_t> whole = withoutIndex(ref);
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() * 6 / 10));
        Outcome o = repair("Avc1Repair.Cut", ref, cut);
        EXPECT_GE(o.video.percent(), 98.0) << mux;
        EXPECT_GE(o.audio.percent(), 97.0) << mux;
        EXPECT_LT(o.video.alive, 35u);

        o = repair("Avc1Repair.Blocks", ref, withRandomBlocks(whole, 7));
        EXPECT_GE(o.video.percent(), 95.0) << mux;
        EXPECT_GE(o.audio.percent(), 95.0) << mux;
        EXPECT_LT(o.video.alive + o.audio.alive, repairrun::packets(ref).size()) << "the damage must hit something";
    }
}

TEST(Avc1Repair, AudioLostToDamageKeepsTheSoundInStep) {
    // The middle of an audio chunk of a camera-like layout overwritten: its
    // frames are gone, and the sound after them must not move earlier by
    // their length. The gap is filled with copies of the last good frame.
    const std::string ref = movie("avc_aac_chunk500000.mp4", kAac, "-chunk_duration 500000");
    std::vector<uint8_t> damaged = withoutIndex(ref);
    const std::vector<testmedia::Run> runs = testmedia::fileOrderRuns(testmedia::probePackets(ref));
    const auto audio = std::find_if(runs.begin() + 2, runs.end(), [](const testmedia::Run& r) { return r.stream == 1; });
    ASSERT_NE(audio, runs.end());
    ASSERT_LE(size_t(audio->start + audio->bytes), damaged.size());
    std::mt19937 rng(11);
    for (int64_t i = audio->start + audio->bytes / 4; i < audio->start + audio->bytes * 3 / 4; ++i)
        damaged[size_t(i)] = uint8_t(rng());

    const Outcome o = repair("Avc1Repair.LostAudio", ref, damaged);
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), 97.0);
    EXPECT_NE(o.log.find("AVC1a filled sample"), std::string::npos);
    EXPECT_LT(std::abs(streamDuration(o.repaired, "v") - streamDuration(o.repaired, "a")), 0.1);
    // The copies put in follow the video count, which places the sound to
    // within a tenth of a second (4 frames of 1024 at 48 kHz); the lost
    // run itself is three times that.
    EXPECT_LE(std::abs(long(packetCounts(o.repaired)[1]) - long(packetCounts(ref)[1])), 4);
}

TEST(Avc1Repair, TimecodeAheadOfTheFirstPicture) {
    // Moov-first QuickTime files whose timecode sample is the first chunk of
    // the media data. It says nothing about whether sound or pictures come
    // first in each cycle (read as sound first, a third of the pictures and
    // some sound went missing), and the recording's own start timecode comes
    // back, not the reference's. Pictures of testsrc's still parts are a few
    // dozen bytes, too small for the chunk search: they depend on where the
    // sound is expected.
    auto recording = [](const std::string& name, const char* timecode) {
        return testsupport::fixture(
            name, "-f lavfi -i testsrc=size=320x240:rate=25:duration=6 -f lavfi -i "
                  "sine=frequency=440:sample_rate=48000:duration=6 -c:v libx264 -g 25 -c:a aac -ac 1 -timecode " +
                      std::string(timecode) + " -movflags +faststart");
    };
    const std::string ref = recording("avc_aac_tmcd_ref.mov", "01:00:00:00");
    const std::string original = recording("avc_aac_tmcd.mov", "02:30:10:05");
    auto damaged = testsupport::readFile(original);
    const size_t moov = testsupport::findType(damaged, "moov");
    ASSERT_NE(moov, std::string::npos);
    std::copy_n("free", 4, damaged.begin() + long(moov));
    const Outcome o = repair("Avc1Repair.Timecode", ref, damaged, "", original);
    EXPECT_EQ(o.video.recovered, 150u);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_EQ(repairrun::packetCounts(o.repaired), repairrun::packetCounts(original));
    EXPECT_EQ(testsupport::ffprobe(o.repaired, "-select_streams v -show_entries stream_tags=timecode -of csv=p=0"),
              "02:30:10:05\n");
}

TEST(Avc1Repair, FragmentedRecordingWithAFragmentedReference) {
    // Browsers, OBS and some phones write fragments: each piece of media data
    // behind its own fragment header, the sample tables inside those. The
    // reference's tables come from its fragments, and the headers in the
    // recording are neither pictures nor sound.
    const std::string mux = "-movflags +frag_keyframe+empty_moov+separate_moof";
    const std::string original = movie("avc_aac_fragmented.mp4", kAac, mux);
    const std::string ref = movie("avc_aac_fragmented_ref.mp4", kAac, mux + " -t 1.2 -vf hflip");
    auto damaged = testsupport::readFile(original);
    damaged.resize(damaged.size() * 6 / 10);
    const Outcome o = repair("Avc1Repair.Fragmented", ref, damaged, "", original);
    EXPECT_GT(o.video.alive, 20u);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.audio.recovered, o.audio.alive);
    EXPECT_EQ(repairrun::packetCounts(o.repaired)[1], o.audio.alive) << "no sound made of fragment headers";
}

TEST(Avc1Repair, NoCompositionOffsetsMeansNoCttsAtAll) {
    // -noctts: every frame shown at its decode time, and no ctts box, even
    // though the frames' order counts would give offsets.
    const std::string ref = movie("avc_aac.mp4", kAac);
    const Outcome o = repair("Avc1Repair.NoCtts", ref, withoutIndex(ref), "-noctts");
    EXPECT_GE(o.video.percent(), 99.0);
    const auto repaired = testsupport::readFile(o.repaired);
    const size_t moov = testsupport::findType(repaired, "moov");
    ASSERT_NE(moov, std::string::npos);
    EXPECT_EQ(testsupport::findType(repaired, "ctts", moov), std::string::npos);
    EXPECT_NE(testsupport::findType(testsupport::readFile(ref), "ctts"), std::string::npos) << "the original has B-frames";
    for (const auto& p : repairrun::packets(o.repaired)) {
        if (p.stream == 0) {
            EXPECT_EQ(p.pts, p.dts);
        }
    }
}

// x264's High, High 10 and High 4:2:2 records end in the chroma format and
// bit depths; a record cut before them is still readable, but it is no
// longer the recording's own, and a remux of the repair would pass the loss
// on.
TEST(Avc1Repair, HighProfileConfigurationComesBackByteForByte) {
    auto extradata = [](const std::string& file) {
        return testsupport::ffprobe(file, "-select_streams v -show_entries stream=extradata -show_data -of default=nw=1");
    };
    for (const char* pixFmt : {"yuv420p", "yuv420p10le", "yuv422p"}) {
        const std::string args = std::string("-c:v libx264 -g 25 -pix_fmt ") + pixFmt + " " + kAac;
        const std::string original = testmedia::movie(std::string("avcc_") + pixFmt + ".mp4", args);
        const Outcome o = repair(std::string("HighAvcc_") + pixFmt, original, withoutIndex(original));
        ASSERT_EQ(o.exitCode, 0) << pixFmt;
        EXPECT_EQ(extradata(o.repaired), extradata(original)) << pixFmt;
    }
}

