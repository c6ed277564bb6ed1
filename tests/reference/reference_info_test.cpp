#include "bitstream/hevc/hevc_utils.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"
#include "support/reference_test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

using reftest::LogCapture;

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
    const std::string mp4v = tiny("ref_mpeg2.mp4", "-c:v mpeg2video");  // mp4v with object type 0x61
    const std::string mpeg4 = tiny("ref_mpeg4.mp4", "-c:v mpeg4");       // mp4v with object type 0x20
    const std::string dv = testsupport::fixture(
        "ref_dv.mov", "-f lavfi -i testsrc=size=720x480:rate=30000/1001 -frames:v 1 -c:v dvvideo -pix_fmt yuv411p");
    ASSERT_FALSE(aivx.empty() || xd5e.empty() || mp4v.empty() || mpeg4.empty() || dv.empty());
    // ffmpeg always declares DV as "dvc "; the sample description's format
    // field sits 16 bytes after the stsd type.
    const std::string dvhp = reftest::patchedCopy(dv, "dvhp.mov", "stsd", 16, {'d', 'v', 'h', 'p'});
    ASSERT_FALSE(dvhp.empty());

    struct Case {
        std::string file, codec, cls;
    } cases[] = {{aivx, "aivx", "avc1"}, {xd5e, "xd5e", "MPG2"}, {mp4v, "mp4v", "MPG2"},
                 {mpeg4, "mp4v", "mp4v"}, {dv, "dvc ", "dvc "},  {dvhp, "dvhp", "dvc "}};
    for (const Case& c : cases) {
        auto info = load(c.file);
        EXPECT_EQ(info->video().m_codec, c.codec) << c.file;
        EXPECT_EQ(info->video().m_class, c.cls) << c.file;
    }
}

TEST(ReferenceInfo, ParametersMatchFfprobe) {
    const std::string file = reftest::h264AacMp4();
    ASSERT_FALSE(file.empty());
    auto info = load(file);
    const VideoParameters& v = info->video();
    const AudioParameters& a = info->audio();
    EXPECT_EQ(v.m_codec, reftest::probeStream(file, "v:0", "codec_tag_string"));
    EXPECT_EQ(v.m_class, "avc1");
    EXPECT_EQ(std::to_string(v.m_width), reftest::probeStream(file, "v:0", "width"));
    EXPECT_EQ(std::to_string(v.m_height), reftest::probeStream(file, "v:0", "height"));
    EXPECT_EQ("1/" + std::to_string(v.m_timescale), reftest::probeStream(file, "v:0", "time_base"));
    EXPECT_FALSE(v.m_timescaleIsDefault);
    EXPECT_FLOAT_EQ(v.m_fps, 25.0f);
    EXPECT_EQ(v.m_timescale / v.m_sampleDuration, 25u);
    EXPECT_GT(v.m_avc.spsCount(), 0);
    EXPECT_GT(v.m_avc.ppsCount(), 0);

    EXPECT_EQ(a.m_codec, reftest::probeStream(file, "a:0", "codec_tag_string"));
    EXPECT_EQ(std::to_string(a.m_channels), reftest::probeStream(file, "a:0", "channels"));
    EXPECT_EQ(std::to_string(a.m_sampleRate), reftest::probeStream(file, "a:0", "sample_rate"));
    EXPECT_EQ(a.m_sampleSize, 16u);
    EXPECT_EQ(a.m_audioTracks, 1u);
    // The AudioSpecificConfig is what AAC recovery initialises its decoder with.
    ASSERT_FALSE(a.m_rawEsds.empty());
    EXPECT_EQ(a.m_esds.m_objectType, 0x40);
    EXPECT_GE(a.m_esds.m_decoderInfoLength, 2);

    const MovieParameters& m = info->movieParameters();
    EXPECT_EQ(m.m_fileName, file);
    EXPECT_EQ(m.m_trackCount, 2u);
    EXPECT_EQ(m.m_timescale, 1000u);  // ffmpeg's mp4 movie timescale
    EXPECT_EQ(fourccString(m.m_brand.m_majorBrand), "isom");

    EXPECT_NE(info->videoTrack(), nullptr);
    EXPECT_EQ(info->audioTrack(0), info->movie()->m_audioTracks[0]);
    EXPECT_EQ(info->audioTrack(1), nullptr);
    EXPECT_EQ(info->track(16), nullptr);
    EXPECT_EQ(info->videoAvcConfig(), &info->videoTrack()->m_avc);
}

