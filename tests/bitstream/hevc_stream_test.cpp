// HEVC units of real x265 output: the reference walk's picture order counts
// and nalseq lines, and every unit cut short.

#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/hevc_utils.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/stream_fixtures.h"
#include "support/nal_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace HEVC;

namespace {

using bitstest::Fixture;

// Main with B-frames, two slices per picture, the version SEI and MD5
// picture hashes; 4:2:2 10-bit (range extension) with HRD timing SEI and
// weighted prediction.
const Fixture kMain = {
    "bits_hevc_main.hevc",
    "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 20 -pix_fmt yuv420p -c:v libx265 -x265-params "
    "log-level=error:slices=2:aud=1:bframes=3:colorprim=bt709:transfer=bt709:colormatrix=bt709:info=1:hash=1"};
const Fixture k422 = {
    "bits_hevc_422.hevc",
    "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 12 -pix_fmt yuv422p10le -c:v libx265 "
    "-profile:v main422-10 -x265-params log-level=error:aud=1:hrd=1:vbv-bufsize=2000:vbv-maxrate=1000:"
    "weightp=1:colorprim=bt470bg:transfer=smpte170m:colormatrix=bt470bg"};

// The reference walk over MP4-style samples primed from an hvcC: every slice
// parses, picture order counts come out as the display order (one IDR, so
// 0..N-1, each picture once), and the patterns print as nalseq lines.
TEST(HevcUtils, WalksRealSamplesWithPictureOrderCounts) {
    const auto s = bitstest::loadStream(kMain.name, kMain.args);
    // An hvcC record made of the stream's first VPS, SPS and PPS.
    std::vector<testsupport::HvccArray> arrays;
    for (uint8_t type : {32, 33, 34})
        for (const auto& n : s.nals)
            if (((s.data(n)[0] >> 1) & 0x3F) == type) {
                arrays.push_back({type, {testsupport::Bytes(s.data(n), s.data(n) + n.size)}});
                break;
            }
    const auto hvcc = testsupport::hvcC(arrays);
    unsigned lengthSize = 0;
    const auto units = hvccUnits(hvcc.data(), hvcc.size(), &lengthSize);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(lengthSize, 4u);

    HevcUtils utils;
    std::vector<int64_t> pocs;
    const auto samples = bitstest::lengthPrefixedSamples(s, true);
    ASSERT_EQ(samples.size(), 20u);
    for (const auto& sample : samples) {
        utils.seq_analyze(sample.data(), sample.size(), units, lengthSize);
        int64_t picturePoc = HevcUtils::kNoPoc;
        for (const auto& u : utils.lastSample()) {
            EXPECT_TRUE(u.error.empty()) << u.error;
            EXPECT_TRUE(u.problems.empty()) << u.problems;
            if (u.poc == HevcUtils::kNoPoc)
                continue;
            if (picturePoc == HevcUtils::kNoPoc)
                picturePoc = u.poc;
            EXPECT_EQ(u.poc, picturePoc);  // both slices of a picture
        }
        pocs.push_back(picturePoc);
    }
    ASSERT_NE(utils.bestSps(), nullptr);
    std::sort(pocs.begin(), pocs.end());
    for (size_t i = 0; i < pocs.size(); ++i)
        EXPECT_EQ(pocs[i], int64_t(i));

    // AUD, prefix SEI (version, first picture only), two slices, suffix SEI
    // (MD5): IDR first, then reference and non-reference trailing pictures.
    std::ostringstream out;
    utils.printSequences(out);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("nalseq 0: 23 27 14 14 28 \n", 0), 0u) << text;
    EXPECT_NE(text.find(": 23 01 01 28 \n"), std::string::npos) << text;
    EXPECT_NE(text.find(": 23 00 00 28 \n"), std::string::npos) << text;
    EXPECT_EQ(utils.sequences().size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\n\n");
}

// Every unit cut short at every length (see bitstest::forEachPrefix) fails
// with the reader's error or parses with fewer fields.
TEST(HevcStreamTruncated, UnitsCutAtEveryLength) {
    const auto s = bitstest::loadStream(k422.name, k422.args);
    // Parameter sets of the whole stream first, so slices get parsed deeply.
    ParameterSets full;
    for (const auto& n : s.nals)
        parseNalUnit(full, s.data(n), n.size, nullptr);
    size_t failed = 0;
    bitstest::forEachPrefix(s, [&](const uint8_t* p, size_t len) {
        ParameterSets maps = full;
        std::string error;
        if (!parseNalUnit(maps, p, len, &error) && !error.empty())
            ++failed;
    });
    EXPECT_GT(failed, 0u);
}

}  // namespace
