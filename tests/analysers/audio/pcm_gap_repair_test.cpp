// Gaps shared with other chunks, judged by ffmpeg's packet checksums: caption
// tracks beside PCM or MP3 in camera-like chunks; two PCM rates in ffmpeg's
// interleave, whose packets are of one size (shared out by byte rate, no packet
// of either came back).

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// HEVC and one tone as two PCM tracks at 8 and 32 kHz.
repairrun::Recording twoRates(const std::string& name, const char* video, int tone, int seconds) {
    const std::string t = std::to_string(tone), d = std::to_string(seconds);
    return {name, "-f lavfi -i " + std::string(video) + "=size=320x240:rate=30:duration=" + d +
                      " -f lavfi -i sine=frequency=" + t + ":sample_rate=8000 -f lavfi -i sine=frequency=" + t +
                      ":sample_rate=32000 -map 0:v -map 1:a -map 2:a -c:v libx265 -preset ultrafast -tag:v hvc1 "
                      "-x265-params log-level=error:bframes=2 -pix_fmt yuv420p -c:a pcm_s16be -ac 2 -t " + d};
}

// HEVC and two tones an octave apart, 330 Hz in mono at 48 kHz and 660 Hz
// in stereo at 44.1 kHz: read in the other's format, each tone moves about
// as much from one value to the next.
repairrun::Recording octaveApart(const std::string& name, const char* video, int seconds) {
    const std::string d = std::to_string(seconds);
    return {name, "-f lavfi -i " + std::string(video) + "=size=240x192:rate=25:duration=" + d +
                      " -f lavfi -i sine=frequency=330:sample_rate=48000 -f lavfi -i sine=frequency=660:sample_rate=44100"
                      " -map 0:v -map 1:a -map 2:a -c:v libx265 -preset ultrafast -tag:v hvc1 -x265-params "
                      "log-level=error:bframes=1:keyint=26 -pix_fmt yuv420p10le -c:a pcm_s16be -ac:a:0 1 -ac:a:1 2 -t " + d};
}

// 10-bit H.264 beside a 440 Hz tone in stereo at 48 kHz and a 660 Hz one in
// mono at 8 kHz in chunks of 1.4 s; the reference has noise instead.
repairrun::Recording twoTonesInChunks(const std::string& name, const std::string& video, bool tones, int seconds) {
    const std::string d = std::to_string(seconds);
    const std::string a = tones ? "sine=f=440:r=48000:d=" + d : "anoisesrc=r=48000:a=0.2:seed=5:d=" + d;
    const std::string b = tones ? "sine=f=660:r=8000:d=" + d : "anoisesrc=r=8000:a=0.2:seed=6:d=" + d;
    return {name, "-f lavfi -i " + video + " -f lavfi -i " + a + ",aformat=channel_layouts=stereo -f lavfi -i " + b +
                      " -map 0:v -map 1:a -map 2:a -c:v libx264 -preset veryfast -pix_fmt yuv420p10le -profile:v "
                      "high10 -bf 2 -g 12 -x264-params cabac=1:slices=4:open_gop=1 -c:a pcm_s16be "
                      "-chunk_duration 1424000 -t " + d};
}

// A recording with captions from testmedia::captionCues(15).
repairrun::Recording withCaptions(const std::string& name, const std::string& video, int seconds, int rate,
                                  const std::string& tone, const std::string& encode) {
    const std::string d = std::to_string(seconds);
    return {name, "-f lavfi -i " + video + "=size=320x240:rate=" + std::to_string(rate) + ":duration=" + d +
                      " -f lavfi -i sine=frequency=" + tone + " -i " +
                      testsupport::quote(testmedia::captionCuesPath(15)) + " " + encode + " -t " + d};
}

const std::string kPcmCaptions = "-map 0:v -map 1:a -map 2:s -c:v libx264 -pix_fmt yuv420p -g 250 -bf 2 "
                                 "-c:a pcm_s16be -ac 2 -c:s mov_text -chunk_duration 580000";
const std::string kMp3Captions = "-map 0:v -map 1:a -map 2:s -c:v libx264 -pix_fmt yuv420p -g 25 -c:a libmp3lame "
                                 "-ac 1 -b:a 128k -c:s mov_text -chunk_duration 1661000";

}  // namespace

class PcmGapRecordings : public repairrun::Cases {};

TEST_P(PcmGapRecordings, ComeBack) {
    testmedia::captionCues(15);  // the cue file the recipes read
    repairrun::expectRepaired(GetParam());
}

using repairrun::Counts;
using repairrun::SoundTimed;

// pcm: a PCM chunk's first samples read as an empty caption, and were taken
// out of the sound. mp3: a gap holding a caption chunk alone was taken for
// damage and padded with copies of the last MP3 frame.
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, PcmGapRecordings,
    ::testing::Values(
        repairrun::Case{"pcm_caption_chunks",
                        withCaptions("pcm_caption_chunks.mov", "testsrc2", 4, 30, "440:sample_rate=32000", kPcmCaptions),
                        withCaptions("pcm_caption_chunks_ref.mov", "testsrc", 3, 30, "880:sample_rate=32000", kPcmCaptions),
                        SoundTimed},
        repairrun::Case{"mp3_caption_chunks",
                        withCaptions("mp3_caption_chunks.mp4", "testsrc2", 6, 25, "440:sample_rate=44100:duration=6",
                                     kMp3Captions),
                        withCaptions("mp3_caption_chunks_ref.mp4", "testsrc", 2, 25, "880:sample_rate=44100:duration=2",
                                     kMp3Captions),
                        SoundTimed | Counts, 0, 0},
        repairrun::Case{"pcm_two_rates", twoRates("pcm_two_rates.mov", "testsrc2", 440, 3),
                        twoRates("pcm_two_rates_ref.mov", "testsrc", 880, 2), repairrun::TracksExact, 0, 100, 0},
        // A gap of four packets, A2 A1 A2 A1: the stereo tone carried on
        // into the last mono packet by chance, which was taken for the
        // stereo track's though its sound is clearly the mono one's.
        // Integer PCM in an ISO file ('ipcm', its byte order in a 'pcmC'
        // atom): once a codec whose frames could not be found, its chunks
        // behind the last picture were carried over as a track without a
        // sound description, which players could not open.
        repairrun::Case{"ipcm_iso_file", {"analysers/audio/media/ipcm_16be.mp4"}, {},
                        repairrun::TracksExact | repairrun::Clean},
        // The last gap holds both tracks' last chunks, each ending on a
        // short packet, so their boundary lies off the blocks' grid (it was
        // left 512 bytes off, and 62 stereo packets with it); near the
        // stereo tone's crest the frame behind the boundary carries the
        // sound on about as well as the first one.
        repairrun::Case{"pcm_two_tones_short_last_packets",
                        twoTonesInChunks("pcm_two_tones_chunks.mov", "mandelbrot=s=624x224:r=50:maxiter=64,trim=duration=7",
                                         true, 7),
                        twoTonesInChunks("pcm_two_tones_chunks_ref.mov", "testsrc2=s=624x224:r=50:d=2", false, 2),
                        repairrun::TracksExact, 0, 100, 0},
        repairrun::Case{"pcm_tones_an_octave_apart", octaveApart("pcm_octave_apart.mov", "testsrc2", 5),
                        octaveApart("pcm_octave_apart_ref.mov", "testsrc", 4), repairrun::TracksExact, 0, 100, 0}),
    repairrun::caseName);