// A zero media timescale cannot time frames: 600 is assumed and marked as such.
TEST(ReferenceInfo, ZeroTimescaleBecomes600) {
    const std::string source = reftest::h264OnlyMov();
    ASSERT_FALSE(source.empty());
    // mdhd v0: version and flags, creation and modification time, then the timescale.
    const std::string file = reftest::patchedCopy(source, "ts0.mov", "mdhd", 16, {0, 0, 0, 0});
    ASSERT_FALSE(file.empty());
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
    EXPECT_EQ(plain->audio().m_sampleRate, 0u);
    EXPECT_EQ(plain->video().m_class, "");
    EXPECT_EQ(plain->videoTrack(), nullptr);
    EXPECT_EQ(plain->track(0), nullptr);

    EXPECT_FALSE(defaults->isOpen());
    EXPECT_FLOAT_EQ(defaults->video().m_fps, 29.97f);
    EXPECT_EQ(defaults->video().m_timescale, 600u);
    EXPECT_EQ(defaults->movieParameters().m_timescale, 600u);
    EXPECT_EQ(defaults->audio().m_channels, 2u);
    EXPECT_EQ(defaults->audio().m_sampleRate, 48000u);
    EXPECT_EQ(defaults->audio().m_sampleSize, 16u);
    EXPECT_EQ(defaults->audio().m_audioTracks, 1u);
    EXPECT_EQ(defaults->video().m_codec, "");
    EXPECT_EQ(defaults->video().m_class, "");
    defaults->analyseChunks();  // no movie: nothing to walk, no crash
    defaults->collectSamples();
    EXPECT_TRUE(defaults->videoSamples().empty());
}

TEST(ReferenceInfo, PrintLines) {
    const std::string file = reftest::h264AacMp4();
    ASSERT_FALSE(file.empty());
    auto info = load(file);
    info->analyseChunks();
    LogCapture log(LogLevel::Notice);
    testing::internal::CaptureStdout();
    info->print();
    testing::internal::GetCapturedStdout();
    const std::vector<std::string> expected = {
        "video class       : avc1",
        "video codec       : avc1",
        "video fps         : 25",
        "video frame width : 320",
        "video frame height: 240",
        "video time scale  : " + std::to_string(info->video().m_timescale),
        "audio codec       : mp4a",
        "audio channels    : 2",
        "audio sample rate : 48000",
        "audio sample size : 16",
        "audio tracks      : 1",
        "fingerprint: " + info->layout().m_fingerprint,
        "video sample size max   : " + std::to_string(info->layout().m_videoSampleSizeMax),
        "video sample size min   : " + std::to_string(info->layout().m_videoSampleSizeMin),
        "video samples per chunk : " + std::to_string(info->layout().m_videoSamplesPerChunk),
        "video chunks stop gap   : " + std::to_string(info->layout().m_videoChunksStopGap),
        "audio samples per chunk : " + std::to_string(info->layout().m_audioSamplesPerChunk),
        "audio chunks stop gap   : " + std::to_string(info->layout().m_audioChunksStopGap),
        "audio chunks size all   : " + std::to_string(info->layout().m_audioChunksSizeAll),
        "audio data start        : " + std::to_string(info->audio().m_audioDataStart),
    };
    EXPECT_EQ(log.messages(LogLevel::Notice), expected);
}

TEST(VideoParameters, MergeFillsOnlyUnsetFields) {
    std::unique_ptr<VideoParameters> work(new VideoParameters());
    std::unique_ptr<VideoParameters> ref(new VideoParameters());
    ref->m_codec = "avc1";
    ref->m_class = "avc1";
    ref->m_fps = 25;
    ref->m_width = 1920;
    ref->m_height = 1080;
    ref->m_timescale = 12800;
    ref->m_timescaleIsDefault = false;
    ref->m_sampleDuration = 512;
    ref->m_rawEsds = {1, 2, 3};
    ref->m_esds.m_objectType = 0x20;
    ref->m_avc.m_ppsCount = 1;
    ref->m_avc.m_spsCountByte = 0xE1;
    ref->m_hevc.m_arrayCount = 3;
    ref->m_colour.m_present = 1;
    ref->m_colour.m_primaries = 9;

    // The user gave fps and width; everything else comes from the reference.
    work->m_fps = 50;
    work->m_width = 1280;
    work->mergeFrom(*ref);
    EXPECT_EQ(work->m_codec, "avc1");
    EXPECT_EQ(work->m_class, "avc1");
    EXPECT_EQ(work->m_fps, 50);
    EXPECT_EQ(work->m_width, 1280u);
    EXPECT_EQ(work->m_height, 1080u);
    EXPECT_EQ(work->m_timescale, 12800u);
    EXPECT_FALSE(work->m_timescaleIsDefault);
    EXPECT_EQ(work->m_sampleDuration, 256u);  // timescale / fps, not the reference's 512
    EXPECT_EQ(work->m_rawEsds, ref->m_rawEsds);
    EXPECT_EQ(work->m_esds.m_objectType, 0x20);
    EXPECT_EQ(work->m_avc.m_ppsCount, 1);
    EXPECT_EQ(work->m_hevc.m_arrayCount, 3);
    EXPECT_EQ(work->m_colour.m_primaries, 9);

    // A second source fills nothing that is set already.
    std::unique_ptr<VideoParameters> other(new VideoParameters(*ref));
    other->m_codec = "hvc1";
    other->m_timescale = 90000;
    other->m_rawEsds = {9};
    other->m_colour.m_primaries = 1;
    work->mergeFrom(*other);
    EXPECT_EQ(work->m_codec, "avc1");
    EXPECT_EQ(work->m_timescale, 12800u);
    EXPECT_EQ(work->m_rawEsds, ref->m_rawEsds);
    EXPECT_EQ(work->m_colour.m_primaries, 9);
}

