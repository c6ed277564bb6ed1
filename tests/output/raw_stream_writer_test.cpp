// Length-prefixed video to start-code form, byte for byte.

#include "output/raw_stream_writer.h"
#include "support/nal_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using testsupport::Bytes;
using testsupport::lengthPrefixed;

}  // namespace

// The H.264 path (parameter sets, then start codes) is judged by ffmpeg
// decoding what OutputWriter.RawVideoStreamIsAnnexBThatDecodes writes.
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
    // The arrays go in front of the first sample only; a length that runs
    // past the sample drops the unit.
    Bytes second = lengthPrefixed({{0x02, 0x01}});
    second.insert(second.end(), {0, 0, 0, 9, 0x02});
    w.writeVideoSample(makeFourcc("hvc1"), second.data(), second.size(), nullptr, hevc.get(), nullptr);
    ASSERT_TRUE(w.close());
    EXPECT_EQ(testsupport::readFile(dir + "/v.hevc"),
              (Bytes{0, 0, 0, 1, 0x40, 0x01, 0, 0, 0, 1, 0x42, 0, 0, 0, 1, 0x26, 0x01, 0, 0, 0, 1, 0x02, 0x01}));

    auto esds = std::make_unique<ESDescriptor>();
    esds->m_decoderInfoLength = 3;
    esds->m_decoderInfo[0] = 0, esds->m_decoderInfo[1] = 0, esds->m_decoderInfo[2] = 0x01;
    RawStreamWriter m;
    ASSERT_TRUE(m.open(dir + "/v.m4v"));
    const Bytes frame = {0, 0, 1, 0xB6, 0x10};
    m.writeVideoSample(makeFourcc("mp4v"), frame.data(), frame.size(), nullptr, nullptr, esds.get());
    m.writeVideoSample(makeFourcc("mp4v"), frame.data(), frame.size(), nullptr, nullptr, esds.get());
    ASSERT_TRUE(m.close());
    EXPECT_EQ(testsupport::readFile(dir + "/v.m4v"), (Bytes{0, 0, 1, 0, 0, 1, 0xB6, 0x10, 0, 0, 1, 0xB6, 0x10}));
}
