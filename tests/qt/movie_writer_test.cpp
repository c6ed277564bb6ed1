// The writer's durations without video, layout mode 1, its errors and
// limits, and >4 GiB offsets; the repairs' packet checksums judge its
// chunk, stsc and ctts tables.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "support/test_support.h"

namespace {

// Not ASCII: the names reach the file system as they are given.
std::string outName(const std::string& test) { return testsupport::scratchDir(test) + "/Überlänge 映画.mov"; }

const std::vector<uint8_t> kPayload(8192, 0x5A);

TEST(QtWriter, MovieTimeFollowsVideoOnly) {
    // A cut before the first picture: sound only, and the empty video track
    // neither written nor lengthening the movie.
    const std::string name = outName("QtWriter_NoVideo");
    MovieFile* w = QTCreate(name, nullptr, 1000, 0);
    MovieTrack* v = QTAddVideoTrack(w, "avc1", 30000, 30, 16, 16);
    v->m_trackDuration = 5000;
    MovieTrack* a = QTAddAudioTrack(w, "mp4a", 1024, 48000, 16, 2, 0);
    for (int i = 0; i < 10; ++i)
        QTAddSamples(w, a, kPayload.data(), 300, 0);
    ASSERT_TRUE(QTClose(w));
    MovieFile* r = QTOpen(name, 0, true);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_trackCount, 1);
    EXPECT_EQ(r->m_videoTrack, nullptr);
    // No sample adds movie time; a track without edits makes the movie last as long when it closes.
    EXPECT_EQ(r->m_movieDuration, 214u);
    EXPECT_TRUE(r->m_tracks[0].m_editList.empty());
    EXPECT_EQ(r->m_tracks[0].m_timeToSample.size(), 1u);
    EXPECT_EQ(r->m_tracks[0].m_sampleDuration, 1024u);
    EXPECT_EQ(r->m_tracks[0].m_trackDuration, 214u);  // 10 x 1024 / 48000 s = 213.3 ms, rounded up
    QTClose(r);

    // 30000 / 1001 at a 1000 movie timescale adds 33 per sample.
    w = QTCreate(name, nullptr, 1000, 0);
    v = QTAddVideoTrack(w, "avc1", 30000, 30000.0 / 1001, 16, 16);
    v->m_sampleDuration = 1001;
    QTAddSamples(w, v, kPayload.data(), 10, 0);
    EXPECT_EQ(v->m_trackDuration, 33u);
    EXPECT_EQ(w->m_movieDuration, 33u);
    QTClose(w);
}

TEST(QtWriter, SecondVideoTrackLiesBesideThePictures) {
    // A motion photo's stills: their track does not add to the movie's time.
    const std::string name = outName("QtWriter_Stills");
    MovieFile* w = QTCreate(name, nullptr, 1000, 0);
    MovieTrack* v = QTAddVideoTrack(w, "hvc1", 600, 30, 16, 16);
    v->m_sampleDuration = 20;
    MovieTrack* stills = QTGetMetaTrack(w, 0);
    ASSERT_NE(stills, nullptr);
    stills->m_handlerType = makeFourcc("vide");
    stills->m_mediaTimescale = 600;
    stills->m_sampleDuration = 600;
    for (int i = 0; i < 30; ++i)
        QTAddSamples(w, v, kPayload.data(), 100, 0);
    QTAddSamples(w, stills, kPayload.data(), 100, 0);
    EXPECT_EQ(w->m_movieDuration, 990u);  // 30 x 33, each frame's share truncated
    ASSERT_TRUE(QTClose(w));
}

TEST(QtWriter, LayoutModeOneAddsApertureGroupsAndAudioEdits) {
    const std::string name = outName("QtWriter_Layout");
    MovieFile* w = QTCreate(name, nullptr, 600, 0);
    w->m_layoutMode = 1;
    MovieTrack* v = QTAddVideoTrack(w, "jpeg", 600, 25, 64, 48);
    MovieTrack* a = QTAddAudioTrack(w, "twos", 1, 48000, 16, 2, 4);
    ColourInfo colour;
    colour.m_present = 1;
    colour.m_type = makeFourcc("nclx");
    colour.m_primaries = 1;
    colour.m_transfer = 1;
    colour.m_matrix = 1;
    colour.m_fullRange = 0x80;
    colour.m_fullRangePresent = 1;
    QTCopyCodecConfig(v, nullptr, 0, nullptr, nullptr, &colour);
    a->m_endianness = 1;
    QTAddSamples(w, v, kPayload.data(), 50, 0);
    QTAddSamples(w, a, kPayload.data(), 400, 0);
    ASSERT_TRUE(QTClose(w));
    const auto bytes = testsupport::readFile(name);
    const std::string text(bytes.begin(), bytes.end());
    for (const char* type : {"tapt", "clef", "prof", "enof", "sgpd", "tscl", "sync", "colr", "wave", "frma", "enda"})
        EXPECT_NE(text.find(type), std::string::npos) << type;
    MovieFile* r = QTOpen(name, 0, true);
    EXPECT_EQ(r->m_tracks[1].m_editList.size(), 1u);
    EXPECT_EQ(r->m_tracks[1].m_endianness, 1);
    EXPECT_EQ(r->m_tracks[1].m_audioSampleSize, 16);
    EXPECT_EQ(r->m_tracks[0].m_colour.m_fullRange, 0x80);
    EXPECT_EQ(r->m_tracks[0].m_colour.m_fullRangePresent, 1);
    QTClose(r);
    const auto probe = testsupport::runCommand("ffprobe -v warning -show_streams " + testsupport::quote(name) + " 2>&1");
    EXPECT_NE(probe.output.find("codec_tag_string=twos"), std::string::npos) << probe.output;
    // The sample group descriptions read as written.
    EXPECT_EQ(probe.output.find("overread"), std::string::npos) << probe.output;
}