// A timescale that was only assumed gives way to the next source's.
TEST(VideoParameters, DefaultTimescaleIsReplaced) {
    std::unique_ptr<VideoParameters> work(new VideoParameters());
    std::unique_ptr<VideoParameters> input(new VideoParameters());
    std::unique_ptr<VideoParameters> ref(new VideoParameters());
    input->m_timescale = 600;
    input->m_timescaleIsDefault = true;
    ref->m_timescale = 30000;
    ref->m_timescaleIsDefault = false;
    ref->m_fps = 30000.0f / 1001.0f;
    work->mergeFrom(*input);
    EXPECT_EQ(work->m_timescale, 600u);
    work->mergeFrom(*ref);
    EXPECT_EQ(work->m_timescale, 30000u);
    EXPECT_EQ(work->m_sampleDuration, 1001u);
    // Film NTSC: the quotient lands just below 1001 in double precision;
    // single precision, the fps's own precision, gives the exact frame length.
    std::unique_ptr<VideoParameters> film(new VideoParameters());
    film->m_timescale = 24000;
    film->m_timescaleIsDefault = false;
    film->m_fps = float(24000.0 / 1001.0);
    work.reset(new VideoParameters());
    work->mergeFrom(*film);
    EXPECT_EQ(work->m_sampleDuration, 1001u);
    // 29.97 from the defaults at the classic 600 timescale: 20.02 truncated.
    std::unique_ptr<VideoParameters> ntsc(new VideoParameters());
    ntsc->m_timescale = 600;
    ntsc->m_fps = 29.97f;
    work.reset(new VideoParameters());
    work->mergeFrom(*ntsc);
    EXPECT_EQ(work->m_sampleDuration, 20u);
}

TEST(AudioParameters, MergeFillsOnlyUnsetFields) {
    std::unique_ptr<AudioParameters> work(new AudioParameters());
    std::unique_ptr<AudioParameters> ref(new AudioParameters());
    ref->m_codec = "mp4a";
    ref->m_channels = 2;
    ref->m_sampleRate = 48000;
    ref->m_sampleSize = 16;
    ref->m_audioTracks = 2;
    ref->m_audioDataStart = 0x21;
    ref->m_rawEsds = {3, 0x19};
    ref->m_esds.m_decoderInfoLength = 2;
    work->m_codec = "sowt";
    work->m_sampleRate = 44100;
    work->mergeFrom(*ref);
    EXPECT_EQ(work->m_codec, "sowt");
    EXPECT_EQ(work->m_sampleRate, 44100u);
    EXPECT_EQ(work->m_channels, 2u);
    EXPECT_EQ(work->m_sampleSize, 16u);
    EXPECT_EQ(work->m_audioTracks, 2u);
    EXPECT_EQ(work->m_audioDataStart, 0x21);
    EXPECT_EQ(work->m_rawEsds, ref->m_rawEsds);
    EXPECT_EQ(work->m_esds.m_decoderInfoLength, 2);
}

// An HEVC reference without colr: the colour its SPS VUI signals is what the
// repaired movie declares.
TEST(ReferenceInfo, HevcColourFromSps) {
    const std::string file = tiny(
        "ref_hevc_vui.mp4",
        "-c:v libx265 -pix_fmt yuv420p -tag:v hvc1 "
        "-x265-params log-level=error:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:range=full");
    ASSERT_FALSE(file.empty());
    // ffprobe reads the VUI; the container itself must not say anything.
    EXPECT_EQ(reftest::probeStream(file, "v:0", "color_primaries"), "bt2020");
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
    EXPECT_EQ(info->videoTrack()->m_colour.m_fullRange, 0x80);
    EXPECT_EQ(info->video().m_colour.m_transfer, 16);
    EXPECT_EQ(info->video().m_class, "hvc1");

    // At DEBUG every sample also goes through the HEVC walk.
    LogCapture log(LogLevel::Debug);
    info->analyseChunks();
    EXPECT_FALSE(info->bitstreamStats().hevcUtils().sequences().empty());
    EXPECT_NE(info->layout().m_fingerprint.find("&hvcc=01,"), std::string::npos);
}

// With a colr atom the movie's own colour stands and no override is made.
TEST(ReferenceInfo, HevcColrWins) {
    const std::string file = tiny("ref_hevc_colr.mov",
                                  "-c:v libx265 -pix_fmt yuv420p -tag:v hvc1 -color_primaries bt709 "
                                  "-color_trc bt709 -colorspace bt709 -x265-params log-level=error");
    ASSERT_FALSE(file.empty());
    auto info = load(file);
    ASSERT_NE(info->videoTrack(), nullptr);
    EXPECT_EQ(info->colourOverride().m_present, 0);
    EXPECT_EQ(info->videoTrack()->m_colour.m_present, 1);
    EXPECT_EQ(info->videoTrack()->m_colour.m_primaries, 1);
}
