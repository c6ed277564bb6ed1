// A quick slice of the recording matrix (bench/h264_matrix.py --quick runs
// the same settings): H.264 settings, sound formats, containers and
// interleaves that real recorders use, each cut before its index and at 60%
// of its payload, repaired with a reference of the same settings but other
// content and length, and judged per track from outside with ffmpeg.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <sstream>

using testsupport::quote;

namespace {

constexpr double kMinVideoRecall = 99.0, kMinAudioRecall = 97.0;
// A track must last what its recovered packets lasted in the original, to
// 1% or one typical packet (a short clip cut mid-frame may keep the partial
// frame at the cut).
constexpr double kMaxDurationError = 0.01;
// A caption chunk is timed by the reference's cue and pause lengths, and
// by where it lies between the others where those drift: a cue may show
// this many seconds off its moment.
constexpr double kMaxCueShift = 0.25;

struct Sound {
    std::string original, reference;
};

// lavfi sources: a tone, and noise of a fixed seed, in the given channel layout.
std::string layout(const char* l) { return *l ? std::string(",aformat=channel_layouts=") + l : ""; }
std::string sine(double hz, int rate, const char* l = "") {
    std::ostringstream s;
    s << "sine=frequency=" << hz << ":sample_rate=" << rate << layout(l);
    return s.str();
}
std::string noise(int rate, int seed, const char* l = "") {
    return "anoisesrc=r=" + std::to_string(rate) + ":a=0.2:seed=" + std::to_string(seed) + layout(l);
}

struct Recording {
    const char* name;
    const char* ext;
    const char* size;
    const char* video;  // x264 settings
    std::vector<Sound> audio;
    const char* encode;  // audio encoders and muxer options
    bool captions;       // a timed text track between the chunks
    int seconds = 4;     // the original's length (the reference's is 3 s)
};

void PrintTo(const Recording& r, std::ostream* os) { *os << r.name; }

enum class Damage { NoIndex, Cut60 };

using Case = std::tuple<Recording, Damage>;

const char* nameOf(Damage d) { return d == Damage::NoIndex ? "nomoov" : "trunc60"; }

void PrintTo(Damage d, std::ostream* os) { *os << nameOf(d); }

std::string record(const Recording& r, bool original) {
    std::string args = "-f lavfi -i " + std::string(original ? "testsrc2" : "mandelbrot") + "=size=" + r.size +
                       ":rate=25" + (original ? "" : ":maxiter=64");
    std::string maps = " -map 0:v";
    int input = 1;
    for (const Sound& s : r.audio) {
        args += std::string(" -f lavfi -i ") + (original ? s.original : s.reference);
        maps += " -map " + std::to_string(input++) + ":a";
    }
    if (r.captions) {
        args += " -i " + quote(testmedia::captionCues(12, true));
        maps += " -map " + std::to_string(input) + ":s -c:s mov_text";
    }
    return testsupport::fixture(std::string("matrix_") + r.name + (original ? "" : "_ref") + "." + r.ext,
                                args + maps + " -c:v libx264 -preset veryfast " + r.video + " " + r.encode +
                                    " -t " + (original ? std::to_string(r.seconds) : "3"));
}

using testsupport::fields;
using testsupport::number;

struct Packet {
    int64_t pos = -1, size = 0, dts = -1, duration = -1;
    std::string md5;
};

struct Track {
    bool video = false;
    double timeBase = 0;
    std::vector<Packet> packets;  // in decode order

