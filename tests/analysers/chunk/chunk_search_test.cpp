// Which start the chunk search takes where candidates overlap, and where a
// picture that the end of a cut recording broke off begins.

#include "analysers/chunk/chunk_search.h"
#include "analysers/chunk/cut_picture.h"
#include "analysers/chunk/learned_sample_codec.h"

#include "support/nal_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using testsupport::Bytes;

// A codec that learns nothing and sees no sample anywhere; the codecs below
// tell what they see.
class NoSampleCodec : public LearnedSampleCodec {
public:
    void clear() override {}
    bool learn(const uint8_t*, int64_t) override { return true; }
    void finishLearning() override {}
    bool empty() const override { return false; }
    bool wholeSample(const uint8_t*, int64_t) const override { return false; }
    bool boundedUnitAt(const uint8_t*, int64_t) const override { return false; }
    int64_t nextPlausibleStart(const uint8_t*, int64_t, int64_t, int64_t) const override { return -1; }
    int64_t measureSample(const uint8_t*, int64_t) const override { return 0; }
    bool continuesAt(const uint8_t*, int64_t) const override { return false; }
    bool beginsAfterPadding(const uint8_t*, int64_t) const override { return false; }
    int32_t parameterSetId(const uint8_t*, int64_t) const override { return -1; }
};

// Pictures of length-prefixed units whose first byte is below 0x80; a
// picture ends where no such unit fits, and a chunk holds one picture.
class UnitCodec : public NoSampleCodec {
public:
    bool wholeSample(const uint8_t*, int64_t) const override { return true; }
    bool boundedUnitAt(const uint8_t* data, int64_t n) const override { return unitAt(data, n); }
    int64_t nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const override {
        for (int64_t p = from; p <= last; ++p)
            if (unitAt(data + p, n - p))
                return p;
        return -1;
    }
    int64_t measureSample(const uint8_t* data, int64_t n) const override {
        int64_t pos = 0;
        while (unitAt(data + pos, n - pos))
            pos += 4 + int64_t(bitstream::readBE32(data + pos));
        return pos;
    }

private:
    static bool unitAt(const uint8_t* data, int64_t n) {
        if (n < 5)
            return false;
        const int64_t length = int64_t(bitstream::readBE32(data));
        return length > 0 && length + 4 <= n && data[4] < 0x80;
    }
};

// A codec that knows one sequence and one picture parameter set from the
// reference, and sees no whole picture in units without a slice.
class ParameterSetCodec : public NoSampleCodec {
public:
    ParameterSetCodec(Bytes sps, Bytes pps) : m_sps(std::move(sps)), m_pps(std::move(pps)) {}
    bool carriedParameterSet(const uint8_t* unit, int64_t length) const override {
        return same(m_sps, unit, length) || same(m_pps, unit, length);
    }

private:
    static bool same(const Bytes& set, const uint8_t* unit, int64_t length) {
        return int64_t(set.size()) == length && std::memcmp(set.data(), unit, set.size()) == 0;
    }
    Bytes m_sps, m_pps;
};

}  // namespace

TEST(ChunkSearch, LengthReadEarlyLosesToThePicturesOwnUnits) {
    // Sound whose last frame ends in 00 00 07, then a picture of two units
    // (496 and 1365 bytes). Three bytes early, those bytes and the first
    // byte of the picture's length read as one unit of 1792 bytes.
    Bytes data(64, 0xC5);
    for (uint8_t b : {0x00, 0x00, 0x07})
        data.push_back(b);
    const size_t pictureAt = data.size();
    for (uint32_t length : {496u, 1365u}) {
        Bytes unit(length, 0x11);
        unit[0] = 0x02;
        testsupport::appendLengthPrefixed(data, unit.data(), unit.size());
    }
    const size_t pictureEnd = data.size();
    data.insert(data.end(), 600, 0xC5);

    const UnitCodec codec;
    const std::vector<ChunkProfile> profiles{ChunkProfile{2, 0, 0, 1}};
    const ChunkSearch search(codec, profiles, 0, "TEST");
    ChunkCandidate out;
    ASSERT_EQ(search.search(data.data(), int64_t(data.size()), int64_t(data.size()), out), int64_t(pictureAt));
    ASSERT_EQ(out.samples.size(), 1u);
    EXPECT_EQ(out.samples[0].size, int32_t(pictureEnd - pictureAt));

    // A picture of one unit, behind the same zeros: the later start splits
    // nothing, so the earlier one stands (nothing tells them apart).
    Bytes single(data.begin(), data.begin() + int64_t(pictureAt));
    Bytes unit(1792, 0x11);
    unit[0] = 0x02;
    testsupport::appendLengthPrefixed(single, unit.data(), unit.size());
    single.insert(single.end(), 600, 0xC5);
    EXPECT_EQ(search.search(single.data(), int64_t(single.size()), int64_t(single.size()), out), 64);
}

TEST(CutPicture, CutInTheUnitsInFrontOfTheFirstSlice) {
    const Bytes sps{0x42, 0x01, 0x01, 0x04, 0x08, 0x00, 0x00, 0x03, 0x00, 0x9d, 0x28};
    const Bytes pps{0x44, 0x01, 0xc0, 0x71, 0x82, 0x12};
    Bytes data(3000, 0x5a);  // sound
    const int64_t pictureAt = int64_t(data.size());
    testsupport::appendLengthPrefixed(data, sps.data(), sps.size());
    testsupport::appendLengthPrefixed(data, pps.data(), pps.size());
    // A message the cut left 200 of its 2,282 bytes of.
    for (uint8_t b : {0x00, 0x00, 0x08, 0xea, 0x4e, 0x01})
        data.push_back(b);
    data.insert(data.end(), 194, 0xff);
    const int64_t n = int64_t(data.size());

    const ParameterSetCodec carried(sps, pps);
    EXPECT_EQ(cutPictureStart(carried, data.data(), n, 1 << 20), pictureAt);

    // Parameter sets of another recorder prove nothing: the bytes may be
    // sound that happens to chain.
    Bytes otherSps = sps, otherPps = pps;
    otherSps.back() ^= 1;
    otherPps.back() ^= 1;
    const ParameterSetCodec other(otherSps, otherPps);
    EXPECT_EQ(cutPictureStart(other, data.data(), n, 1 << 20), n);
}
