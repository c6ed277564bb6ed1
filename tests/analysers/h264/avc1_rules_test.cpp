// The H.264 analyser's boundary rules: how a sample fits a class, when
// anchors are trusted, the gap allowed inside a chunk (through the shared
// chunk search), and keeping the avcC's PPS list complete.

#include "analysers/chunk/chunk_search.h"
#include "analysers/h264/avc1_pps_clone.h"
#include "analysers/h264/avc1_sample_profile.h"

#include "bitstream/h264/picture_parameter_set.h"
#include "support/nal_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using testsupport::Bytes;

// One length-prefixed NAL unit of `length` bytes (header included). Slices
// begin like a real first slice: first_mb_in_slice 0, slice_type 0 (P) or 7
// (I), pic_parameter_set_id 0.
void appendNal(Bytes& out, uint8_t header, uint32_t length, uint8_t fill = 0x5A) {
    Bytes nal(length, fill);
    nal[0] = header;
    if ((header & 0x1F) == 1 && length > 1)
        nal[1] = 0xB8;  // 1 (mb 0), 1 (P), 1 (pps 0), ...
    if ((header & 0x1F) == 5 && length > 2)
        nal[1] = 0x88, nal[2] = 0x80;  // 1, 0001000 (I = 7), 1 ...
    testsupport::appendLengthPrefixed(out, nal.data(), nal.size());
}

// A sample: AUD + SEI + one slice, as many recorders write them.
Bytes sample(uint32_t sliceLength, uint8_t sliceHeader = 0x41) {
    Bytes b;
    appendNal(b, 0x09, 2, 0x30);
    appendNal(b, 0x06, 20);
    appendNal(b, sliceHeader, sliceLength);
    return b;
}

}  // namespace

TEST(Avc1Rules, SamplesOfAnySizeEndWhereTheNextPictureBegins) {
    // The reference's frames are 9,000..29,000 bytes with one slice each;
    // the damaged recording is another scene.
    Avc1SampleProfile p;
    Bytes s1 = sample(9000), s2 = sample(29000);
    ASSERT_TRUE(p.learn(s1.data(), int64_t(s1.size())));
    ASSERT_TRUE(p.learn(s2.data(), int64_t(s2.size())));
    ASSERT_EQ(p.maxSlices(), 1u);
    EXPECT_TRUE(p.classFit(1, 40, 1));
    EXPECT_TRUE(p.classFit(1, 400000, 1));
    EXPECT_FALSE(p.classFit(1, 40, 2));  // more slices than the recorder uses
    EXPECT_FALSE(p.classFit(5, 400000, 1));  // no IDR class
    EXPECT_FALSE(p.classFit(1, 0, 1));

    // Frames far smaller and far larger than any of the reference, back to
    // back: each ends where the next one's delimiter begins.
    for (uint32_t length : {40u, 300000u}) {
        Bytes run = sample(length);
        const int64_t first = int64_t(run.size());
        const Bytes next = sample(500);
        run.insert(run.end(), next.begin(), next.end());
        EXPECT_EQ(p.measureSample(run.data(), int64_t(run.size())), first) << length;
    }
    // Without delimiters, a slice at macroblock 0 is the next picture.
    Bytes bare;
    appendNal(bare, 0x41, 700);
    appendNal(bare, 0x41, 900);
    EXPECT_EQ(p.measureSample(bare.data(), int64_t(bare.size())), 704);
    // A unit that breaks the NAL byte rules (a start code inside it, or a
    // zero last byte) is no slice: audio that happened to pass the length
    // test.
    Bytes broken = sample(1000);
    broken[broken.size() - 500] = 0, broken[broken.size() - 499] = 0, broken[broken.size() - 498] = 1;
    EXPECT_EQ(p.measureSample(broken.data(), int64_t(broken.size())), 0);
    broken = sample(1000);
    broken.back() = 0;
    EXPECT_EQ(p.measureSample(broken.data(), int64_t(broken.size())), 0);
    // The same bytes a recorder is known to write are taken as they are.
    Avc1SampleProfile padded;
    ASSERT_TRUE(padded.learn(broken.data(), int64_t(broken.size())));
    EXPECT_FALSE(padded.payloadsClean());
    EXPECT_EQ(padded.measureSample(broken.data(), int64_t(broken.size())), int64_t(broken.size()));

    // A recorder that cuts pictures in two: the second slice (not at
    // macroblock 0) belongs to the picture, the next one at 0 does not.
    Avc1SampleProfile two;
    Bytes twoSlices = sample(5000);
    appendNal(twoSlices, 0x41, 5000);
    twoSlices[twoSlices.size() - 4999] = 0x7A;  // first_mb_in_slice 2 (011), P, pps 0
    ASSERT_TRUE(two.learn(twoSlices.data(), int64_t(twoSlices.size())));
    ASSERT_EQ(two.maxSlices(), 2u);
    Bytes pair = twoSlices;
    appendNal(pair, 0x41, 800);
    EXPECT_EQ(two.measureSample(pair.data(), int64_t(pair.size())), int64_t(twoSlices.size()));
}

