// Sony recovery files built from real x264/x265 output, repaired end to end
// by the framend binary and judged by what ffmpeg reads back from the output
// against what the generator wrote.

#include "camera/rsv/rsv_recording.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace rsvtest;
using namespace testsupport;

namespace {

using repairrun::Outcome;

std::vector<long long> numbers(const std::string& text) {
    std::vector<long long> out;
    for (const std::string& line : lines(text))
        if (!line.empty())
            out.push_back(std::stoll(line));
    return out;
}

// The encoder's order: for each access unit of the elementary stream, in
// decode order, its place among the frames ffmpeg's decoder shows.
std::vector<size_t> encoderRanks(const std::string& elementary) {
    const std::vector<long long> shownPositions =
        numbers(testsupport::ffprobe(elementary, "-show_entries frame=pkt_pos -of csv=p=0"));
    std::vector<long long> decodePositions = shownPositions;
    std::sort(decodePositions.begin(), decodePositions.end());
    std::vector<size_t> ranks;
    for (long long p : decodePositions)
        ranks.push_back(size_t(std::find(shownPositions.begin(), shownPositions.end(), p) - shownPositions.begin()));
    return ranks;
}

// For each video packet in decode order, its place in presentation order.
std::vector<size_t> presentationRanks(const std::string& file) {
    const std::vector<long long> pts =
        numbers(testsupport::ffprobe(file, "-ignore_editlist 1 -select_streams v:0 -show_entries packet=pts -of csv=p=0"));
    std::vector<size_t> ranks;
    for (long long p : pts)
        ranks.push_back(size_t(std::count_if(pts.begin(), pts.end(), [p](long long q) { return q < p; })));
    return ranks;
}

bool startsWith(const Bytes& b, const Bytes& prefix) {
    return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}
bool endsWith(const Bytes& b, const Bytes& suffix) {
    return b.size() >= suffix.size() && std::equal(suffix.begin(), suffix.end(), b.end() - long(suffix.size()));
}

struct Case {
    bool hevc;
    Layout layout;
    bool scalingLists = false;
};

// Whether the sample description (the decoder configuration) holds the bytes.
bool described(const std::string& file, const Bytes& bytes) {
    const Bytes movie = readFile(file);
    for (const AtomSpan& a : atomTree(movie))
        if (a.type == "stsd" && std::search(movie.begin() + long(a.start), movie.begin() + long(a.start + a.size),
                                            bytes.begin(), bytes.end()) != movie.begin() + long(a.start + a.size))
            return true;
    return false;
}

class RsvRepair : public ::testing::TestWithParam<Case> {};

}  // namespace

// Every access unit and every audio block comes back bit-exact and in order,
// the configuration holds the file's parameter sets whole (a 1.6 KB SPS too),
// and the frames are shown in the encoder's order.
TEST_P(RsvRepair, RecoversEveryAccessUnitAndAudioBlock) {
    const Case c = GetParam();
    const std::string ref = referenceMovie(c.hevc);
    const uint32_t block = referenceAudioBlock(ref);
    ASSERT_GT(block, 0u);
    const Encoded video = encode(c.hevc, c.scalingLists);
    ASSERT_GT(video.units.size(), 20u);
    const RsvRecording rec = makeRsv(video, c.layout, block);
    const std::string test = std::string("rsv_") + (c.hevc ? "hevc" : "h264") + (c.layout == Layout::Klv ? "_klv" : "_rtmd");
    // The mode comes from the file name, or from the content with -auto; the
    // H.264 reference has no B-frames, the recording has.
    const bool klv = c.layout == Layout::Klv;
    const Outcome r = repairrun::repairBytes(test, ref, rec.file, klv ? "clip.RSV" : "clip.bin", klv ? "" : "-auto");
    ASSERT_EQ(r.exitCode, 0) << r.log;
    EXPECT_NE(r.log.find(klv ? "auto selected Sony RSV recovery by input extension"
                             : "auto selected Sony RSV rtmd recovery candidate"),
              std::string::npos);
    EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data", true), concat(rec.units));
    EXPECT_EQ(streamBytes(r.repaired, "0:a:0", "s16le", true), concat(rec.audio));
    EXPECT_EQ(repairrun::decodeErrors(r.repaired), "");
    ASSERT_FALSE(video.sps.empty());
    EXPECT_TRUE(described(r.repaired, video.sps)) << "SPS of " << video.sps.size();
    const std::vector<size_t> expected = encoderRanks(video.elementary);
    EXPECT_EQ(expected.size(), rec.units.size());
    EXPECT_EQ(presentationRanks(r.repaired), expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RsvRepair,
                         ::testing::Values(Case{false, Layout::Klv}, Case{true, Layout::Klv, true},
                                           Case{false, Layout::Rtmd}, Case{true, Layout::Rtmd}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::string(i.param.hevc ? "Hevc" : "H264") +
                                    (i.param.layout == Layout::Klv ? "Klv" : "Rtmd");
                         });

// Bytes destroyed inside one group cost that group at most: everything in
// front of it and behind it comes back exactly, also when the runs reach
// across the scan's windows.
TEST(RsvDamage, DamageInsideOneGroupCostsOnlyThatGroup) {
    const std::string ref = referenceMovie(false);
    const Encoded video = encode(false);
    const RsvRecording rec = makeRsv(video, Layout::Klv, referenceAudioBlock(ref), 5, 3000000);
    ASSERT_GT(rec.file.size(), 12u << 20);
    ASSERT_GE(rec.groupStarts.size(), 4u);
    Bytes damaged = rec.file;
    const uint64_t from = rec.groupStarts[2] + 300, to = rec.groupStarts[3] - 100;
    std::mt19937 gen(7);
    for (uint64_t i = from; i < to; i += 97)
        for (uint64_t k = i; k < std::min(i + 40, to); ++k)
            damaged[k] = uint8_t(gen());
    const Outcome r = repairrun::repairBytes("rsv_damage", ref, damaged, "damaged.bin", "-sonyrsv");
    ASSERT_EQ(r.exitCode, 0) << r.log;
    const Bytes v = streamBytes(r.repaired, "0:v:0", "data", true);
    EXPECT_TRUE(startsWith(v, concat(rec.units, 0, rec.firstUnit[2])));
    EXPECT_TRUE(endsWith(v, concat(rec.units, rec.firstUnit[3])));
    const Bytes a = streamBytes(r.repaired, "0:a:0", "s16le", true);
    EXPECT_TRUE(startsWith(a, concat(rec.audio, 0, 2)));
    EXPECT_TRUE(endsWith(a, concat(rec.audio, 3)));
}