    // What the packets last on the track's timeline: up to the next decode
    // time (variable rates leave packet durations out), the last what the
    // file says or the typical step.
    std::vector<int64_t> durations() const {
        std::vector<int64_t> d;
        for (size_t i = 0; i + 1 < packets.size(); ++i)
            d.push_back(packets[i + 1].dts - packets[i].dts);
        std::vector<int64_t> sorted = d;
        std::sort(sorted.begin(), sorted.end());
        if (!packets.empty())
            d.push_back(packets.back().duration >= 0 ? packets.back().duration
                                                     : sorted.empty() ? 0 : sorted[sorted.size() / 2]);
        return d;
    }
};

// The video and audio tracks of a file, in the file's order, video first.
std::vector<Track> tracks(const std::string& file) {
    std::map<int, Track> byIndex;
    std::vector<int> order;
    for (auto stream : testmedia::probeStreams(file)) {
        if (stream["codec_type"] != "video" && stream["codec_type"] != "audio")
            continue;
        Track& t = byIndex[int(number(stream["index"]))];
        t.video = stream["codec_type"] == "video";
        const std::string& tb = stream["time_base"];
        const auto slash = tb.find('/');
        t.timeBase = slash == std::string::npos ? 0 : std::stod(tb.substr(0, slash)) / std::stod(tb.substr(slash + 1));
    }
    for (const auto& [index, t] : byIndex)
        if (t.video)
            order.push_back(index);
    for (const auto& [index, t] : byIndex)
        if (!t.video)
            order.push_back(index);
    for (const testmedia::Packet& p : testmedia::probePackets(file))
        if (byIndex.count(p.stream))
            byIndex[p.stream].packets.push_back({p.pos, p.size, p.dts, p.duration, ""});
    // framemd5 numbers the mapped streams afresh, in the order just built.
    std::map<int, size_t> next;
    for (const std::string& line : testsupport::framemd5(file, "", "-map 0:v -map 0:a? -copyinkf")) {
        const auto f = fields(line);
        if (f.size() < 6 || number(f[0]) < 0 || size_t(number(f[0])) >= order.size())
            continue;
        const size_t k = size_t(number(f[0]));
        Track& t = byIndex[order[k]];
        if (next[k] < t.packets.size())
            t.packets[next[k]++].md5 = f[5];
    }
    std::vector<Track> out;
    for (int index : order)
        out.push_back(byIndex[index]);
    return out;
}

int decoderErrors(const std::string& file) {
    const std::string command = "ffmpeg -nostdin -v error -i " + quote(file) + " -map 0:v -map 0:a? -f null -";
    return int(testsupport::lines(testsupport::runCommand(command, true).output).size());
}

// How one original track fared: surviving packets found in the repaired
// track, and how far the repaired track's length is from what the found
// packets lasted in the original.
struct Verdict {
    size_t alive = 0, found = 0;
    double durationError = 2;  // in units of the allowed error
    double recall() const { return alive ? 100.0 * double(found) / double(alive) : 100.0; }
};

Verdict judge(const Track& original, size_t cut, const Track* repaired) {
    Verdict v;
    std::multiset<std::string> present;
    int64_t repairedTicks = 0;
    if (repaired) {
        for (const Packet& p : repaired->packets)
            if (!p.md5.empty())
                present.insert(p.md5);
        for (int64_t d : repaired->durations())
            repairedTicks += d;
    }
    const auto durations = original.durations();
    int64_t foundTicks = 0;
    for (size_t i = 0; i < original.packets.size(); ++i) {
        const Packet& p = original.packets[i];
        if (p.pos < 0 || size_t(p.pos + p.size) > cut)
            continue;
        ++v.alive;
        if (present.count(p.md5)) {
            ++v.found;
            foundTicks += durations[i];
        }
    }
    if (repaired && foundTicks > 0) {
        const double lasted = double(foundTicks) * original.timeBase;
        auto typical = durations;
        std::sort(typical.begin(), typical.end());
        const double slack = std::max(kMaxDurationError * lasted, double(typical[typical.size() / 2]) * original.timeBase);
        v.durationError = std::abs(double(repairedTicks) * repaired->timeBase - lasted) / slack;
    }
    return v;
}

// The caption track's cues as a player shows them; with `cut`, only those
// whose samples lie wholly in front of it.
std::vector<testmedia::Cue> cues(const std::string& file, size_t cut = SIZE_MAX) {
    std::vector<testmedia::Cue> out = testmedia::shownCues(file);
    const auto streams = testmedia::probeStreams(file);
    size_t alive = 0;
    for (const testmedia::Packet& p : testmedia::probePackets(file))
        // Two bytes are an empty sample: the pause between two cues.
        alive += streams.at(size_t(p.stream)).at("codec_type") == "subtitle" && p.size > 2 && p.pos >= 0 &&
                 size_t(p.size + p.pos) <= cut;
    out.resize(std::min(out.size(), alive));
    return out;
}

// How many packets of `b` hold a packet of `a` and none of `besides`.
size_t shared(const Track& a, const Track& b, const Track* besides = nullptr) {
    std::set<std::string> md5s, excluded;
    for (size_t i = 0; besides && i < besides->packets.size(); ++i)
        excluded.insert(besides->packets[i].md5);
    for (const Packet& p : a.packets)
        if (!excluded.count(p.md5))
            md5s.insert(p.md5);
    return size_t(std::count_if(b.packets.begin(), b.packets.end(), [&](const Packet& p) { return md5s.count(p.md5); }));
}

}  // namespace

class RecordingMatrix : public ::testing::TestWithParam<Case> {};

// Each original track is matched with the repaired track of its kind that
// holds most of its packets (no two share one), so two sound tracks mixed
// into one, or one left empty, fail.
TEST_P(RecordingMatrix, SurvivingPacketsComeBackAtTheirLength) {
    const auto& [rec, damage] = GetParam();
    const std::string original = record(rec, true), reference = record(rec, false);
    const std::string dir = testsupport::scratchDir(std::string("RecordingMatrix_") + rec.name + "_" + nameOf(damage));
    const std::string input = dir + "/damaged." + rec.ext, output = dir + "/repaired." + rec.ext;
    const std::vector<uint8_t> bytes = repairrun::withoutIndex(original, damage == Damage::NoIndex ? 1 : 0.6);
    ASSERT_TRUE(testsupport::writeFile(input, bytes));
    const auto run = testsupport::runFramend("-i " + quote(input) + " -ref " + quote(reference) + " -o " + quote(output));
    EXPECT_EQ(run.exitCode, 0);

    const std::vector<Track> before = tracks(original), after = tracks(output);
    ASSERT_EQ(before.size(), 1 + rec.audio.size()) << "the recording has its video and sound";
    std::set<size_t> taken;
    for (size_t i = 0; i < before.size(); ++i) {
        const Track* best = nullptr;
        size_t bestShared = 0, bestIndex = 0;
        for (size_t k = 0; k < after.size(); ++k) {
            const size_t n = after[k].video == before[i].video && !taken.count(k) ? shared(before[i], after[k]) : 0;
            if (n > bestShared)
                best = &after[k], bestShared = n, bestIndex = k;
        }
        if (best)
            taken.insert(bestIndex);
        const Verdict v = judge(before[i], bytes.size(), best);
        const std::string track = before[i].video ? "video" : "audio track " + std::to_string(i);
        ASSERT_GT(v.alive, 0u) << track << ": the damage must leave something";
        EXPECT_GE(v.recall(), before[i].video ? kMinVideoRecall : kMinAudioRecall)
            << track << ": " << v.found << " of " << v.alive << " surviving packets";
        EXPECT_LE(v.durationError, 1.0 + 1e-6) << track << ": length off by this many times the allowed error";
        // A rate above what a sound description holds (88.2 kHz) is told by
        // the media timescale alone: the repaired track keeps that clock.
        if (best && !before[i].video) {
            EXPECT_DOUBLE_EQ(best->timeBase, before[i].timeBase) << track << ": time base";
        }
        // A frame of one sound track given to another (a frame both
        // tracks' decoders take) is a wrong sound, whatever the counts say.
        for (size_t other = 1; best && !before[i].video && other < before.size(); ++other) {
            if (other == i)
                continue;
            EXPECT_EQ(shared(before[other], *best, &before[i]), 0u) << track << ": packets of audio track " << other;
        }
    }
    EXPECT_LE(decoderErrors(output), decoderErrors(original));
    if (!rec.captions)
        return;
    // Every surviving cue comes back in order, near its moment: a chunk
    // of captions taken for one sample shows only its first, and samples
    // given one fixed length drift further off with every cue.
    const std::vector<testmedia::Cue> expected = cues(original, bytes.size()), got = cues(output);
    ASSERT_GT(expected.size(), 1u);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].text, expected[i].text);
        EXPECT_NEAR(got[i].start, expected[i].start, kMaxCueShift) << expected[i].text;
    }
}

