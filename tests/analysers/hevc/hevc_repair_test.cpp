// End-to-end HEVC repairs of libx265 recordings whose index was lost, judged
// by ffmpeg: packet checksums of the repaired file against the intact
// original, counting only packets whose bytes survived the damage.

#include "platform/file.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace repairrun;
using testsupport::quote;

namespace {

// Two B-frames in a pyramid, open GOPs, two slices per picture: pictures
// shown out of decode order, leading pictures, later slice segments.
const std::string kHevc =
    "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params "
    "log-level=error:bframes=3:b-pyramid=1:open-gop=1:keyint=30:slices=2 ";

repairrun::Recording x265(const std::string& file, const std::string& picture, double seconds,
                          const std::string& settings) {
    const std::string source = picture + (picture.find('=') == std::string::npos ? "=" : ":");
    return {file, "-f lavfi -i " + source + "size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " +
                      std::to_string(seconds) + " " + kHevc + settings};
}

std::string recording(const std::string& name, const std::string& picture, double seconds,
                      const std::string& settings) {
    const repairrun::Recording r = x265(name, picture, seconds, settings);
    return testsupport::fixture(r.file, r.args);
}

// The first sample description entry of the video track, as stored.
std::string videoDescription(const std::string& file, const std::string& format) {
    const Bytes d = testsupport::readFile(file);
    const std::string s(d.begin(), d.end());
    const size_t stsd = s.find("stsd");
    const size_t at = stsd == std::string::npos ? stsd : s.find(format, stsd);
    if (at == std::string::npos || at < 4)
        return "";
    return s.substr(at - 4, testsupport::be32(&d[at - 4]));
}

// What ffprobe has to say about the container (its sample groups included).
std::string probeWarnings(const std::string& file) {
    return testsupport::runCommand("ffprobe -v warning -show_packets " + quote(file) + " 2>&1 >/dev/null").output;
}

}  // namespace

struct Reference {
    const char* name;
    const char* picture;  // lavfi source of the reference's picture
    double seconds;
};

void PrintTo(const Reference& r, std::ostream* os) { *os << r.name; }

class HevcAacRepair : public ::testing::TestWithParam<Reference> {};

// A camera-like HEVC + AAC recording whose index was lost, or cut at 60%:
// the frames in presentation order with the original's sync samples, the
// sound, a clean decode; the output's video description is the reference's,
// byte for byte (x265 puts a 2 KB SEI in its hvcC; HLG colour in a colr box). A black reference of other length does as well as one
// of another scene: only the recorder's settings count.
TEST_P(HevcAacRepair, FramesAndSoundComeBack) {
    const Reference& r = GetParam();
    const std::string mux = "-tag:v hvc1 -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc "
                            "-movflags +write_colr -c:a aac -ac 2 -b:a 96k -chunk_duration 500000";
    const std::string original = recording("hevc_aac_chunks.mp4", "testsrc2", 3, mux);
    const std::string ref = recording(std::string("hevc_aac_chunks_ref_") + r.name + ".mp4", r.picture, r.seconds, mux);
    Bytes cut = withoutIndex(original);
    cut.resize(cut.size() * 6 / 10);
    for (const Bytes& damaged : {withoutIndex(original), cut}) {
        const Outcome o = repair(std::string("HevcRepair.Aac_") + r.name, ref, damaged, "", original);
        EXPECT_GT(o.video.alive, 40u);
        EXPECT_GE(o.video.percent(), 99.0) << o.video;
        EXPECT_GE(o.audio.percent(), 97.0) << o.audio;
        EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
        // The IDR and CRA pictures, and no others, are sync samples.
        EXPECT_GE(o.video.syncs, 2u);
        EXPECT_EQ(o.video.syncAgreed, o.video.recovered);
        EXPECT_TRUE(o.video.timed()) << o.video;
        EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
        EXPECT_EQ(probeWarnings(o.repaired), "");
        const std::string description = videoDescription(o.repaired, "hvc1");
        EXPECT_GT(description.size(), 600u);
        EXPECT_NE(description.find("colr"), std::string::npos);
        EXPECT_TRUE(description == videoDescription(ref, "hvc1"));
    }
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, HevcAacRepair,
                         ::testing::Values(Reference{"scene", "mandelbrot", 2}, Reference{"black", "color=black", 1.5}),
                         [](const auto& info) { return std::string(info.param.name); });

