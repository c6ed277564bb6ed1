// End-to-end H.264 repairs of ffmpeg-made movies whose index was lost,
// judged by ffmpeg: packet checksums of the repaired file against the intact
// original, counting only packets whose bytes survived the damage.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <unordered_set>

using testsupport::quote;

namespace {

// 320x240 at 25 fps with B-frames, 4 seconds.
constexpr const char* kVideo = "-t 4 -c:v libx264 -bf 2 -g 50 -crf 30 -pix_fmt yuv420p ";
constexpr const char* kAac = "-c:a aac -ac 2 -b:a 96k ";

// `filter` changes the scene (the encoder settings stay).
std::string movie(const std::string& name, const std::string& audio, const std::string& mux = "",
                  const std::string& filter = "") {
    const std::string sine = audio == "-an " ? "" : "-f lavfi -i sine=frequency=440:sample_rate=48000 ";
    return testsupport::fixture(name, "-f lavfi -i testsrc2=size=320x240:rate=25" + filter + " " + sine + kVideo +
                                          audio + mux);
}

uint32_t be32(const std::vector<uint8_t>& d, size_t at) {
    return (uint32_t(d[at]) << 24) | (uint32_t(d[at + 1]) << 16) | (uint32_t(d[at + 2]) << 8) | d[at + 3];
}

// The movie's bytes in front of its moov: what a recorder leaves when it
// stops before writing the index.
std::vector<uint8_t> withoutIndex(const std::string& file) {
    std::vector<uint8_t> d = testsupport::readFile(file);
    size_t at = 0;
    while (at + 8 <= d.size()) {
        uint64_t size = be32(d, at);
        if (size == 1 && at + 16 <= d.size())
            size = (uint64_t(be32(d, at + 8)) << 32) | be32(d, at + 12);
        if (std::string(d.begin() + at + 4, d.begin() + at + 8) == "moov") {
            d.resize(at);
            break;
        }
        if (size < 8)
            break;
        at += size;
    }
    return d;
}

struct Packet {
    int64_t dts = 0, pts = 0;
    std::string md5;
};

// Packets per stream, edit lists ignored (they only shift the timeline).
std::map<int, std::vector<Packet>> packets(const std::string& file) {
    const auto r = testsupport::runCommand("ffmpeg -nostdin -v error -ignore_editlist 1 -i " + quote(file) +
                                           " -c copy -f framemd5 -");
    std::map<int, std::vector<Packet>> out;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        std::stringstream ls(line);
        std::string part;
        while (std::getline(ls, part, ','))
            f.push_back(part.substr(part.find_first_not_of(' ')));
        if (f.size() >= 6)
            out[std::atoi(f[0].c_str())].push_back({std::atoll(f[1].c_str()), std::atoll(f[2].c_str()), f[5]});
    }
    return out;
}

// For each stream of the original, whether each packet's bytes are the same
// in the damaged file (same offsets: damage never moves data).
std::map<int, std::vector<bool>> surviving(const std::string& original, const std::vector<uint8_t>& damaged) {
    const std::vector<uint8_t> o = testsupport::readFile(original);
    const auto r = testsupport::runCommand("ffprobe -v error -show_entries packet=stream_index,pos,size -of csv=p=0 " +
                                           quote(original));
    std::map<int, std::vector<bool>> out;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        int stream = 0;
        long long pos = 0, size = 0;
        if (std::sscanf(line.c_str(), "%d,%lld,%lld", &stream, &size, &pos) != 3)
            continue;
        const bool alive = pos >= 0 && size_t(pos + size) <= damaged.size() &&
                           std::equal(o.begin() + pos, o.begin() + pos + size, damaged.begin() + pos);
        out[stream].push_back(alive);
    }
    return out;
}

struct Recall {
    size_t alive = 0, recovered = 0, inPresentationOrder = 0;
    double percent() const { return alive ? 100.0 * double(recovered) / double(alive) : 100.0; }
};

// Surviving original packets found in the repaired stream, in order.
Recall recall(const std::vector<Packet>& original, const std::vector<bool>& alive, const std::vector<Packet>& repaired) {
    Recall r;
    size_t j = 0;
    for (size_t i = 0; i < original.size(); ++i) {
        if (i < alive.size() && !alive[i])
            continue;
        ++r.alive;
        size_t k = j;
        while (k < repaired.size() && repaired[k].md5 != original[i].md5)
            ++k;
        if (k == repaired.size())
            continue;
        ++r.recovered;
        if (repaired[k].pts - repaired[k].dts == original[i].pts - original[i].dts)
            ++r.inPresentationOrder;
        j = k + 1;
    }
    return r;
}