// One short recording per axis: bit depth, interlacing, chroma, entropy coder,
// GOP length, frame rate, PCM depth, MP3, several tracks, captions, chunking;
// and a reference whose sound is digital silence for a recording with sound.
const std::vector<Recording> kRecordings = {
    {"high10_interlaced", "mp4", "320x224",
     "-profile:v high10 -pix_fmt yuv420p10le -bf 3 -g 120 -flags +ildct+ilme -x264-params "
     "cabac=1:slices=1:open_gop=1:interlaced=1",
     {{sine(440, 48000, "mono"), noise(48000, 1, "mono")}}, "-c:a aac -b:a 64k", false},
    {"high422_intra_aac96k", "mov", "320x240",
     "-profile:v high422 -pix_fmt yuv422p -g 1 -x264-params cabac=1:slices=4",
     {{noise(96000, 2), sine(880, 96000)}}, "-c:a aac -b:a 128k -chunk_duration 2000000", false},
    {"baseline_aac_mono", "mp4", "320x240", "-profile:v baseline -pix_fmt yuv420p -g 50",
     {{noise(44100, 3, "mono"), sine(880, 44100, "mono")}}, "-c:a aac -b:a 32k -chunk_duration 1000000", true},
    {"main_cavlc_pcm24be", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50 -x264-params cabac=0",
     {{sine(440, 48000), noise(48000, 4)}}, "-c:a pcm_s24be -ac 2 -chunk_duration 500000", false},
    {"high_gop250_mp3", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 3 -g 250",
     {{sine(440, 44100), noise(44100, 5)}}, "-c:a libmp3lame -b:a 128k -ac 2 -chunk_duration 1000000", false},
    {"vfr_timecode", "mov", "320x240",
     "-profile:v high -pix_fmt yuv420p -bf 2 -g 50 -vf settb=1/1000,setpts='(N+0.4*sin(N))/25/TB' -fps_mode vfr "
     "-enc_time_base 1:1000",
     {}, "-timecode 01:00:00:00", false},
    {"two_aac_captions", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{"anullsrc=r=48000:cl=stereo", noise(48000, 6, "stereo")},
      {sine(660, 44100, "mono"), noise(44100, 7, "mono")}},
     "-c:a aac -b:a:0 128k -b:a:1 64k -chunk_duration 100000", true},
    // A 5.1 track beside a mono one: a decoder set up for mono takes two
    // 5.1 frames for one of its own where the chunks meet.
    {"aac_51_and_mono_chunks", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{sine(330, 96000, "5.1"), noise(96000, 15, "5.1")},
      {noise(44100, 16, "mono"), sine(550, 44100, "mono")}},
     "-c:a aac -b:a:0 256k -b:a:1 32k -chunk_duration 1795000", false},
    {"pcm_two_tracks", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 48000, "stereo"), noise(48000, 8, "stereo")},
      {sine(660, 32000, "mono"), noise(32000, 9, "mono")}}, "-c:a pcm_s16le", false},
    // Two 96 kHz tracks in ffmpeg's default interleave: a gap holds eight
    // packets or more, each a chunk of its own.
    {"pcm_twin_96k_default", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 3 -g 50",
     {{sine(440, 96000, "mono"), noise(96000, 8, "mono")},
      {noise(96000, 9, "mono"), sine(660, 96000, "mono")}}, "-c:a pcm_s16le", false},
    // Two tones a fifth apart, in one format, in ffmpeg's default
    // interleave: each block sounds only a little more like its own track.
    {"pcm_twin_tones_default", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 2 -g 50",
     {{sine(440, 44100, "stereo"), noise(44100, 21, "stereo")},
      {sine(660, 44100, "stereo"), noise(44100, 22, "stereo")}}, "-c:a pcm_s16le", false},
    // The same at two rates in mono: one packet of a track between the
    // other's tells by its sound alone.
    {"pcm_two_rates_tones_default", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(550, 48000, "mono"), noise(48000, 23, "mono")},
      {sine(660, 96000, "mono"), noise(96000, 24, "mono")}}, "-c:a pcm_s16le", true},
    // Two sound tracks of one format in camera chunks: only the order of the
    // first gap (A2 A1) and the chunk sizes tell them apart.
    {"pcm_twin_camera_chunks", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 48000, "mono"), noise(48000, 11, "mono")},
      {noise(48000, 12, "mono"), sine(660, 48000, "mono")}}, "-c:a pcm_s24be -chunk_duration 1244000", false},
    // The recording stops two thirds into a cycle (its last chunks are
    // shorter, not cut), and the cut at 60% falls into the first chunk of
    // the second gap.
    {"aac_twin_camera_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 48000, "mono"), noise(48000, 13, "mono")},
      {noise(48000, 14, "mono"), sine(660, 48000, "mono")}}, "-c:a aac -b:a 96k -chunk_duration 1500000", false},
    // The same with captions: a caption chunk in the first gap must not hide
    // the order (A2 A1) in which that gap opens, which the reference shows
    // in front of its only chunk of video. At 44.1 and 48 kHz the tracks
    // decode each other's frames, and their chunks hold 43 and 47 a second.
    {"aac_twin_captions_camera_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 44100, "mono"), noise(44100, 13, "mono")},
      {noise(48000, 14, "mono"), sine(660, 48000, "mono")}}, "-c:a aac -b:a 96k -chunk_duration 1700000", true},
    // ffmpeg's default interleave writes the sound in front of its video; the
    // test pattern's still corner gives pictures of a few dozen bytes, alone
    // or in pairs between two AAC frames.
    {"tiny_pictures_amid_aac", "mov", "864x176",
     "-profile:v high10 -pix_fmt yuv420p10le -bf 1 -g 21 -vf crop=128:64:in_w-128:in_h-64",
     {{sine(550, 16000, "stereo"), noise(16000, 43, "stereo")}}, "-c:a aac -b:a 32k", false},
    // An encoder clock of milliseconds: AAC frames of 10.67 ms last 11, 11
    // and 10 ms in the tables, on the second sound track too.
    {"aac_two_rates_ms_clock", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50 -fps_mode vfr -enc_time_base 1:1000",
     {{sine(440, 48000, "stereo"), noise(48000, 17, "stereo")},
      {noise(96000, 18, "mono"), sine(660, 96000, "mono")}}, "-c:a aac -b:a 64k", false},
    // The same clock with two PCM rates in the default interleave: packets
    // less than half a millisecond apart follow each other in the order of
    // their rounded times.
    {"pcm_two_rates_ms_clock", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50 -fps_mode vfr -enc_time_base 1:1000",
     {{sine(550, 96000, "mono"), noise(96000, 25, "mono")},
      {noise(44100, 26, "stereo"), sine(660, 44100, "stereo")}}, "-c:a pcm_s16le", false},
    // Cut between a chunk of video and the sound of its time: the sound
    // ends before the movie, and an encoder's priming is skipped.
    {"mp3_two_rates_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 44100, "stereo"), noise(44100, 15, "stereo")},
      {noise(22050, 16, "mono"), sine(660, 22050, "mono")}},
     "-c:a libmp3lame -b:a 96k -chunk_duration 700000", false},
    {"mp3_two_rates_captions", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 44100, "stereo"), noise(44100, 15, "stereo")},
      {noise(22050, 16, "mono"), sine(660, 22050, "mono")}}, "-c:a libmp3lame -b:a 96k", true},
    // Two tones of near pitch (their features do not tell them apart) in
    // camera chunks with a timecode: the 550 Hz tone at 32 kHz repeats every
    // five blocks, so A1's bytes somewhere carry A2's sound on by chance.
    {"pcm_two_tones_camera_chunks", "mov", "912x160", "-profile:v high10 -pix_fmt yuv420p10le -bf 2 -g 50",
     {{sine(550, 32000, "mono"), sine(550, 32000, "mono")},
      {sine(660, 48000, "mono"), sine(660, 48000, "mono")}},
     "-c:a pcm_s16be -chunk_duration 319000 -timecode 01:00:00:00", false},
    // Two mono tracks of one rate at 8 and 24 kb/s in the default
    // interleave: only a frame's bitrate tells whose it is, and the last
    // gap alternates the tracks frame by frame.
    {"mp3_twin_bitrates", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(550, 12000, "mono"), sine(550, 12000, "mono")},
      {noise(12000, 31, "mono"), noise(12000, 31, "mono")}}, "-c:a libmp3lame -b:a:0 8k -b:a:1 24k", false},
    // Digital silence in stereo beside mono at twice the rate: the first gap
    // opens with the mono track, as the reference's does, and a stereo
    // decoder takes the encoder's first mono frame too.
    {"aac_silent_stereo_beside_mono_96k", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{"anullsrc=r=48000:cl=stereo", noise(48000, 19, "stereo")},
      {sine(660, 96000, "mono"), noise(96000, 20, "mono")}},
     "-c:a aac -b:a 256k -chunk_duration 1000000", false},
    // Two mono AAC rates in camera chunks, the low rate's last chunk cut
    // short by the end: the other track, behind in time, has a decoder that
    // takes that chunk's last frame too, but a recorder closes a chunk only
    // at its length.
    {"aac_two_rates_short_last_chunk", "mov", "320x240", "-profile:v baseline -pix_fmt yuv420p -g 25",
     {{sine(330, 8000, "mono"), noise(8000, 17, "mono")},
      {noise(16000, 18, "mono"), sine(550, 16000, "mono")}},
     "-c:a aac -b:a:0 48k -b:a:1 64k -chunk_duration 1700000", false},
    // 24-bit stereo beside 8 kHz mono in chunks of 1.8 s, so long that the
    // reference shows no packet. A chunk a packet longer than the first
    // leaves a part block on the grid the chunks laid out draw, which is no
    // short last packet: the track's sound goes on in the next gaps.
    {"pcm24_two_rates_chunk_a_packet_longer", "mov", "192x272", "-profile:v main -pix_fmt yuv420p -bf 2 -g 8",
     {{sine(440, 48000, "stereo"), noise(48000, 41, "stereo")}, {noise(8000, 42, "mono"), sine(880, 8000, "mono")}},
     "-c:a pcm_s24be -chunk_duration 1803000", false, 6},
    // The same in 4 s: the recording ends in its third gap, both tracks on
    // a short last packet, so the low rate's last chunk ends between two
    // of the blocks its sound is weighed in.
    {"pcm24_two_rates_short_last_packets", "mov", "192x272", "-profile:v main -pix_fmt yuv420p -bf 2 -g 8",
     {{sine(440, 48000, "stereo"), noise(48000, 41, "stereo")}, {noise(8000, 42, "mono"), sine(880, 8000, "mono")}},
     "-c:a pcm_s24be -chunk_duration 1803000", false},
    // Two AAC tracks in the default interleave, every other picture a copy
    // of the one before: a few dozen bytes each, they stand between two
    // sound frames, where a decoder takes their first bytes for a frame.
    {"aac_two_tracks_tiny_pictures", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50 -vf fps=50",
     {{noise(48000, 31, "stereo"), sine(440, 48000, "stereo")}, {noise(32000, 32, "mono"), sine(660, 32000, "mono")}},
     "-c:a aac -b:a:0 128k -b:a:1 32k", false},
    // Two mono AAC tracks of one rate in the default interleave, captions
    // behind them: both encoders close on a frame of digital silence, five
    // bytes that decode with either track's settings, in front of the last
    // empty cue. Only whose turn it is tells the second is the other track's.
    {"aac_two_mono_tracks_silent_close", "mov", "176x256", "-profile:v main -pix_fmt yuv420p -bf 0 -g 200",
     {{noise(32000, 51, "mono"), sine(440, 32000, "mono")}, {noise(32000, 52, "mono"), sine(660, 32000, "mono")}},
     "-c:a aac -b:a:0 128k -b:a:1 96k", true, 5},
    // Two PCM rates in camera chunks, the low rate's first chunk twice as
    // long; a reference so short that only its last flush shows one chunk
    // per track between the pictures, and whose low-rate chunk its end cut.
    {"pcm_two_rates_camera_chunks", "mov", "320x240", "-profile:v baseline -pix_fmt yuv420p -g 5",
     {{sine(440, 8000, "mono"), noise(8000, 21, "mono")},
      {sine(660, 48000, "stereo"), noise(48000, 22, "stereo")}}, "-c:a pcm_s16le -chunk_duration 1181000", false},
    // 24-bit mono at 32 kHz beside 96 kHz stereo in camera chunks. The
    // stereo noise begins chance "pictures" that cut its packets; cut in
    // the high rate's chunk, the low rate's chunk in front of it is a
    // packet longer than the one before.
    {"pcm24_two_rates_cut_chunk", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 32000, "mono"), noise(32000, 8, "mono")},
      {noise(96000, 9, "stereo"), sine(660, 96000, "stereo")}}, "-c:a pcm_s24le -chunk_duration 1435000", false},
    // 6 kHz beside 96 kHz in the default interleave: the low rate's sound
    // ends on a short packet in a gap of the high rate's whole ones, in
    // front of the last picture.
    {"pcm24_low_rate_ends_first", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 0 -g 50",
     {{noise(6000, 27, "mono"), sine(330, 6000, "mono")},
      {sine(661.7, 96000, "stereo"), noise(96000, 28, "stereo")}}, "-c:a pcm_s24be", false},
    // 96 and 8 kHz 24-bit mono in camera chunks: the low rate's sound ends
    // on a short packet at the head of the last gap between two pictures,
    // in front of the high rate's last chunk, so the gap is no whole number
    // of packets and only the sound tells where the two meet.
    {"pcm24_low_rate_ends_in_chunks", "mov", "272x192", "-profile:v main -pix_fmt yuv420p -bf 0 -g 20",
     {{sine(330, 96000, "mono"), noise(96000, 81, "mono")},
      {sine(660, 8000, "mono"), noise(8000, 82, "mono")}}, "-c:a pcm_s24be -chunk_duration 400000", false},
    // 24-bit noise of two rates in 1.37 s chunks, a caption chunk in front
    // of some video chunks: the noise begins chance "pictures" amid a sound
    // packet, which the captions' bytes no longer excuse.
    {"pcm24_noise_captions_camera_chunks", "mov", "224x544", "-profile:v high -pix_fmt yuv420p -bf 3 -g 189",
     {{noise(32000, 31, "stereo"), noise(32000, 32, "stereo")}, {noise(96000, 33, "mono"), noise(96000, 34, "mono")}},
     "-c:a pcm_s24le -chunk_duration 1370000", true},
    // 24-bit stereo noise in ffmpeg's default interleave, a picture a chunk:
    // the noise begins chance "pictures" less than a packet behind the last
    // picture.
    {"pcm24_noise_default_interleave", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{"anoisesrc=r=44100:a=0.5:seed=33,aformat=channel_layouts=stereo", sine(440, 44100, "stereo")}},
     "-c:a pcm_s24le", false},
    // Two 24-bit stereo rates beside captions in camera chunks: packets of
    // the two are as long, so a gap fills as well with one more of one
    // and one less of the other; the first cue lies in front of the first
    // pictures.
    {"pcm_two_rates_captions_chunks", "mov", "320x240", "-profile:v main -pix_fmt yuv420p -bf 0 -g 50",
     {{sine(440, 32000, "stereo"), noise(32000, 29, "stereo")},
      {noise(16000, 30, "stereo"), sine(660, 16000, "stereo")}}, "-c:a pcm_s24be -chunk_duration 565000", true},
    // Two 24-bit rates in the default interleave, a packet of each between
    // two pictures: behind the last picture the recording's end holds two
    // whole packets of each track and a short one, in turns.
    {"pcm24_two_rates_last_gap_turns", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 3 -g 50",
     {{noise(24000, 31, "stereo"), sine(440, 24000, "stereo")},
      {noise(22050, 32, "mono"), sine(660, 22050, "mono")}}, "-c:a pcm_s24le", false},
    // 88.2 and 11.025 kHz AAC in camera chunks: the first chunks hold what
    // the muxer's chunk length takes from each track's first frame (168
    // and 21 frames), more than the first chunk of video lasts, and the
    // low rate's frames decode the high rate's.
    {"aac_two_rates_first_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 88200, "mono"), noise(88200, 34, "mono")},
      {sine(660, 11025, "mono"), noise(11025, 35, "mono")}},
     "-c:a aac -b:a:0 192k -b:a:1 64k -chunk_duration 1957000", false},
    {"pcm_captions", "mov", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{sine(550, 96000, "stereo"), noise(96000, 10, "stereo")}}, "-c:a pcm_s16le", true},
    // Silent 5.1 frames of a few bytes next to mono frames: a mono frame
    // read under the 5.1 configuration must not pass as one of its frames.
    {"aac_silent_surround_and_mono", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -g 21",
     {{"anullsrc=r=48000:cl=5.1", noise(48000, 19, "5.1")},
      {sine(660, 96000, "mono"), sine(880, 96000, "mono")}}, "-c:a aac -b:a:0 192k -b:a:1 96k", false},
    // Digital silence in 5.1 at 32 kHz: frames of 19 bytes, one or two
    // between two pictures, with a reference of sound. Cut inside a
    // picture, the two frames in front of it are still lost.
    {"aac_silent_surround_32k", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -g 1",
     {{"anullsrc=r=32000:cl=5.1", noise(32000, 20, "5.1")}}, "-c:a aac -b:a 32k", false},
    // Cut inside a picture's later slices: its whole slices are no frame,
    // and the rest of it is no sound.
    {"slices_pcm_cut_picture", "mov", "704x480", "-profile:v main -pix_fmt yuv420p -bf 0 -g 1 -x264-params slices=4",
     {{sine(440, 48000, "mono"), noise(48000, 21, "mono")}}, "-c:a pcm_s16le -chunk_duration 1000000", false},
    // Digital silence in chunks of a quarter second beside captions: the
    // first gap holds two frames, an empty cue and three frames of 6 bytes.
    {"aac_silent_captions_chunks", "mp4", "208x560", "-profile:v baseline -pix_fmt yuv420p -g 1",
     {{"anullsrc=r=22050:cl=stereo", noise(22050, 22, "stereo")}},
     "-c:a aac -b:a 192k -chunk_duration 270000", true},
    // Silent 48 kHz 5.1 beside a 96 kHz 5.1 tone, interleaved frame by
    // frame in time order: a silent frame decodes with either track's
    // settings, so only whose turn it is tells its track.
    {"aac_silent_surround_two_rates", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{"anullsrc=r=48000:cl=5.1", noise(48000, 23, "5.1")},
      {sine(440, 96000, "5.1"), sine(880, 96000, "5.1")}}, "-c:a aac -b:a:0 320k -b:a:1 64k", false},
    // Silent mono AAC at ffmpeg's interleave: one frame of 4 bytes between
    // two pictures, or such a frame and a cue in one gap.
    {"aac_silent_mono_captions", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 3 -g 50",
     {{"anullsrc=r=16000:cl=mono", noise(16000, 24, "mono")}}, "-c:a aac -b:a 64k", true},
    // Silent 96 kHz mono (a rate its sound description cannot hold) beside
    // 32 kHz stereo on a millisecond clock: the encoder's tag frame of the
    // silent track decodes with either track's settings, and only its time
    // tells whose it is.
    {"aac_silent_96k_beside_stereo_ms_clock", "mp4", "320x240",
     "-profile:v high -pix_fmt yuv420p -bf 2 -g 50 -fps_mode vfr -enc_time_base 1:1000",
     {{"anullsrc=r=96000:cl=mono", noise(96000, 25, "mono")},
      {noise(32000, 26, "stereo"), sine(660, 32000, "stereo")}}, "-c:a aac -b:a:0 32k -b:a:1 96k", false},
    // Two mono tracks at 16 and 22.05 kHz: the last gap closes with the
    // 22 kHz track's final frame of a few bytes, which decodes with the
    // other's settings too.
    {"aac_two_mono_rates_short_last_frame", "mp4", "800x336", "-profile:v high -pix_fmt yuv420p -bf 1 -g 3",
     {{sine(330, 16000, "mono"), noise(16000, 27, "mono")},
      {noise(22050, 28, "mono"), sine(660, 22050, "mono")}}, "-c:a aac -b:a:0 128k -b:a:1 64k", false},
    // Silent 44.1 kHz 5.1 beside a 16 kHz 5.1 tone in camera chunks, with
    // a reference of sound on both: a silent frame decodes with either
    // track's settings, so where the count the video expects ends one
    // track's chunk early, the other took the rest.
    {"aac_silent_surround_beside_tone_chunks", "mov", "240x224", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{"anullsrc=r=44100:cl=5.1", noise(44100, 51, "5.1")},
      {sine(660, 16000, "5.1"), noise(16000, 52, "5.1")}},
     "-c:a aac -b:a:0 64k -b:a:1 32k -chunk_duration 433000", false},
    {"aac_silent_reference", "mp4", "320x240", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{sine(440, 48000), "anullsrc=r=48000:cl=stereo"}}, "-c:a aac -b:a 128k -ac 2 -chunk_duration 500000", false},
    // 96 kHz mono beside 8 kHz stereo in camera chunks: the low rate's
    // chunk lies between two of the high rate's in one gap, in front of
    // one in the next and behind it in the last; no rule of time says
    // which, only the sound of the two tells which bytes are whose.
    {"pcm_two_rates_order_by_sound", "mov", "576x176",
     "-profile:v baseline -pix_fmt yuv420p -g 205 -r 30 -x264-params slices=2",
     {{noise(96000, 41, "mono"), sine(440, 96000, "mono")},
      {noise(8000, 42, "stereo"), sine(660, 8000, "stereo")}}, "-c:a pcm_s16le -chunk_duration 800000", false},
    // Two mono tones in camera chunks behind a reference whose sound stops
    // after a second: each of its sound tracks wrote one chunk that its end
    // cut short, which shows neither how long the recorder's chunks are nor
    // how the first gap is laid out; the sounds at the gap's two ends do.
    {"pcm_two_tones_reference_one_chunk", "mov", "368x272", "-profile:v main -pix_fmt yuv420p -bf 2 -g 30",
     {{sine(330, 96000, "mono"), "anoisesrc=d=0.6:r=96000:a=0.2:seed=43,aformat=channel_layouts=mono"},
      {sine(660, 48000, "mono"), "anoisesrc=d=0.6:r=48000:a=0.2:seed=44,aformat=channel_layouts=mono"}},
     "-c:a pcm_s16le -chunk_duration 1422000", false},
    // Mono 16-bit PCM beside captions: the media data ends with the empty
    // caption sample that closes the last cue, right behind the sound's
    // last packet, and one frame long.
    {"pcm_mono_closing_caption", "mov", "160x96", "-profile:v high -pix_fmt yuv420p -bf 2 -g 50",
     {{sine(550, 8000), noise(8000, 43)}}, "-c:a pcm_s16be", true},
    // Silent mono MP3 in camera chunks beside captions: the recording opens
    // with one frame, an empty cue and the rest of the chunk's frames, and
    // a cue stands alone between two video chunks.
    {"mp3_silent_mono_captions_chunks", "mov", "832x192", "-profile:v high422 -pix_fmt yuv422p -bf 2 -g 8",
     {{"anullsrc=r=32000:cl=mono", noise(32000, 43, "mono")}},
     "-c:a libmp3lame -b:a 64k -chunk_duration 283000", true},
    // No sound, captions at ffmpeg's interleave, the pattern slowed so that
    // some pictures repeat: a B picture of a few dozen bytes, too small for
    // the chunk search, right behind a cue.
    {"high10_cavlc_captions_no_sound", "mov", "800x144",
     "-profile:v high10 -pix_fmt yuv420p10le -bf 3 -g 221 -vf setpts=1.2*PTS -r 30 -x264-params cabac=0", {}, "",
     true},
    // The same in digital silence, in camera chunks: two zero bytes of
    // sound read as the empty caption does, and only the reference, whose
    // media data ends with one too, tells that the recording's does.
    {"pcm_mono_silent_closing_caption", "mov", "160x96", "-profile:v baseline -pix_fmt yuv420p",
     {{"anullsrc=r=8000:cl=mono", "anullsrc=r=8000:cl=mono"}}, "-c:a pcm_s16le -chunk_duration 1865000", true},
    // 5.1 noise at 44.1 and 48 kHz in camera chunks, a tone in the
    // reference: each decoder takes the other track's frames, and the two
    // chunks of a gap come in either order, as their first frames' times,
    // less than a frame apart, fall.
    {"aac_51_two_rates_either_order", "mov", "320x160", "-profile:v main -pix_fmt yuv420p -bf 2 -g 65",
     {{noise(44100, 51, "5.1"), sine(880, 44100, "5.1")},
      {noise(48000, 52, "5.1"), sine(880, 48000, "5.1")}},
     "-c:a aac -b:a:0 64k -b:a:1 96k -chunk_duration 659000", false},
    // Mono AAC at 48 and 88.2 kHz in camera chunks: either track's decoder
    // takes a few of the other's frames, and in front of the short last
    // chunk of video the count the video expects is far too small; only
    // the frames' sizes tell whose they are.
    {"aac_two_mono_rates_sizes_tell", "mov", "464x256", "-profile:v main -pix_fmt yuv420p -bf 3 -g 82 -x264-params slices=3",
     {{noise(48000, 61, "mono"), noise(48000, 62, "mono")},
      {noise(88200, 63, "mono"), noise(88200, 64, "mono")}},
     "-c:a aac -b:a:0 96k -b:a:1 48k -chunk_duration 454000", false},
    // Mono AAC at 44.1 and 32 kHz in camera chunks, in either order: the
    // 32 kHz decoder reads the other track's frames as its own (their bands
    // end below the top band, which 32 kHz splits), but not the other way.
    {"aac_32k_beside_44k_mono_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{sine(440, 44100, "mono"), noise(44100, 65, "mono")},
      {noise(32000, 66, "mono"), sine(660, 32000, "mono")}}, "-c:a aac -b:a 64k -chunk_duration 700000", false},
    // Mono AAC at 22.05 and 24 kHz (one band table) in 0.6 s chunks: the
    // interleaver puts a video chunk between the two chunks of a round, so
    // some gaps hold one track's chunk alone.
    {"aac_twin_rates_single_chunk_gaps", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 2 -g 50",
     {{noise(22050, 67, "mono"), noise(22050, 68, "mono")},
      {noise(24000, 69, "mono"), noise(24000, 70, "mono")}}, "-c:a aac -b:a 48k -chunk_duration 600000", false},
    // MP3 beside AAC, frame by frame in turns and in camera chunks: an MPEG
    // audio frame opens with its sync word, an AAC frame with an element id,
    // so each frame tells its codec (both tracks were lost or mixed up).
    {"mp3_beside_aac", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{noise(44100, 71), sine(440, 44100)}, {sine(660, 48000), noise(48000, 72)}},
     "-c:a:0 libmp3lame -b:a:0 128k -c:a:1 aac -b:a:1 96k", false},
    {"aac_beside_mp3_mono_chunks", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 2 -g 50",
     {{noise(48000, 73, "mono"), sine(550, 48000, "mono")}, {sine(770, 32000, "mono"), noise(32000, 74, "mono")}},
     "-c:a:0 aac -b:a:0 64k -c:a:1 libmp3lame -b:a:1 64k -chunk_duration 500000", false},
    // Two MP3 tracks of one rate beside AAC: a mono one (its sample
    // description says 2 channels, its headers say 1) and a stereo one, and
    // twins whose longer frames (1152 samples against 1024) still go in
    // turns by time.
    {"mp3_mono_and_stereo_beside_aac", "mp4", "320x240", "-profile:v main -pix_fmt yuv420p -bf 1 -g 50",
     {{noise(44100, 75, "mono"), sine(440, 44100, "mono")}, {sine(660, 44100), noise(44100, 76)},
      {noise(48000, 77), sine(550, 48000)}},
     "-c:a:0 libmp3lame -b:a:0 64k -c:a:1 libmp3lame -b:a:1 128k -c:a:2 aac -b:a:2 96k", false},
    {"mp3_twins_beside_aac", "mp4", "320x240", "-pix_fmt yuv420p -g 30",
     {{noise(44100, 78, "stereo"), sine(440, 44100, "stereo")}, {noise(44100, 79, "stereo"), sine(660, 44100, "stereo")},
      {noise(48000, 80, "mono"), sine(550, 48000, "mono")}},
     "-c:a:0 libmp3lame -b:a:0 128k -c:a:1 libmp3lame -b:a:1 128k -c:a:2 aac -b:a:2 64k", false},
    // A camera's main and commentary microphones, frame by frame in turns
    // (of one setting, only the order tells them apart) or in half-second
    // chunks; one muted (AAC frames of a few bytes), in the reference the other.
    {"aac_two_mics_alternating", "mp4", "320x240", "-pix_fmt yuv420p -g 25",
     {{sine(440, 48000, "stereo"), sine(330, 48000, "stereo")},
      {sine(880, 44100, "mono"), sine(660, 44100, "mono")}}, "-c:a aac -b:a 96k", false},
    {"aac_two_mics_alternating_muted", "mp4", "320x240", "-pix_fmt yuv420p -g 25",
     {{sine(440, 48000, "stereo"), "anullsrc=r=48000:cl=stereo"},
      {"anullsrc=r=44100:cl=mono", sine(660, 44100, "mono")}}, "-c:a aac -b:a 96k", false},
    {"aac_two_mics_alternating_same", "mp4", "320x240", "-pix_fmt yuv420p -g 25",
     {{sine(440, 48000, "stereo"), sine(330, 48000, "stereo")},
      {sine(880, 48000, "stereo"), sine(660, 48000, "stereo")}}, "-c:a aac -b:a 96k", false},
    {"aac_two_mics_half_second_chunks", "mov", "320x240", "-pix_fmt yuv420p -g 25",
     {{sine(440, 48000, "stereo"), sine(330, 48000, "stereo")},
      {sine(880, 44100, "mono"), sine(660, 44100, "mono")}}, "-c:a aac -b:a 96k -chunk_duration 500000", false},
};

INSTANTIATE_TEST_SUITE_P(Quick, RecordingMatrix,
                         ::testing::Combine(::testing::ValuesIn(kRecordings), ::testing::Values(Damage::NoIndex, Damage::Cut60)),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + nameOf(std::get<1>(info.param));
                         });