// All-intra pictures with PCM in 1.3 s chunks: ffmpeg writes each
// chunk's sound in front of its pictures, behind a timecode sample at the
// start of the media data. The file is cut inside the second sound chunk.
// The timecode's bytes stay out of the sound (as sound they would shift
// every sample frame of the first chunk), and the sound behind the last
// pictures comes back although the cut took the pictures it goes with.
TEST(HevcPcmCut, SoundInFrontOfItsPicturesComesBack) {
    const std::string original =
        recording("hevc_pcm_audio_first.mov", "testsrc2", 3,
                  "-tag:v hev1 -x265-params log-level=error:bframes=0:keyint=1 -c:a pcm_s16be -ac 2 "
                  "-timecode 01:00:00:00 -chunk_duration 1282000");
    std::vector<testmedia::Run> sound;
    for (const testmedia::Run& r : testmedia::fileOrderRuns(testmedia::probePackets(original)))
        if (r.stream == 1)
            sound.push_back(r);
    ASSERT_GE(sound.size(), 2u);
    Bytes damaged = withoutIndex(original);
    damaged.resize(size_t(sound[1].start + sound[1].bytes / 2));
    const Outcome o = repair("HevcRepair.PcmAudioFirstCut", original, damaged, "", original);
    EXPECT_GT(o.audio.alive, 80u);
    EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
}

// Four slices per picture, cut inside the last slice of a picture: its
// whole slices are no frame, and the rest of it is no sound (as PCM it
// would lengthen the sound track by its bytes).
TEST(HevcPcmCut, PictureCutInItsLastSliceLeavesNoTrace) {
    const std::string original =
        recording("hevc_slices_pcm_cut.mov", "testsrc2", 3,
                  "-tag:v hvc1 -x265-params log-level=error:bframes=0:keyint=1:slices=4 -c:a pcm_s16le -ac 1 "
                  "-chunk_duration 1000000");
    Bytes damaged = withoutIndex(original);
    const auto packets = testmedia::probePackets(original);
    const auto picture = std::find_if(packets.begin(), packets.end(), [&](const testmedia::Packet& p) {
        return p.stream == 0 && p.pos > int64_t(damaged.size() * 6 / 10);
    });
    ASSERT_NE(picture, packets.end());
    damaged.resize(size_t(picture->pos + picture->size * 7 / 8));
    const Outcome o = repair("HevcRepair.SlicesPcmCut", original, damaged, "", original);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
    EXPECT_EQ(repairrun::packetCounts(o.repaired),
              (std::map<int, size_t>{{0, size_t(o.video.alive)}, {1, size_t(o.audio.alive)}}));
}