TEST(Avc1Rules, AnchorCoverageThreshold) {
    // Samples led by the same access unit delimiter, the rest by a slice:
    // 950 of 1000 is 95.0 % and turns the fast path on, 949 does not.
    auto learnMix = [](uint32_t withAnchor, uint32_t total) {
        auto p = std::make_unique<Avc1SampleProfile>();
        const Bytes a = sample(300);
        Bytes plain;
        appendNal(plain, 0x41, 300);
        for (uint32_t i = 0; i < total; ++i) {
            const Bytes& s = i < withAnchor ? a : plain;
            EXPECT_TRUE(p->learn(s.data(), int64_t(s.size())));
        }
        p->finishLearning();
        return p;
    };
    auto on = learnMix(950, 1000);
    EXPECT_EQ(on->anchorCoverage(), 950u);
    EXPECT_TRUE(on->fast());
    ASSERT_EQ(on->anchors().size(), 1u);
    EXPECT_EQ(on->anchors()[0].bytes, (Bytes{0, 0, 0, 2, 0x09}));
    auto off = learnMix(949, 1000);
    EXPECT_EQ(off->anchorCoverage(), 949u);
    EXPECT_FALSE(off->fast());
    // Below 300 usable samples nothing is trusted, even full coverage.
    auto few = learnMix(299, 299);
    EXPECT_TRUE(few->anchors().empty());
    EXPECT_FALSE(few->fast());
    auto enough = learnMix(300, 300);
    EXPECT_TRUE(enough->fast());
}

TEST(Avc1Rules, ChunkGapLimit) {
    // With anchors, frames of a chunk may be padded apart by up to G bytes.
    Avc1SampleProfile p;
    const Bytes s = sample(300);
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(p.learn(s.data(), int64_t(s.size())));
    p.finishLearning();
    ASSERT_TRUE(p.fast());
    const std::vector<ChunkProfile> profiles{ChunkProfile{2, 0, 0, 1}};
    const int64_t g = 4096;
    const ChunkSearch search(p, profiles, g, "AVC1");
    auto chunkWithGap = [&](int64_t gap) {
        Bytes c = s;
        c.insert(c.end(), size_t(gap), 0xEE);
        c.insert(c.end(), s.begin(), s.end());
        c.insert(c.end(), 16, 0xEE);
        return c;
    };
    ChunkCandidate out;
    Bytes c = chunkWithGap(g);
    ASSERT_TRUE(search.validate(c.data(), int64_t(c.size()), out));
    ASSERT_EQ(out.samples.size(), 2u);
    EXPECT_EQ(out.samples[1].start, int64_t(s.size()) + g);
    EXPECT_EQ(out.size, int64_t(2 * s.size()) + g);
    EXPECT_EQ(out.samples[0].ppsId, 0);
    // One byte more and the second frame is out of reach: only the first
    // remains, as a short chunk.
    c = chunkWithGap(g + 1);
    ASSERT_TRUE(search.validate(c.data(), int64_t(c.size()), out));
    EXPECT_EQ(out.samples.size(), 1u);

    // Without anchors the frames of a chunk must touch.
    Avc1SampleProfile contiguous;
    ASSERT_TRUE(contiguous.learn(s.data(), int64_t(s.size())));
    contiguous.finishLearning();
    const ChunkSearch strict(contiguous, profiles, g, "AVC1");
    c = chunkWithGap(0);
    ASSERT_TRUE(strict.validate(c.data(), int64_t(c.size()), out));
    EXPECT_EQ(out.samples.size(), 2u);
    c = chunkWithGap(1);
    ASSERT_TRUE(strict.validate(c.data(), int64_t(c.size()), out));
    EXPECT_EQ(out.samples.size(), 1u);
}