struct Outcome {
    Recall video, audio;
    std::string repaired;
    std::string log;
};

// Repairs `damaged` (bytes) with `reference`, both written to a scratch
// folder, and compares with `original` (the reference itself when empty).
Outcome repair(const std::string& test, const std::string& reference, const std::vector<uint8_t>& damaged,
               const std::string& options = "", std::string original = "") {
    if (original.empty())
        original = reference;
    const std::string dir = testsupport::scratchDir(test);
    const std::string ext = reference.substr(reference.rfind('.'));
    const std::string input = dir + "/broken" + ext;
    EXPECT_TRUE(testsupport::writeFile(input, damaged));
    Outcome out;
    const auto r = testsupport::runFramend("-i " + quote(input) + " -ref " + quote(reference) + " -o " +
                                           quote(dir + "/repaired" + ext) + " " + options);
    out.log = r.output;
    EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    // Clips are numbered.
    out.repaired = dir + "/repaired_0" + ext;
    if (testsupport::readFile(out.repaired).empty())
        out.repaired = dir + "/repaired" + ext;
    const auto before = packets(original);
    const auto fixed = packets(out.repaired);
    const auto alive = surviving(original, damaged);
    auto get = [](const auto& m, int k) { return m.count(k) ? m.at(k) : typename std::decay_t<decltype(m)>::mapped_type{}; };
    out.video = recall(get(before, 0), get(alive, 0), get(fixed, 0));
    out.audio = recall(get(before, 1), get(alive, 1), get(fixed, 1));
    return out;
}

double streamDuration(const std::string& file, const char* type) {
    const auto r = testsupport::runCommand(std::string("ffprobe -v error -select_streams ") + type +
                                           " -show_entries stream=duration -of csv=p=0 " + quote(file));
    return std::atof(r.output.c_str());
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

TEST(Avc1Repair, AacWithoutIndexComesBackWhole) {
    // ffmpeg's own interleaving: about one video frame, then one or two AAC
    // frames, alternating.
    const std::string ref = movie("avc_aac.mp4", kAac);
    ASSERT_FALSE(ref.empty());
    const Outcome o = repair("Avc1Repair.Aac", ref, withoutIndex(ref));
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), 97.0);
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    const auto decode = testsupport::runCommand("ffmpeg -nostdin -v error -i " + quote(o.repaired) + " -f null - 2>&1");
    EXPECT_EQ(decode.output, "");
    EXPECT_LT(std::abs(streamDuration(o.repaired, "v") - streamDuration(o.repaired, "a")), 0.2);
    EXPECT_NE(o.log.find("AVC1 chunk scanner enabled"), std::string::npos);
}

TEST(Avc1Repair, CameraLikeChunks) {
    for (const char* duration : {"500000", "1000000"}) {
        const std::string ref = movie(std::string("avc_aac_chunk") + duration + ".mp4", kAac,
                                      std::string("-chunk_duration ") + duration);
        ASSERT_FALSE(ref.empty());
        const Outcome o = repair(std::string("Avc1Repair.Chunks") + duration, ref, withoutIndex(ref));
        EXPECT_GE(o.video.percent(), 99.0) << duration;
        EXPECT_GE(o.audio.percent(), 97.0) << duration;
        EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered) << duration;
        EXPECT_LT(std::abs(streamDuration(o.repaired, "v") - streamDuration(o.repaired, "a")), 0.2) << duration;
    }
}

TEST(Avc1Repair, DamageCostsOnlyTheFramesItTouches) {
    // Cut at 60 % of the payload, and a few random blocks inside it, with
    // either interleaving.
    for (const std::string mux : {"", "-chunk_duration 500000"}) {
        const std::string ref =
            movie(mux.empty() ? "avc_aac.mp4" : "avc_aac_chunk500000.mp4", kAac, mux);
        ASSERT_FALSE(ref.empty());
        const std::vector<uint8_t> whole = withoutIndex(ref);
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() * 6 / 10));
        Outcome o = repair("Avc1Repair.Cut", ref, cut);
        EXPECT_GE(o.video.percent(), 98.0) << mux;
        EXPECT_GE(o.audio.percent(), 97.0) << mux;
        EXPECT_LT(o.video.alive, 70u);

        o = repair("Avc1Repair.Blocks", ref, withRandomBlocks(whole, 7));
        EXPECT_GE(o.video.percent(), 95.0) << mux;
        EXPECT_GE(o.audio.percent(), 95.0) << mux;
        EXPECT_LT(o.video.alive + o.audio.alive, 289u) << "the damage must hit something";
    }
}