// Two mono AAC tracks in ffmpeg's interleave (a frame of each behind every
// pair of pictures), the file cut inside a frame of the second track that
// follows one of the first: the first track's last frame is whole, and
// comes back, although nothing the cut left decodes behind it. Cut inside
// the first slice of a pair's second picture: the first comes back.
TEST(HevcTwoAacCut, LastWholeFrameInFrontOfTheCutComesBack) {
    const std::string original = testsupport::fixture(
        "hevc_two_mono_aac.mp4", "-f lavfi -i testsrc2=size=320x240:rate=30 -f lavfi -i sine=frequency=440:sample_rate=8000 "
                                 "-f lavfi -i sine=frequency=660:sample_rate=16000 -t 5 -map 0:v -map 1:a -map 2:a " +
                                     kHevc + "-tag:v hev1 -c:a aac -ac 1 -b:a 64k");
    const Bytes whole = withoutIndex(original);
    const auto packets = testmedia::probePackets(original);
    const auto runs = testmedia::fileOrderRuns(packets);
    size_t at = 2;
    while (at < runs.size() && !(runs[at].stream == 2 && runs[at - 1].stream == 1 && runs[at - 2].stream == 0 &&
                                 runs[at].start > int64_t(whole.size() * 6 / 10)))
        ++at;
    ASSERT_LT(at, runs.size());
    const auto pair = std::find_if(packets.begin(), packets.end(), [&](const testmedia::Packet& p) {
        return p.stream == 0 && p.pos == runs[at - 2].start;
    });
    ASSERT_LT(pair + 1, packets.end());
    ASSERT_EQ((pair + 1)->stream, 0);
    for (const int64_t cut : {runs[at].start + runs[at].bytes / 2, (pair + 1)->pos + 60}) {
        SCOPED_TRACE(cut);
        const Bytes damaged(whole.begin(), whole.begin() + cut);
        const Outcome o = repair("HevcRepair.TwoAacCut", original, damaged, "", original);
        EXPECT_GT(o.audio.alive, 20u);
        EXPECT_EQ(o.audio.recovered, o.audio.alive) << o.audio;
        EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    }
}

class HevcRecordings : public repairrun::Cases {};

TEST_P(HevcRecordings, ComeBack) { repairrun::expectRepaired(GetParam()); }

namespace {

repairrun::Recording jittering(const std::string& file, int seconds) {
    return {file, "-f lavfi -i testsrc2=size=320x240:rate=50 -f lavfi -i sine=frequency=440 -t " +
                      std::to_string(seconds) + " " + kHevc +
                      "-tag:v hvc1 -vf \"settb=1/1000,setpts='(N+0.4*sin(N))/50/TB'\" -fps_mode vfr "
                      "-enc_time_base 1:1000 -frames:v " + std::to_string(50 * seconds) + " -c:a aac -b:a 96k"};
}

// A recorder that drops pictures now and then: every fourth of the first
// dozen (B pictures no other refers to) is left out as the movie is written,
// so the pictures around each gap are shown twice as long and the order
// counts skip one.
repairrun::Recording thinned(const std::string& file) {
    return {file, "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440 -t 2 -c:v libx265 "
                  "-preset ultrafast -pix_fmt yuv420p -x265-params log-level=error:bframes=3:b-adapt=0:b-pyramid=0:"
                  "keyint=50 -tag:v hvc1 -bsf:v \"noise=drop=eq(n\\,2)+eq(n\\,6)+eq(n\\,10)\" -c:a aac"};
}

repairrun::Recording silent(const std::string& file, const std::string& picture) {
    return {file, "-f lavfi -i " + picture + "=s=192x160:r=50 -t 5 -c:v libx265 -preset ultrafast -pix_fmt yuv422p10le "
                  "-x265-params log-level=error:bframes=3:open-gop=1:keyint=173:slices=4 -tag:v hev1 -an"};
}

// Groups of three pictures (a key frame and two B pictures): a 3 s
// recording ends on a P picture and a B one, a 2 s reference on a whole group.
repairrun::Recording shortGroups(const std::string& file, int seconds) {
    return {file, "-f lavfi -i testsrc2=s=192x160:r=50 -t " + std::to_string(seconds) +
                      " -c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params "
                      "log-level=error:bframes=4:b-pyramid=1:open-gop=1:keyint=3 -tag:v hvc1 -an"};
}

// Two 24-bit stereo PCM tracks, 8 and 48 kHz, in chunks of 1.8 s.
repairrun::Recording twoPcmRates(const std::string& file, const std::string& picture, const std::string& low,
                                 const std::string& high, const std::string& filter) {
    return {file, "-f lavfi -i " + picture + ":s=160x96 -f lavfi -i '" + low +
                      ",aformat=channel_layouts=stereo' -f lavfi -i '" + high +
                      ",aformat=channel_layouts=stereo' -map 0:v -map 1:a -map 2:a -t 4 " + filter +
                      "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -tag:v hev1 -x265-params "
                      "log-level=error:bframes=1:keyint=11:slices=2 -c:a pcm_s24le -chunk_duration 1804000"};
}

// Two stereo AAC tracks at 88.2 and 96 kHz on a clock of milliseconds: the
// sound stops a second before the pictures, and ffmpeg writes two frames
// of the first track, the second's last chunk, then the first's in one gap.
repairrun::Recording aacRatesStoppingEarly(const std::string& file, const std::string& picture, int seed,
                                           const std::string& seconds) {
    auto noise = [&](const char* rate, int n) {
        return " -f lavfi -i anoisesrc=r=" + std::string(rate) + ":a=0.2:seed=" + std::to_string(seed + n) +
               ",aformat=channel_layouts=stereo";
    };
    return {file, "-f lavfi -i " + picture + "=s=320x240:r=50" + noise("88200", 0) + noise("96000", 1) +
                      " -map 0:v -map 1:a -map 2:a -vf \"settb=1/1000,setpts='(N+0.4*sin(N))/50/TB'\" "
                      "-fps_mode vfr -enc_time_base 1:1000 -c:v libx265 -preset ultrafast -pix_fmt yuv420p "
                      "-tag:v hvc1 -x265-params log-level=error:bframes=0:keyint=83 -c:a aac -b:a:0 256k "
                      "-b:a:1 128k -chunk_duration 712000 -t " + seconds};
}

// Silence at 48 kHz and noise at 96 kHz beside a reference held on its
// first picture, whose gaps hold two chunks of each track: noise makes
// chance "pictures" of hundreds of KB, off the tracks' sample frames.
const std::string kNoiseBesideSilence =
    "-map 0:v -map 1:a -map 2:a -c:v libx265 -preset ultrafast -pix_fmt yuv422p10le -tag:v hev1 "
    "-x265-params bframes=2:b-pyramid=0:open-gop=0:keyint=191:slices=3:log-level=error "
    "-c:a pcm_s24le -chunk_duration 1771000";

std::string longSps() {
    return "-tag:v hvc1 -x265-params log-level=error:bframes=3:keyint=30:scaling-list=" + testmedia::x265ScalingLists() +
           " -c:a aac -b:a 96k";
}

}  // namespace

