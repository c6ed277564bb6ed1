// How long the repaired tracks last: H.264 movies made by ffmpeg lose their
// index and come back with each track as long as its recovered packets were
// in the original, whatever odd timing the reference's tables hold.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using repairrun::Outcome;
using repairrun::repair;
using repairrun::withoutIndex;
using testsupport::Bytes;
using testsupport::be32;

namespace {

const std::string kEncode = "-c:v libx264 -bf 2 -g 25 -crf 30 -pix_fmt yuv420p -c:a aac -ac 2";

// 2 s of H.264 with B-frames and stereo AAC at 48 kHz, each test's original.
std::string recording() { return testmedia::movie("timing_aac.mp4", kEncode); }

// Replaces the atom at `at` (32-bit sizes) by `replacement` and corrects the
// sizes of the atoms around it. The movies here keep their moov behind the
// media, so no chunk offset moves.
void replaceAtom(Bytes& file, size_t at, const Bytes& replacement) {
    const size_t old = be32(&file[at]);
    for (const testsupport::AtomSpan& a : testsupport::atomTree(file))
        if (a.start < at && at < a.start + a.size)
            testsupport::setBe32(&file[a.start], uint32_t(a.size + replacement.size() - old));
    file.erase(file.begin() + long(at), file.begin() + long(at + old));
    file.insert(file.begin() + long(at), replacement.begin(), replacement.end());
}

// Offset of the n-th (from 0) atom of this type.
size_t nth(const Bytes& file, const char* type, int n) {
    size_t at = testsupport::findType(file, type);
    while (n-- > 0 && at != std::string::npos)
        at = testsupport::findType(file, type, at + 4);
    return at == std::string::npos ? at : at - 4;
}

void expectEveryAudioPacketLasts(const std::string& file, double seconds) {
    size_t audio = 0;
    const auto all = repairrun::packets(file);
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        // The last packet's duration is whatever the track's length leaves.
        if (all[i].stream != 1)
            continue;
        ++audio;
        ASSERT_NEAR(all[i].seconds, seconds, 1e-7) << "audio packet " << audio;
    }
    EXPECT_GT(audio, 50u);
}

}  // namespace

TEST(RepairedTiming, PhoneAudioTableDoesNotTimeTheAacFrames) {
    // Phones give the first AAC frame a longer table entry (1691 ticks, not
    // 1024); taken for every frame, the sound ran 1.6 times too long. The
    // frame length is the decoder configuration's: with its frameLengthFlag
    // set, 960.
    const std::string original = recording();
    Bytes phone = testsupport::readFile(original);
    const size_t stts = nth(phone, "stts", 1);
    ASSERT_NE(stts, std::string::npos);
    uint32_t frames = 0;
    for (uint32_t e = 0, n = be32(&phone[stts + 12]); e < n; ++e)
        frames += be32(&phone[stts + 16 + 8 * e]);
    ASSERT_GT(frames, 50u);
    replaceAtom(phone, stts, testsupport::fullAtom("stts", 0, 0, testsupport::u32s({2, 1, 1691, frames - 1, 1024})));
    const std::string reference = testsupport::writeScratch("RepairedTiming.PhoneReference", "phone.mp4", phone);

    Outcome o = repair("RepairedTiming.Phone", reference, withoutIndex(original), "", original);
    EXPECT_GE(o.audio.percent(), 97.0);
    EXPECT_TRUE(o.audio.timed()) << o.audio;
    EXPECT_TRUE(o.video.timed()) << o.video;
    expectEveryAudioPacketLasts(o.repaired, 1024.0 / 48000);

    // The DecoderSpecificInfo (tag 5, ffmpeg's 4-byte length) holds the
    // AudioSpecificConfig of 48 kHz stereo AAC LC, 0x11 0x90...; the flag is
    // bit 2 of its second byte.
    const uint8_t tag[] = {0x05, 0x80, 0x80, 0x80};
    const auto at = std::search(phone.begin(), phone.end(), std::begin(tag), std::end(tag));
    ASSERT_LT(at + 7, phone.end());
    ASSERT_EQ(at[5], 0x11);
    ASSERT_EQ(at[6], 0x90);
    at[6] |= 0x04;
    const std::string shortFrames =
        testsupport::writeScratch("RepairedTiming.Phone960Reference", "phone960.mp4", phone);
    o = repair("RepairedTiming.Phone960", shortFrames, withoutIndex(original), "", original);
    EXPECT_GE(o.audio.percent(), 97.0);
    expectEveryAudioPacketLasts(o.repaired, 960.0 / 48000);
}

class RepairedTimingRecordings : public repairrun::Cases {};

TEST_P(RepairedTimingRecordings, ComeBack) { repairrun::expectRepaired(GetParam()); }

