// Where a picture that the end of a cut recording broke off begins.

#include "analysers/chunk/cut_picture.h"
#include "analysers/chunk/learned_sample_codec.h"

#include "support/nal_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using testsupport::Bytes;

// A codec that knows one sequence and one picture parameter set from the
// reference, and sees no whole picture in units without a slice.
class ParameterSetCodec : public LearnedSampleCodec {
public:
    ParameterSetCodec(Bytes sps, Bytes pps) : m_sps(std::move(sps)), m_pps(std::move(pps)) {}
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