// pcm*: every packet comes back and nothing else ('in24' in camera chunks,
// 'sowt' in ffmpeg's interleave).
// jitter: a phone's 50 fps clock; in the 2 s reference the commonest duration
// happens to be twice one several frames have, which is jitter, not held frames.
// long_sps: x265's scaling lists make a 1.6 KB SPS, kept in the hvcC only; cut,
// it describes nothing and no picture is found.
// chance_frame: AAC decodes a chance frame inside a picture too small for the
// chunk search (the 29th); the gap's search must pass over it.
// thinned: pictures the recorder left out keep their time, also when cut.
// ends_on_p: a reference with nothing but B pictures between its key frames.
// pcm24_two_rates_still: the second picture is 37 bytes between two packets.
// pcm24_two_rates_held_ref: the reference's first picture is held 2 s, so all
// its sound lies in its first gap; the recording's gaps hold a chunk of each.
// no_sound: a slow zoom's B pictures of 60-odd bytes, which the chunk search
// steps over, lie between two pieces of one chunk.
// zoom_pcm: B pictures of 74 bytes in four slices alone between mono PCM packets.
// pcm24_noise_chance_pictures: a "picture" that would leave the noise in
// front of it off its sample frames is none.
// silent_aac_tiny_pictures: digital silence (frames of 6 bytes) beside a
// reference of sound, in ffmpeg's interleave at 50 fps: behind each key
// picture a gap holds a frame, a B picture of 66 bytes in four slices and
// another frame. The frames are smaller than any of the reference's, so
// only the picture behind them makes them audio. (The first second of an
// x265 recording that came out this way once; x265 does not always size its
// pictures alike.)
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, HevcRecordings,
    ::testing::Values(
        repairrun::Case{"hevc_pcm24_chunks",
                        x265("hevc_pcm24_chunks.mov", "testsrc2", 2,
                             "-tag:v hev1 -c:a pcm_s24le -ac 2 -chunk_duration 400000"),
                        {}, Order | Counts | Clean, 50},
        repairrun::Case{"hevc_pcm16le", x265("hevc_pcm16le.mov", "testsrc2", 2, "-tag:v hvc1 -c:a pcm_s16le -ac 1"), {},
                        Order | Counts | Clean, 50},
        repairrun::Case{"hevc_jitter", jittering("hevc_jitter.mp4", 4), jittering("hevc_jitter_ref.mp4", 2),
                        repairrun::Timed, 0, 100, 0},
        repairrun::Case{"hevc_long_sps", x265("hevc_long_sps.mp4", "testsrc2", 2, longSps()),
                        x265("hevc_long_sps_ref.mp4", "mandelbrot", 2, longSps()), 0, 50, 100, 97},
        repairrun::Case{
            "hevc_chance_frame",
            {"hevc_aac_chirp.mp4",
             "-filter_threads 1 -f lavfi -i testsrc2=s=640x360:r=25 -f lavfi -i "
             "'aevalsrc=0.3*sin(2*PI*(821+27*t)*t)+0.05*sin(2*PI*2053*t)|0.3*sin(2*PI*(381+18*t)*t)+0.05*sin(2*PI*2967*t)"
             ":s=44100:c=stereo' -map 0:v -map 1:a -t 12 -threads 2 -vf noise=alls=8:allf=t:all_seed=5687 "
             "-c:v libx265 -preset ultrafast -tag:v hvc1 -x265-params "
             "log-level=error:keyint=25:min-keyint=25:scenecut=0:bframes=3:pools=2:frame-threads=2 -crf 22 "
             "-pix_fmt yuv420p -c:a aac -b:a 96k"},
            {}, 0, 300},
        repairrun::Case{"hevc_thinned", thinned("hevc_thinned.mp4"), {}, Counts | Clean | repairrun::Timed, 47},
        repairrun::Case{"hevc_thinned_cut", thinned("hevc_thinned.mp4"), {}, Clean | repairrun::Timed, 0, 100, 97, 0.6},
        repairrun::Case{"hevc_no_sound", silent("hevc_zoom_silent.mov", "mandelbrot"),
                        silent("hevc_pattern_silent.mov", "testsrc2"), Clean, 250},
        repairrun::Case{"hevc_ends_on_p", shortGroups("hevc_short_groups.mov", 3),
                        shortGroups("hevc_short_groups_ref.mov", 2), Clean, 150},
        repairrun::Case{"hevc_pcm24_two_rates_still",
                        {"hevc_pcm24_two_rates_still.mov",
                         "-f lavfi -i mandelbrot=s=272x192:r=60:maxiter=64 -f lavfi -i sine=frequency=330:sample_rate=8000 "
                         "-f lavfi -i 'sine=frequency=661.7:sample_rate=96000,aformat=channel_layouts=stereo' "
                         "-map 0:v -map 1:a -map 2:a -t 3 -c:v libx265 -preset ultrafast -pix_fmt yuv420p -tag:v hvc1 "
                         "-x265-params bframes=0:open-gop=0:keyint=34:slices=2:log-level=error -c:a pcm_s24be"},
                        {}, Clean, 180, 100, 0},
        repairrun::Case{"hevc_pcm24_two_rates_held_ref",
                        twoPcmRates("hevc_two_pcm24_rates.mov", "testsrc2=r=60", "anoisesrc=r=8000:a=0.2:seed=5",
                                    "sine=frequency=660:sample_rate=48000", ""),
                        twoPcmRates("hevc_two_pcm24_rates_held_ref.mov", "mandelbrot=r=60:maxiter=64",
                                    "sine=frequency=440:sample_rate=8000", "anoisesrc=r=48000:a=0.2:seed=6",
                                    "-vf \"setpts='if(eq(N,0),0,PTS+2/TB)'\" -fps_mode vfr "),
                        Counts | repairrun::SoundExact | repairrun::SoundTimed},
        repairrun::Case{"hevc_aac_rates_stopping_early",
                        aacRatesStoppingEarly("hevc_aac_rates_stop.mov", "testsrc2", 41, "7"),
                        aacRatesStoppingEarly("hevc_aac_rates_stop_ref.mov", "mandelbrot", 43, "5"),
                        Counts | repairrun::SoundExact | repairrun::TracksExact},
        repairrun::Case{"hevc_zoom_pcm",
                        {"hevc_zoom_pcm16le.mov",
                         "-f lavfi -i mandelbrot=s=448x240:r=50:maxiter=64 -f lavfi -i sine=f=330:r=44100 "
                         "-map 0:v -map 1:a -t 3 -c:v libx265 -preset ultrafast -pix_fmt yuv420p -tag:v hev1 "
                         "-x265-params bframes=1:b-pyramid=1:open-gop=1:keyint=3:slices=4:log-level=error "
                         "-c:a pcm_s16le"},
                        {}, Counts | Clean, 150},
        repairrun::Case{"hevc_silent_aac_tiny_pictures", {"analysers/hevc/media/silent_aac_tiny_pictures.mp4"},
                        {"analysers/hevc/media/silent_aac_tiny_pictures_ref.mp4"}, Order | repairrun::SoundTimed},
        repairrun::Case{"hevc_pcm24_noise_chance_pictures",
                        {"hevc_pcm24_noise_chance_pictures.mov",
                         "-f lavfi -i mandelbrot=s=288x208:r=25:maxiter=64,trim=duration=5 "
                         "-f lavfi -i anullsrc=r=48000:cl=stereo "
                         "-f lavfi -i anoisesrc=d=5:r=96000:a=0.2:seed=768342458,aformat=channel_layouts=stereo " +
                             kNoiseBesideSilence + " -t 5"},
                        {"hevc_pcm24_noise_chance_pictures_ref.mov",
                         "-f lavfi -i mandelbrot=s=288x208:r=25:maxiter=64,trim=duration=4 "
                         "-f lavfi -i anoisesrc=d=4:r=48000:a=0.2:seed=2657874495,aformat=channel_layouts=stereo "
                         "-f lavfi -i sine=f=880:r=96000:d=4,aformat=channel_layouts=stereo " +
                             kNoiseBesideSilence + " -vf \"setpts='if(eq(N,0),0,PTS+2/TB)'\" -fps_mode vfr -t 4"},
                        Counts | Clean | repairrun::TracksExact}),
    repairrun::caseName);