TEST(Avc1Rules, SearchSkipsAacFrameTailsThatLookLikeSlices) {
    // An AAC frame ends in zero bytes and its END element; followed by the
    // next frame's first byte (0x21) that reads as a 224-byte slice of type
    // 1. The reference's first slices never begin with 0x21, so it is not
    // a sample.
    Avc1SampleProfile p;
    const Bytes s = sample(300);
    ASSERT_TRUE(p.learn(s.data(), int64_t(s.size())));
    p.finishLearning();
    Bytes audio(64, 0x33);
    for (uint8_t b : {0x00, 0x00, 0x00, 0xE0, 0x21})
        audio.push_back(b);
    audio.insert(audio.end(), 300, 0x44);
    const size_t videoAt = audio.size();
    audio.insert(audio.end(), s.begin(), s.end());
    audio.insert(audio.end(), 16, 0x21);
    const std::vector<ChunkProfile> profiles{ChunkProfile{1, 0, 0, 1}};
    const ChunkSearch search(p, profiles, 4096, "AVC1");
    ChunkCandidate out;
    EXPECT_EQ(search.search(audio.data(), int64_t(audio.size()), int64_t(audio.size()), out), int64_t(videoAt));
}

TEST(Avc1Rules, MissingPpsIsClonedIntoTheAvcC) {
    // A PPS as x264 writes it: id 0, SPS 0, CABAC, ...
    const Bytes pps{0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    auto avc = std::make_unique<H264Config>();
    std::copy(pps.begin(), pps.end(), avc->m_pps[0]);
    avc->m_ppsLength[0] = uint16_t(pps.size());
    avc->m_ppsCount = 1;
    PpsIdSet referenced, reported;
    referenced.set(0);
    referenced.set(3);
    addMissingPps(*avc, referenced, reported);
    ASSERT_EQ(avc->ppsCount(), 2);
    H264::PictureParameterSet clone;
    std::string problem;
    ASSERT_EQ(H264::parsePictureParameterSet(avc->m_pps[1], avc->m_ppsLength[1], clone, problem),
              bitstream::ParseResult::Ok)
        << problem;
    EXPECT_EQ(clone.pic_parameter_set_id, 3u);
    // Once present it is not added again.
    addMissingPps(*avc, referenced, reported);
    EXPECT_EQ(avc->ppsCount(), 2);

    // A full avcC takes no clone; the id is reported, not added.
    for (int i = 1; i < kMaxParameterSets; ++i) {
        std::copy(pps.begin(), pps.end(), avc->m_pps[i]);
        avc->m_ppsLength[i] = uint16_t(pps.size());
    }
    avc->m_ppsCount = kMaxParameterSets;
    referenced.set(7);
    addMissingPps(*avc, referenced, reported);
    EXPECT_EQ(avc->ppsCount(), kMaxParameterSets);
    EXPECT_TRUE(reported.test(7));
}

TEST(Avc1Rules, FrameThatSwallowsTheStartOfARunIsAChanceMatch) {
    // Sound in front of a chunk reads as a 100-byte slice that runs 36
    // bytes into the chunk's first frame. The two frames of the chunk win.
    Avc1SampleProfile p;
    Bytes frame;
    appendNal(frame, 0x41, 200000);
    ASSERT_TRUE(p.learn(frame.data(), int64_t(frame.size())));
    p.finishLearning();
    Bytes data;
    appendNal(data, 0x41, 64);
    data[3] = 100;  // the length claims 36 bytes of what follows
    const size_t chunkAt = data.size();
    data.insert(data.end(), frame.begin(), frame.end());
    data.insert(data.end(), frame.begin(), frame.end());
    data.insert(data.end(), 16, 0x5A);
    const std::vector<ChunkProfile> profiles{ChunkProfile{2, 0, 0, 1}};
    const ChunkSearch search(p, profiles, 4096, "AVC1");
    ChunkCandidate out;
    EXPECT_EQ(search.search(data.data(), int64_t(data.size()), 64, out), int64_t(chunkAt));
    EXPECT_EQ(out.samples.size(), 2u);
}
