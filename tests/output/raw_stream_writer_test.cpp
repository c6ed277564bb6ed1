// Length-prefixed video to start-code form, byte for byte.

#include "output/raw_stream_writer.h"
#include "support/nal_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::Bytes;
using testsupport::lengthPrefixed;

Bytes written(const std::string& name) { return testsupport::readFile(name); }

}  // namespace

TEST(RawStreamWriter, AvcGetsParameterSetsThenStartCodes) {
    const std::string dir = testsupport::scratchDir("RawAvc");
    auto avc = std::make_unique<H264Config>();
    avc->m_lengthSizeByte = 0xFF;  // 4-byte lengths
    avc->m_spsCountByte = 0xE1;
    avc->m_spsLength[0] = 3;
    avc->m_sps[0][0] = 0x67, avc->m_sps[0][1] = 0xAA, avc->m_sps[0][2] = 0xBB;
    avc->m_ppsCount = 1;
    avc->m_ppsLength[0] = 2;
    avc->m_pps[0][0] = 0x68, avc->m_pps[0][1] = 0xCC;
    RawStreamWriter w;
    ASSERT_TRUE(w.open(dir + "/v.h264"));
    // Two NAL units, then a length that runs past the sample: dropped.
    Bytes sample = lengthPrefixed({{0x65, 0x01}, {0x06}});
    sample.insert(sample.end(), {0, 0, 0, 9, 0x41});
    w.writeVideoSample(makeFourcc("avc1"), sample.data(), sample.size(), avc.get(), nullptr, nullptr);
    const Bytes second = lengthPrefixed({{0x41}});
    w.writeVideoSample(makeFourcc("avc1"), second.data(), second.size(), avc.get(), nullptr, nullptr);
    ASSERT_TRUE(w.close());
    EXPECT_EQ(written(dir + "/v.h264"), (Bytes{0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0, 0, 0, 1, 0x68, 0xCC,  //
                                               0, 0, 0, 1, 0x65, 0x01, 0, 0, 0, 1, 0x06,              //
                                               0, 0, 0, 1, 0x41}));
}

TEST(RawStreamWriter, HevcArraysAndMpeg4DecoderInfoGoFirst) {
    const std::string dir = testsupport::scratchDir("RawHevc");
    auto hevc = std::make_unique<HEVCConfig>();
    hevc->m_lengthSizeByte = 0x0F;
    hevc->m_arrayCount = 2;
    hevc->m_arrays[0].m_nalType = 32;
    hevc->m_arrays[0].m_nalCount = 1;
    hevc->m_arrays[0].m_nalLength[0] = 2;
    hevc->m_arrays[0].m_nal[0] = {0x40, 0x01};
    hevc->m_arrays[1].m_nalType = 33;
    hevc->m_arrays[1].m_nalCount = 1;
    hevc->m_arrays[1].m_nalLength[0] = 1;
    hevc->m_arrays[1].m_nal[0] = {0x42};
    RawStreamWriter w;
    ASSERT_TRUE(w.open(dir + "/v.hevc"));
    const Bytes sample = lengthPrefixed({{0x26, 0x01}, {}, {0x99}});  // the zero length ends the sample
    w.writeVideoSample(makeFourcc("hvc1"), sample.data(), sample.size(), nullptr, hevc.get(), nullptr);
    ASSERT_TRUE(w.close());
    EXPECT_EQ(written(dir + "/v.hevc"),
              (Bytes{0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x42, 0, 0, 0, 1, 0x26, 0x01}));

    auto esds = std::make_unique<ESDescriptor>();
    esds->m_decoderInfoLength = 3;
    esds->m_decoderInfo[0] = 0, esds->m_decoderInfo[1] = 0, esds->m_decoderInfo[2] = 0x01;
    RawStreamWriter m;
    ASSERT_TRUE(m.open(dir + "/v.m4v"));
    const Bytes frame = {0, 0, 1, 0xB6, 0x10};
    m.writeVideoSample(makeFourcc("mp4v"), frame.data(), frame.size(), nullptr, nullptr, esds.get());
    m.writeVideoSample(makeFourcc("mp4v"), frame.data(), frame.size(), nullptr, nullptr, esds.get());
    ASSERT_TRUE(m.close());
    EXPECT_EQ(written(dir + "/v.m4v"), (Bytes{0, 0, 1, 0, 0, 1, 0xB6, 0x10, 0, 0, 1, 0xB6, 0x10}));
}
