#include "bitstream/hevc/hevc_utils.h"
#include "qt/movie_file.h"
#include "reference/reference_info.h"
#include "support/log_capture.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using testsupport::LogCapture;

namespace {

std::unique_ptr<ReferenceInfo> load(const std::string& file) {
    auto info = ReferenceInfo::build(file, false);
    EXPECT_TRUE(info->isOpen()) << file;
    return info;
}

std::string tiny(const std::string& name, const std::string& args) {
    return testsupport::fixture(name, "-f lavfi -i testsrc=size=320x240:rate=25:duration=0.2 " + args);
}

}  // namespace

// The class picks the analyser family; the codec stays what the movie declares.
TEST(ReferenceInfo, ClassOfCodecAliases) {
    const std::string aivx = tiny("ref_aivx.mov", "-c:v libx264 -pix_fmt yuv420p -tag:v aivx");
    const std::string xd5e = tiny("ref_xd5e.mov", "-c:v mpeg2video -tag:v xd5e");
    const std::string m2v1 = tiny("ref_m2v1.mov", "-c:v mpeg2video");  // what ffmpeg picks for other sizes
    const std::string hdv6 = tiny("ref_hdv6.mov", "-c:v mpeg2video -tag:v hdv6");
    const std::string mp4v = tiny("ref_mpeg2.mp4", "-c:v mpeg2video");  // mp4v with object type 0x61
    const std::string mpeg4 = tiny("ref_mpeg4.mp4", "-c:v mpeg4");       // mp4v with object type 0x20
    const std::string dv = testsupport::fixture(
        "ref_dv.mov", "-f lavfi -i testsrc=size=720x480:rate=30000/1001 -frames:v 1 -c:v dvvideo -pix_fmt yuv411p");
    // ffmpeg always declares DV as "dvc "; the sample description's format
    // field sits 16 bytes after the stsd type.
    const std::string dvhp = testmedia::patchedCopy(dv, "dvhp.mov", "stsd", 16, {'d', 'v', 'h', 'p'});

    struct Case {
        std::string file, codec, cls;
    } cases[] = {{aivx, "aivx", "avc1"}, {xd5e, "xd5e", "MPG2"}, {m2v1, "m2v1", "MPG2"}, {hdv6, "hdv6", "MPG2"},
                 {mp4v, "mp4v", "MPG2"},
                 {mpeg4, "mp4v", "mp4v"}, {dv, "dvc ", "dvc "},  {dvhp, "dvhp", "dvc "}};
    for (const Case& c : cases) {
        auto info = load(c.file);
        EXPECT_EQ(info->video().m_codec, c.codec) << c.file;
        EXPECT_EQ(info->video().m_class, c.cls) << c.file;
    }
}

// A zero media timescale cannot time frames: 600 is assumed and marked as such.
TEST(ReferenceInfo, ZeroTimescaleBecomes600) {
    const std::string source = testmedia::h264OnlyMov();
    // mdhd v0: version and flags, creation and modification time, then the timescale.
    const std::string file = testmedia::patchedCopy(source, "ts0.mov", "mdhd", 16, {0, 0, 0, 0});
    auto info = load(file);
    EXPECT_EQ(info->video().m_timescale, 600u);
    EXPECT_TRUE(info->video().m_timescaleIsDefault);
    LogCapture log(LogLevel::Notice);
    info->print();
    EXPECT_TRUE(log.has(LogLevel::Notice, "video time scale  : 600"));
}

TEST(ReferenceInfo, UnreadableReferenceGivesDefaultsOnlyWhenAsked) {
    const std::string missing = testsupport::scratchDir("reference_missing") + "/none.mov";
    testing::internal::CaptureStdout();  // QTOpen's own message
    auto plain = ReferenceInfo::build(missing, false);
    auto defaults = ReferenceInfo::build(missing, true);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(plain->isOpen());
    EXPECT_EQ(plain->video().m_fps, 0);
    EXPECT_EQ(plain->video().m_timescale, 0u);
    EXPECT_EQ(plain->videoTrack(), nullptr);

    EXPECT_FALSE(defaults->isOpen());
    EXPECT_FLOAT_EQ(defaults->video().m_fps, 29.97f);
    EXPECT_EQ(defaults->video().m_timescale, 600u);
    EXPECT_EQ(defaults->audio().m_sampleRate, 48000u);
    EXPECT_EQ(defaults->video().m_codec, "");
    defaults->analyseChunks();  // no movie: nothing to walk, no crash
    defaults->collectSamples();
    EXPECT_TRUE(defaults->videoSamples().empty());
}