TEST(QtWriter, ErrorsAndLimits) {
    const std::string name = outName("QtWriter_Errors");
    testing::internal::CaptureStdout();
    uint8_t b = 0;
    QTAddSamples(nullptr, nullptr, &b, 1, 0);
    MovieFile* w = QTCreate(name, nullptr, 600, 0);
    QTAddSamples(w, nullptr, &b, 1, 0);
    MovieTrack* v = QTAddVideoTrack(w, "jpeg", 600, 0, 8, 8);
    QTAddSamples(w, v, nullptr, 1, 0);
    QTAddSamples(w, v, &b, 0, 0);
    QTAddSamples(w, v, &b, 1, 0);
    for (int i = 0; i < 15; ++i)
        if (MovieTrack* a = QTAddAudioTrack(w, "sowt", 1, 8000, 8, 1, 1))
            QTAddSamples(w, a, &b, 1, 0);
    EXPECT_EQ(QTGetMetaTrack(w), nullptr);
    EXPECT_EQ(QTAddVideoTrack(nullptr, "avc1", 1, 1, 1, 1), nullptr);
    QTClose(w);
    MovieFile* r = QTOpen(name, 0, true);
    EXPECT_EQ(r->m_trackCount, 16);
    QTAddSamples(r, &r->m_tracks[0], &b, 1, 0);
    QTClose(r);
    EXPECT_EQ(QTCreate("/nonexistent/dir/x.mov", nullptr, 1, 0), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "QTAddSamples error - memory full\n"
              "QTAddSamples error - invalid trk\n"
              "QTAddSamples error: invalid buffer\n"
              "QTAddSamples error: invalid size (0)\n"
              "addTrack error - memory full\n"
              "QTAddVideoTrack error: file undefined\n"
              "QTAddSample error: invalid operation\n"
              "QTCreate: cannot create file /nonexistent/dir/x.mov\n");
}

// A sparse file puts a chunk beyond 4 GiB without writing 4 GiB: the mdat
// gets a 64-bit size and co64 offsets, read back by the reader and ffprobe.
TEST(QtWriter, ChunkOffsetsBeyondFourGiB) {
    const std::string name = outName("QtWriter_Large");
    MovieFile* w = QTCreate(name, nullptr, 1000, 0);
    MovieTrack* v = QTAddVideoTrack(w, "jpeg", 25, 25, 16, 16);
    std::vector<uint8_t> first(1000, 0x11), second(1000, 0x22);
    ASSERT_TRUE(QTAddSamples(w, v, first.data(), uint32_t(first.size()), 0));
    constexpr uint64_t kFar = (5ull << 30) + 123;
    ASSERT_TRUE(w->m_file.seek(int64_t(kFar)));
    w->m_position = kFar;
    ASSERT_TRUE(QTAddSamples(w, v, second.data(), uint32_t(second.size()), 0));
    ASSERT_TRUE(QTClose(w));

    EXPECT_GT(platform::fileSize(name), int64_t(kFar));
    MovieFile* r = QTOpen(name, 0, true);
    ASSERT_NE(r, nullptr);
    const MovieTrack& t = *r->m_videoTrack;
    ASSERT_EQ(t.m_chunkOffsets.size(), 2u);
    EXPECT_EQ(QTGetSampleOffset(&t, 2), kFar);
    EXPECT_GT(r->m_moovOffset, kFar);
    uint8_t byte = 0;
    ASSERT_EQ(r->m_file.readAt(int64_t(QTGetSampleOffset(&t, 2)), &byte, 1), 1u);
    EXPECT_EQ(byte, 0x22);
    QTClose(r);
    const std::string packets = testsupport::ffprobe(name, "-show_entries packet=pos -of csv=p=0");
    EXPECT_NE(packets.find(std::to_string(kFar)), std::string::npos) << packets;
    std::remove(name.c_str());
}

}  // namespace