// A recorder that leaves out repeated pictures (ffmpeg's mpdecimate on a
// picture that changes every other frame) holds most frames two periods:
// its rate is the short duration, and taking the common one made the
// repaired video twice as long.
INSTANTIATE_TEST_SUITE_P(
    Ffmpeg, RepairedTimingRecordings,
    ::testing::Values(repairrun::Case{
        "timing_reference_skips_unchanged_pictures", {"timing_aac.mp4", testmedia::movieArgs(kEncode)},
        {"timing_mpdecimate.mp4", "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i "
                                  "sine=frequency=440:sample_rate=48000:duration=2 -vf mpdecimate -fps_mode vfr " + kEncode},
        repairrun::Timed | repairrun::SoundTimed, 0, 99, 0}),
    repairrun::caseName);

TEST(RepairedTiming, SlowMotionReferenceDecodesFramesTicksApart) {
    // A slow-motion recorder decodes four frames a tick apart and shows them
    // at the playback rate through the composition offsets: its commonest
    // decode duration is one tick, and taking it made the repaired video
    // hundreds of times too short.
    const std::string original = recording();
    Bytes packed = testsupport::readFile(original);
    const size_t stts = nth(packed, "stts", 0), ctts = nth(packed, "ctts", 0);
    ASSERT_NE(stts, std::string::npos);
    ASSERT_NE(ctts, std::string::npos);
    std::vector<int64_t> shown;
    int64_t decode = 0;
    for (uint32_t e = 0, n = be32(&packed[stts + 12]); e < n; ++e)
        for (uint32_t i = 0; i < be32(&packed[stts + 16 + 8 * e]); ++i, decode += be32(&packed[stts + 20 + 8 * e]))
            shown.push_back(decode);
    for (uint32_t e = 0, n = be32(&packed[ctts + 12]), k = 0; e < n; ++e)
        for (uint32_t i = 0; i < be32(&packed[ctts + 16 + 8 * e]) && k < shown.size(); ++i)
            shown[k++] += int32_t(be32(&packed[ctts + 20 + 8 * e]));
    const int64_t period = shown.size() > 1 ? be32(&packed[stts + 20]) : 0;
    ASSERT_GT(period, 8);
    std::vector<uint32_t> durations, offsets;
    for (size_t i = 0; i < shown.size(); ++i) {
        const int64_t packedDecode = int64_t(i / 4) * 4 * period + int64_t(i % 4);
        durations.insert(durations.end(), {1, uint32_t(i % 4 == 3 ? 4 * period - 3 : 1)});
        offsets.insert(offsets.end(), {1, uint32_t(shown[i] - packedDecode)});
    }
    auto table = [](const char* type, std::vector<uint32_t> entries) {
        entries.insert(entries.begin(), uint32_t(entries.size() / 2));
        return testsupport::fullAtom(type, 0, 0, testsupport::u32s(entries));
    };
    replaceAtom(packed, nth(packed, "ctts", 0), table("ctts", offsets));
    replaceAtom(packed, nth(packed, "stts", 0), table("stts", durations));
    const std::string reference = testsupport::writeScratch("RepairedTiming.SlowReference", "slow.mp4", packed);
    const Outcome o = repair("RepairedTiming.Slow", reference, withoutIndex(original), "", original);
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_TRUE(o.video.timed()) << o.video;
}

TEST(RepairedTiming, Version1MovieAndMediaHeaders) {
    // Recorders that stamp 64-bit times write mvhd and mdhd in version 1:
    // creation and modification times of 8 bytes in front of the timescale,
    // and a duration of 8 bytes. The reference's timescales are read from
    // there.
    const std::string original = recording();
    Bytes v1 = testsupport::readFile(original);
    constexpr uint64_t kCreated = 3800000000u;  // seconds since 1904: in 2024
    const std::pair<const char*, int> headers[] = {{"mvhd", 0}, {"mdhd", 0}, {"mdhd", 1}};
    for (const auto& [type, n] : headers) {
        const size_t at = nth(v1, type, n);
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(v1[at + 8], 0);
        const uint8_t* p = v1.data() + at + 12;
        const uint8_t* end = v1.data() + at + be32(&v1[at]);
        Bytes payload;
        testsupport::put64(payload, kCreated);
        testsupport::put64(payload, kCreated + 1);
        testsupport::put32(payload, be32(p + 8));  // timescale
        testsupport::put64(payload, be32(p + 12));  // duration
        payload.insert(payload.end(), p + 16, end);
        replaceAtom(v1, at, testsupport::fullAtom(type, 1, 0, payload));
    }
    const std::string reference = testsupport::writeScratch("RepairedTiming.V1Reference", "v1.mp4", v1);
    const Outcome o = repair("RepairedTiming.V1", reference, withoutIndex(original), "", original);
    EXPECT_GE(o.video.percent(), 99.0);
    EXPECT_GE(o.audio.percent(), 97.0);
    EXPECT_TRUE(o.video.timed()) << o.video;
    EXPECT_TRUE(o.audio.timed()) << o.audio;
    EXPECT_NEAR(std::atof(testsupport::ffprobe(o.repaired, "-show_entries format=duration -of csv=p=0").c_str()), 2.0, 0.1);
}