TEST(Avc1Repair, PcmBlocksBigAndLittleEndian) {
    for (const std::string codec : {"pcm_s16le", "pcm_s16be"}) {
        const std::string ref = movie("avc_" + codec + ".mov", "-c:a " + codec + " -ac 2 ");
        ASSERT_FALSE(ref.empty());
        const Outcome o = repair("Avc1Repair.Pcm", ref, withoutIndex(ref));
        EXPECT_GE(o.video.percent(), 99.0) << codec;
        // PCM packets are cut where the writer's chunks end, so compare the
        // decoded sound: every 256-byte block of the original must be there.
        auto pcm = [](const std::string& f) {
            return testsupport::runCommand("ffmpeg -nostdin -v error -i " + quote(f) + " -map 0:a -f s16le -").output;
        };
        const std::string original = pcm(ref), repaired = pcm(o.repaired);
        ASSERT_GT(original.size(), 100000u);
        constexpr size_t kBlock = 256;
        std::unordered_set<std::string> present;
        for (size_t i = 0; i + kBlock <= repaired.size(); i += 4)
            present.insert(repaired.substr(i, kBlock));
        size_t found = 0, blocks = original.size() / kBlock;
        for (size_t b = 0; b < blocks; ++b)
            found += present.count(original.substr(b * kBlock, kBlock));
        EXPECT_GE(100.0 * double(found) / double(blocks), 99.0) << codec;
        EXPECT_LT(std::abs(double(repaired.size()) - double(original.size())), 48000.0 * 4 * 0.2) << codec;
    }
}

TEST(Avc1Repair, Mp3ThroughTheStandAloneAudioAnalyser) {
    const std::string ref =
        movie("avc_mp3_chunk500000.mp4", "-c:a libmp3lame -ac 2 -b:a 128k ", "-chunk_duration 500000");
    ASSERT_FALSE(ref.empty());
    const Outcome o = repair("Avc1Repair.Mp3", ref, withoutIndex(ref), "-aac");
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), 97.0);
    EXPECT_NE(o.log.find("using analyser: AACAnalyser"), std::string::npos);
}

TEST(Avc1Repair, VideoWithoutAudio) {
    const std::string ref = movie("avc_noaudio.mp4", "-an ");
    ASSERT_FALSE(ref.empty());
    const Outcome o = repair("Avc1Repair.NoAudio", ref, withoutIndex(ref));
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(o.video.alive, 100u);
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    // No empty sound track: it would have no channels and nothing to play.
    const auto streams = testsupport::runCommand("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                                                 quote(o.repaired));
    EXPECT_EQ(streams.output, "video\n");
}

TEST(Avc1Repair, FramesOfAnotherSceneThanTheReference) {
    // Same encoder settings, but a noisy scene: every frame of the damaged
    // movie is larger than any of the reference, and the reference's frames
    // must not decide where the damaged movie's frames end.
    const std::string ref = movie("avc_aac.mp4", kAac);
    const std::string noisy = movie("avc_aac_noisy.mp4", kAac, "", ",noise=alls=30:allf=t");
    ASSERT_FALSE(ref.empty());
    ASSERT_FALSE(noisy.empty());
    const Outcome o = repair("Avc1Repair.OtherScene", ref, withoutIndex(noisy), "", noisy);
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_GE(o.audio.percent(), 97.0);
    // And the other way round: frames much smaller than the reference's.
    const Outcome back = repair("Avc1Repair.OtherSceneBack", noisy, withoutIndex(ref), "", ref);
    EXPECT_EQ(back.video.recovered, back.video.alive);
    EXPECT_GE(back.audio.percent(), 97.0);
    // The encoder placed its B-frames by content, so the reference's
    // composition offsets do not fit; the frames' order counts do.
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    EXPECT_EQ(back.video.inPresentationOrder, back.video.recovered);
    for (const Outcome* r : {&o, &back}) {
        const auto decode =
            testsupport::runCommand("ffmpeg -nostdin -v error -i " + quote(r->repaired) + " -f null - 2>&1");
        EXPECT_EQ(decode.output, "");
    }
}

TEST(Avc1Repair, Mp3BetweenTheChunksWithoutAnyOption) {
    // A camera file with MPEG audio in 'mp4a' (object type 0x6B): the user
    // gives only input, reference and output, and gets both streams back.
    const std::string ref = movie("avc_mp3.mp4", "-c:a libmp3lame -ac 2 -b:a 128k ");
    ASSERT_FALSE(ref.empty());
    const Outcome o = repair("Avc1Repair.Mp3NoOption", ref, withoutIndex(ref));
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), 99.0);
    EXPECT_GT(o.audio.alive, 150u);
    EXPECT_LT(std::abs(streamDuration(o.repaired, "v") - streamDuration(o.repaired, "a")), 0.2);
}