// A main and a preview track in one format with the same parameter set ids
// (a camera's proxy, a motion photo): the first video track and the sound
// come back whole, the preview's pictures stay out of both. HEVC pictures
// tell by their slices' entry points; H.264 ones only by their place
// behind each main picture.
class TwoVideoTracks : public ::testing::TestWithParam<const char*> {};

TEST_P(TwoVideoTracks, FirstTrackComesBackAlone) {
    const std::string codec = GetParam();
    const std::string encode = codec == "hevc"
                                   ? "-c:v libx265 -preset ultrafast -x265-params log-level=error -tag:v hvc1"
                                   : "-c:v libx264 -preset ultrafast";
    auto twoTracks = [&](const std::string& name, const std::string& picture) {
        return testsupport::fixture(
            name, "-f lavfi -i " + picture + " -f lavfi -i sine=frequency=440 -t 3 "
                  "-filter_complex '[0:v]split[a][b];[b]scale=320:180[p]' -map '[a]' -map '[p]' -map 1:a " +
                      encode + " -c:a aac -b:a 96k");
    };
    const std::string original = twoTracks(codec + "_two_video.mp4", "testsrc2=size=640x360:rate=25");
    const std::string ref =
        twoTracks(codec + "_two_video_ref.mp4", "testsrc2=size=640x360:rate=25:duration=2,hue=h=120");
    const Outcome o = repair("HevcRepair.TwoVideoTracks_" + codec, ref, withoutIndex(original), "", original);
    // Packet checksums of ffmpeg's default streams: the first video track
    // and the sound.
    const auto sums = repairrun::checksums;
    EXPECT_EQ(sums(original, 0).size(), 75u);
    EXPECT_TRUE(sums(o.repaired, 0) == sums(original, 0));
    EXPECT_GT(sums(original, 1).size(), 100u);
    EXPECT_TRUE(sums(o.repaired, 1) == sums(original, 1));
    EXPECT_EQ(testmedia::probeStreams(o.repaired).size(), 2u);
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
    EXPECT_NE(o.log.find("skipped video track 2 ("), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, TwoVideoTracks, ::testing::Values("hevc", "h264"),
                         [](const auto& info) { return std::string(info.param); });

// A recording cut at 60% whose last chunk stands behind AAC that ends in
// the bytes 00 00 07: read three bytes early, "00 00 07 00" is a unit of
// 1,792 bytes that runs over the chunk's first picture into the second. The
// true start's chunk measures one picture only (the one behind it is
// followed by the picture the cut left), so unit counts cannot tell them
// apart; the early read claims more than the picture it swallows.
TEST(HevcEarlyLength, LastChunkInFrontOfTheCut) {
    const std::string x265 =
        " -map 0:v -map 1:a -c:v libx265 -preset ultrafast -pix_fmt yuv420p -tag:v hvc1 -x265-params "
        "bframes=3:b-pyramid=1:open-gop=1:keyint=163:slices=1:log-level=error -c:a:0 aac -b:a:0 256k "
        "-chunk_duration 149000 -t ";
    const std::string original = testsupport::fixture(
        "hevc_early_length.mov", "-f lavfi -i mandelbrot=s=272x208:r=30:maxiter=64,trim=duration=6 -f lavfi -i "
                                 "sine=f=550:r=16000:d=6,aformat=channel_layouts=stereo" + x265 + "6");
    const std::string reference = testsupport::fixture(
        "hevc_early_length_ref.mov", "-f lavfi -i testsrc2=s=272x208:r=30:d=3 -f lavfi -i "
                                     "anoisesrc=d=3:r=16000:a=0.2:seed=517040045,aformat=channel_layouts=stereo" +
                                         x265 + "3");
    const Outcome o = repair("HevcRepair.EarlyLength", reference, withoutIndex(original, 0.6), "", original);
    EXPECT_GT(o.video.alive, 100u);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
}

// A reference whose decoder configuration says NAL units carry lengths the
// scan does not read (both codecs allow 1, 2 or 4 bytes; H.264 is read with
// 4 and 2, HEVC with 4): the repair says so and writes nothing, rather than
// an output whose configuration misdescribes every sample.
TEST(ShortNalLengths, ReferenceIsRefusedWithReason) {
    struct Case {
        std::string original, box, label;
        size_t lengthByte;  // offset of lengthSizeMinusOne behind the box type
        uint8_t lengthSizeMinusOne;
    };
    for (const Case& c : {Case{testmedia::hevcAacMp4(), "hvcC", "HEVC", 21, 1},
                          Case{testmedia::h264AacMp4(), "avcC", "AVC1", 4, 0}}) {
        Bytes ref = testsupport::readFile(c.original);
        const size_t box = testsupport::findType(ref, c.box.c_str());
        ASSERT_NE(box, std::string::npos);
        uint8_t& length = ref[box + 4 + c.lengthByte];
        length = uint8_t((length & 0xFC) | c.lengthSizeMinusOne);
        const std::string test = "HevcRepair.ShortNalLengths" + c.label;
        const std::string patched = testsupport::writeScratch(test + "Ref", "reference.mp4", ref);
        const Outcome o = repair(test, patched, withoutIndex(c.original), "", c.original);
        EXPECT_NE(o.exitCode, 0);
        const std::string bytes = std::to_string(c.lengthSizeMinusOne + 1);
        EXPECT_NE(o.log.find(c.label + " chunk scanner: skipped (the reference's NAL units have " + bytes +
                             "-byte lengths"),
                  std::string::npos)
            << c.label;
        EXPECT_EQ(platform::fileSize(o.repaired), -1) << c.label;
    }
}
