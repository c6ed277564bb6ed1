// The screen in front of FAAD2 must never turn away what the decoder takes:
// over real AAC from ffmpeg (mono to 5.1, 8 to 48 kHz), every frame passes
// it, and at every byte position of the frames and of H.264 data it
// rejects, a fresh decoder rejects too.

#include "analysers/audio/aac_frame_screen.h"

#include "support/test_support.h"

#include <neaacdec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Sound {
    const char* name;
    int rate;
    int channels;
    int kbps;
};

void PrintTo(const Sound& s, std::ostream* os) { *os << s.name; }

// Raw frames of an ADTS stream and the AudioSpecificConfig its headers give.
struct RawAac {
    std::vector<uint8_t> config;
    std::vector<uint8_t> bytes;      // the frames back to back, as a movie holds them
    std::vector<size_t> frameStarts;
};

RawAac fromAdts(const std::vector<uint8_t>& adts) {
    RawAac out;
    for (size_t pos = 0; pos + 7 <= adts.size();) {
        const uint8_t* h = adts.data() + pos;
        if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0)
            break;
        const size_t header = (h[1] & 1) ? 7 : 9;
        const size_t length = size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
        if (out.config.empty()) {
            const unsigned objectType = (h[2] >> 6) + 1, rateIndex = (h[2] >> 2) & 15;
            const unsigned channels = (h[2] & 1) << 2 | h[3] >> 6;
            out.config = {uint8_t(objectType << 3 | rateIndex >> 1), uint8_t((rateIndex & 1) << 7 | channels << 3)};
        }
        out.frameStarts.push_back(out.bytes.size());
        out.bytes.insert(out.bytes.end(), h + header, h + length);
        pos += length;
    }
    return out;
}

// What FAAD2, set up afresh, makes of the bytes at `data`: does it take a
// frame with the configuration's channels?
bool decoderTakes(std::vector<uint8_t>& config, const uint8_t* data, size_t n) {
    NeAACDecHandle handle = NeAACDecOpen();
    NeAACDecConfigurationPtr settings = NeAACDecGetCurrentConfiguration(handle);
    settings->outputFormat = FAAD_FMT_FLOAT;
    settings->downMatrix = 0;
    NeAACDecSetConfiguration(handle, settings);
    unsigned long rate = 0;
    unsigned char channels = 0;
    bool takes = false;
    if (NeAACDecInit2(handle, config.data(), static_cast<unsigned long>(config.size()), &rate, &channels) >= 0) {
        NeAACDecFrameInfo info{};
        NeAACDecDecode(handle, &info, const_cast<unsigned char*>(data), static_cast<unsigned long>(n));
        takes = info.error == 0 && info.channels == channels;
    }
    NeAACDecClose(handle);
    return takes;
}

}  // namespace

class AacScreen : public ::testing::TestWithParam<Sound> {};

TEST_P(AacScreen, RejectsOnlyWhatTheDecoderRejects) {
    const Sound& s = GetParam();
    const std::string adts = testsupport::fixture(
        std::string("screen_") + s.name + ".aac",
        "-f lavfi -i anoisesrc=d=2:a=0.3:seed=13:r=" + std::to_string(s.rate) + " -c:a aac -ac " +
            std::to_string(s.channels) + " -b:a " + std::to_string(s.kbps) + "k");
    RawAac aac = fromAdts(testsupport::readFile(adts));
    ASSERT_GT(aac.frameStarts.size(), 10u);
    const AacFrameScreen screen(aac.config.data(), uint32_t(aac.config.size()));
    for (size_t start : aac.frameStarts)
        EXPECT_FALSE(screen.rejects(aac.bytes.data() + start, aac.bytes.size() - start)) << "frame at " << start;

    // Behind the sound, picture data: the other thing a search meets.
    const std::string video = testsupport::fixture("screen_video.h264",
                                                   "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 "
                                                   "-c:v libx264 -pix_fmt yuv420p");
    std::vector<uint8_t> bytes = aac.bytes;
    const std::vector<uint8_t> picture = testsupport::readFile(video);
    bytes.insert(bytes.end(), picture.begin(), picture.begin() + std::min<size_t>(picture.size(), 24000));
    size_t rejected = 0, tried = 0;
    for (size_t pos = 0; pos + 8 < bytes.size(); pos += 11, ++tried) {
        if (!screen.rejects(bytes.data() + pos, bytes.size() - pos))
            continue;
        ++rejected;
        EXPECT_FALSE(decoderTakes(aac.config, bytes.data() + pos, bytes.size() - pos)) << "position " << pos;
    }
    // A screen that lets everything through would pass the above and save
    // nothing. (Positions whose first element it does not read, such as a
    // coupling or program config element, all go to the decoder.)
    EXPECT_GT(rejected * 3, tried);
}

INSTANTIATE_TEST_SUITE_P(Sounds, AacScreen,
                         ::testing::Values(Sound{"mono8k", 8000, 1, 24}, Sound{"stereo22k", 22050, 2, 64},
                                           Sound{"stereo44k", 44100, 2, 128}, Sound{"surround48k", 48000, 6, 256}),
                         [](const ::testing::TestParamInfo<Sound>& i) { return std::string(i.param.name); });
