// Recordings whose samples carry units a plain encoder never writes, as
// phones store them: the scalable-stream prefix unit (H.264 type 14) that
// slow-motion phones put in front of every slice, each picture wrapped whole
// in one such unit in byte-stream form, and a Dolby Vision metadata unit
// (HEVC type 62) behind every picture. Repaired with a reference of another
// scene, judged by packet checksums.

#include "support/recorder_units.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/atom_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using recorderunits::Bytes;

// A prefix unit in front of every slice, with the slice's nal_ref_idc and a
// temporal layer that alternates as a two-layer recorder's does. (The
// delimiter in front of each picture keeps ffmpeg's parser from cutting the
// picture at the prefix unit.)
Bytes prefixInFrontOfSlices(const uint8_t* nal, size_t index) {
    if (!nal || (nal[0] & 0x1B) != 1)
        return {};
    const uint8_t temporalId = uint8_t(index % 2);
    return {0, 0, 0, 1, uint8_t((nal[0] & 0x60) | 14), 0x80, 0x80, uint8_t(temporalId << 5 | 0x07)};
}

// A metadata unit behind every picture: in front of each access unit
// delimiter but the first, and behind the last picture. Its payload changes
// from picture to picture, as the recorder's does.
recorderunits::Planter metadataBehindPictures() {
    auto pictures = std::make_shared<size_t>(0);
    return [pictures](const uint8_t* nal, size_t) -> Bytes {
        constexpr uint8_t kAccessUnitDelimiter = 35;
        if (nal && (nal[0] >> 1) != kAccessUnitDelimiter)
            return {};
        if (nal && (*pictures)++ == 0)
            return {};
        const uint8_t tick = uint8_t(1 + *pictures % 250);
        return {0, 0, 0, 1, 62 << 1, 1, 0x19, 0x08, tick, 0x45, 0x13, tick, 0x80};
    };
}

std::string prefixed(const std::string& test, const std::string& picture) {
    return recorderunits::plantedRecording(test, "svc.mp4", picture,
                                           "-c:v libx264 -preset veryfast -bf 0 -g 25 -slices 2 -x264-params aud=1",
                                           "h264", prefixInFrontOfSlices, "-chunk_duration 500000");
}

std::string dolbyVision(const std::string& test, const std::string& picture) {
    return recorderunits::plantedRecording(
        test, "dv.mp4", picture,
        "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params log-level=error:bframes=0:keyint=25:aud=1", "hevc",
        metadataBehindPictures(), "-tag:v hvc1 -chunk_duration 500000");
}

// Each picture stored as one unit whose length covers the picture's own
// units in byte-stream form, behind a short prefix unit. The pictures' order
// counts sit behind those start codes; a repair that cannot read them takes
// the reference's B-frame pattern, and a reference of another scene has
// another one: so adaptive B-frames here (the pattern follows the scene),
// two slices and a delimiter in every picture, then wrapped in place.
std::string wrapped(const std::string& test, const std::string& picture) {
    const std::string movie = testsupport::scratchDir(test) + "/wrapped.mp4";
    if (testsupport::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + picture +
                                "=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 "
                                "-c:v libx264 -pix_fmt yuv420p -preset veryfast -bf 3 -b_strategy 2 -g 50 -slices 2 "
                                "-x264-params aud=1 -c:a aac " + testsupport::quote(movie))
            .exitCode != 0)
        return "";
    Bytes data = testsupport::readFile(movie);
    for (const testmedia::Packet& p : testmedia::probePackets(movie)) {
        if (p.stream != 0 || p.pos < 0 || size_t(p.pos + p.size) > data.size() || p.size < 12)
            continue;
        uint8_t* s = data.data() + p.pos;
        // The picture's units but its delimiter (which x264 puts behind the
        // first picture's SEI).
        std::vector<std::pair<int64_t, int64_t>> units;
        bool delimiter = false;
        for (int64_t at = 0; at + 4 <= p.size;) {
            const int64_t unit = int64_t(testsupport::be32(s + at));
            if (unit == 2 && (s[at + 4] & 0x1F) == 9)
                delimiter = true;
            else
                units.emplace_back(at + 4, unit);
            at += 4 + unit;
        }
        // The delimiter's 6 bytes and the units' lengths pay for the wrapping
        // length, a 4-byte prefix unit and a 3- or 4-byte start code per unit.
        int64_t longCodes = 6 + 4 * int64_t(units.size()) - 8 - 3 * int64_t(units.size());
        if (!delimiter || longCodes < 0 || longCodes > int64_t(units.size()))
            return "";
        Bytes wrapped = {0, 0, 0, 0, 0x6E, 0x80, 0x80, 0x07};
        testsupport::setBe32(wrapped.data(), uint32_t(p.size - 4));
        for (const auto& [at, size] : units) {
            if (longCodes-- > 0)
                wrapped.push_back(0);
            wrapped.insert(wrapped.end(), {0, 0, 1});
            wrapped.insert(wrapped.end(), s + at, s + at + size);
        }
        if (wrapped.size() != size_t(p.size))
            return "";
        std::copy(wrapped.begin(), wrapped.end(), s);
    }
    return testsupport::writeFile(movie, data) ? movie : "";
}

struct Units {
    const char* name;
    std::function<std::string(const std::string& test, const std::string& picture)> record;
};

void PrintTo(const Units& u, std::ostream* os) { *os << u.name; }

class RecorderUnits : public ::testing::TestWithParam<Units> {};

}  // namespace

// Every picture comes back, in presentation order, with the sound; ffmpeg
// finds nothing in the repair it did not find in the original.
TEST_P(RecorderUnits, StayWithTheirPictures) {
    const std::string test = std::string("RecorderUnits.") + GetParam().name;
    const std::string original = GetParam().record(test + "_original", "testsrc2");
    const std::string ref = GetParam().record(test + "_reference", "mandelbrot");
    ASSERT_FALSE(original.empty());
    ASSERT_FALSE(ref.empty());
    const repairrun::Outcome o = repairrun::repair(test, ref, repairrun::withoutIndex(original), "", original);
    EXPECT_EQ(o.exitCode, 0) << o.log;
    EXPECT_EQ(o.video.alive, 50u);
    EXPECT_EQ(o.video.recovered, o.video.alive) << o.video;
    EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered) << o.video;
    EXPECT_GE(o.audio.percent(), 97.0) << o.audio;
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), repairrun::decodeErrors(original));
}

INSTANTIATE_TEST_SUITE_P(Phones, RecorderUnits,
                         ::testing::Values(Units{"h264_prefix_units", prefixed}, Units{"h264_wrapped", wrapped},
                                           Units{"hevc_dolby_vision", dolbyVision}),
                         [](const auto& info) { return std::string(info.param.name); });