// What the command line or the input set stays; the rest comes from the
// reference, and frames are timed by the merged timescale and rate.
TEST(MediaParameters, MergeFillsOnlyUnsetFields) {
    auto work = std::make_unique<VideoParameters>();
    auto ref = std::make_unique<VideoParameters>();
    ref->m_codec = "avc1";
    ref->m_fps = 25;
    ref->m_width = 1920;
    ref->m_height = 1080;
    ref->m_timescale = 12800;
    ref->m_timescaleIsDefault = false;
    ref->m_sampleDuration = 512;
    ref->m_rawEsds = {1, 2, 3};
    ref->m_colour.m_present = 1;
    ref->m_colour.m_primaries = 9;
    work->m_fps = 50;
    work->m_width = 1280;
    work->mergeFrom(*ref);
    EXPECT_EQ(work->m_codec, "avc1");
    EXPECT_EQ(work->m_fps, 50);
    EXPECT_EQ(work->m_width, 1280u);
    EXPECT_EQ(work->m_height, 1080u);
    EXPECT_EQ(work->m_sampleDuration, 256u);  // timescale / fps, not the reference's 512
    // A second source fills nothing that is set already.
    auto other = std::make_unique<VideoParameters>(*ref);
    other->m_codec = "hvc1";
    other->m_timescale = 90000;
    other->m_rawEsds = {9};
    other->m_colour.m_primaries = 1;
    work->mergeFrom(*other);
    EXPECT_EQ(work->m_codec, "avc1");
    EXPECT_EQ(work->m_timescale, 12800u);
    EXPECT_EQ(work->m_rawEsds, ref->m_rawEsds);
    EXPECT_EQ(work->m_colour.m_primaries, 9);

    auto audio = std::make_unique<AudioParameters>();
    auto refAudio = std::make_unique<AudioParameters>();
    refAudio->m_codec = "mp4a";
    refAudio->m_channels = 2;
    refAudio->m_sampleRate = 48000;
    refAudio->m_audioDataStart = 0x21;
    audio->m_codec = "sowt";
    audio->mergeFrom(*refAudio);
    EXPECT_EQ(audio->m_codec, "sowt");
    EXPECT_EQ(audio->m_channels, 2u);
    EXPECT_EQ(audio->m_sampleRate, 48000u);
    EXPECT_EQ(audio->m_audioDataStart, 0x21);
}

// A timescale that was only assumed gives way to the next source's; frame
// durations are the quotient rounded, whatever single precision made of the fps.
TEST(MediaParameters, DefaultTimescaleIsReplaced) {
    auto merged = [](std::initializer_list<std::pair<uint32_t, float>> sources, bool firstIsDefault) {
        VideoParameters work;
        bool first = true;
        for (const auto& [timescale, fps] : sources) {
            VideoParameters source;
            source.m_timescale = timescale;
            source.m_timescaleIsDefault = first && firstIsDefault;
            source.m_fps = fps;
            work.mergeFrom(source);
            first = false;
        }
        return std::make_pair(work.m_timescale, work.m_sampleDuration);
    };
    EXPECT_EQ(merged({{600, 0}, {30000, 30000.0f / 1001.0f}}, true), std::make_pair(30000u, 1001u));
    EXPECT_EQ(merged({{600, 0}, {30000, 30000.0f / 1001.0f}}, false), std::make_pair(600u, 20u));
    // Film NTSC: the quotient lands just below 1001 in double precision.
    EXPECT_EQ(merged({{24000, float(24000.0 / 1001.0)}}, false), std::make_pair(24000u, 1001u));
    // 29.97 at the classic 600 timescale: 20.02.
    EXPECT_EQ(merged({{600, 29.97f}}, false), std::make_pair(600u, 20u));
    // No source with a timescale (no reference, or one of sound alone, and
    // -fps 25): 600, which a later source's own still replaces.
    EXPECT_EQ(merged({{0, 25.0f}, {0, 0}}, false), std::make_pair(600u, 24u));
    EXPECT_EQ(merged({{0, 25.0f}, {12800, 0}}, false), std::make_pair(12800u, 512u));
}

// An HEVC reference without colr: the colour its SPS VUI signals is what the
// repaired movie declares. With a colr atom the movie's own colour stands.
TEST(ReferenceInfo, HevcColourFromSpsUnlessColrSaysIt) {
    const std::string file = testmedia::hevcAacMp4();
    ASSERT_EQ(testmedia::probeStreams(file).at(0).at("color_primaries"), "bt2020");
    auto info = load(file);
    ASSERT_NE(info->videoTrack(), nullptr);
    const ColourInfo& c = info->colourOverride();
    EXPECT_EQ(c.m_present, 1);
    EXPECT_EQ(fourccString(c.m_type), "nclx");
    EXPECT_EQ(c.m_primaries, 9);
    EXPECT_EQ(c.m_transfer, 16);
    EXPECT_EQ(c.m_matrix, 9);
    EXPECT_EQ(c.m_fullRange, 0x80);
    EXPECT_EQ(c.m_fullRangePresent, 1);
    // Copied where the output writer and the merge look for it.
    EXPECT_EQ(info->videoTrack()->m_colour.m_primaries, 9);
    EXPECT_EQ(info->video().m_colour.m_transfer, 16);
    EXPECT_EQ(info->video().m_class, "hvc1");
    // At DEBUG every sample also goes through the HEVC walk.
    {
        LogCapture log(LogLevel::Debug);
        info->analyseChunks();
    }
    EXPECT_FALSE(info->bitstreamStats().hevcUtils().sequences().empty());
    EXPECT_NE(info->layout().m_fingerprint.find("&hvcc=01,"), std::string::npos);

    const std::string colr = tiny("ref_hevc_colr.mov",
                                  "-c:v libx265 -pix_fmt yuv420p -tag:v hvc1 -color_primaries bt709 "
                                  "-color_trc bt709 -colorspace bt709 -x265-params log-level=error");
    auto own = load(colr);
    ASSERT_NE(own->videoTrack(), nullptr);
    EXPECT_EQ(own->colourOverride().m_present, 0);
    EXPECT_EQ(own->videoTrack()->m_colour.m_present, 1);
    EXPECT_EQ(own->videoTrack()->m_colour.m_primaries, 1);
}
