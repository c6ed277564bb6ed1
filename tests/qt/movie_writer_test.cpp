// The writer's table building (chunks, stsc and ctts runs, durations) read
// back through the reader, the file layout, and >4 GiB offsets.

#include <gtest/gtest.h>

#include "qt/quicktime.h"
#include "support/atom_builder.h"
#include "support/test_support.h"

namespace {

BrandRecord qtBrand() {
    BrandRecord b;
    b.m_majorBrand = makeFourcc("qt  ");
    b.m_minorVersion = 0x200;
    b.m_compatibleCount = 1;
    b.m_compatibleBrands[0] = makeFourcc("qt  ");
    return b;
}

std::string outName(const std::string& test) { return testsupport::scratchDir(test) + "/out.mov"; }

const std::vector<uint8_t> kPayload(8192, 0x5A);

TEST(QtWriter, BackToBackPayloadsFormOneChunk) {
    const std::string name = outName("QtWriter_OneChunk");
    const BrandRecord brand = qtBrand();
    MovieFile* w = QTCreate(name, &brand, 1000, 0);
    ASSERT_NE(w, nullptr);
    MovieTrack* v = QTAddVideoTrack(w, "avc1", 25, 25.0, 320, 240);
    ASSERT_NE(v, nullptr);
    for (uint32_t size : {100u, 200u, 300u})
        ASSERT_TRUE(QTAddSamples(w, v, kPayload.data(), size, 0));
    ASSERT_TRUE(QTClose(w));

    const auto bytes = testsupport::readFile(name);
    // ftyp first, then a 16-byte mdat header whose 32-bit size is 1.
    ASSERT_GT(bytes.size(), 40u);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "ftyp");
    const size_t mdat = 20;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + mdat, bytes.begin() + mdat + 8),
              (std::vector<uint8_t>{0, 0, 0, 1, 'm', 'd', 'a', 't'}));

    MovieFile* r = QTOpen(name, 0, true);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_mdatOffset, mdat + 16);
    // moov is the last atom: it runs to the end of the file.
    EXPECT_EQ(r->m_moovOffset - 8 + testsupport::be32(&bytes[r->m_moovOffset - 8]), bytes.size());
    EXPECT_EQ(r->m_brand.m_majorBrand, makeFourcc("qt  "));
    ASSERT_NE(r->m_videoTrack, nullptr);
    const MovieTrack& t = *r->m_videoTrack;
    ASSERT_EQ(t.m_chunkOffsets.size(), 1u);
    EXPECT_EQ(t.m_chunkOffsets[0], mdat + 16);
    ASSERT_EQ(t.m_sampleToChunk.size(), 1u);
    EXPECT_EQ(t.m_sampleToChunk[0].m_samplesPerChunk, 3u);
    EXPECT_EQ(QTGetSampleOffset(&t, 3), mdat + 16 + 300);
    ASSERT_EQ(t.m_editList.size(), 1u);
    EXPECT_EQ(t.m_editList[0].m_trackDuration, r->m_movieDuration);
    EXPECT_EQ(r->m_movieDuration, 120u);  // 3 samples of 1/25 s at 1000
    QTClose(r);
}

TEST(QtWriter, InterleavedTracksStartChunksAndRunLengthStsc) {
    const std::string name = outName("QtWriter_Interleave");
    MovieFile* w = QTCreate(name, nullptr, 600, 0);
    ASSERT_NE(w, nullptr);
    MovieTrack* v = QTAddVideoTrack(w, "avc1", 30000, 29.97, 64, 64);
    MovieTrack* a = QTAddAudioTrack(w, "sowt", 1, 48000, 16, 2, 4);
    ASSERT_TRUE(v && a);
    // v a v a v v v a: chunks of 1, 1, 3 video samples and 1024 audio samples each.
    const uint32_t offsets[] = {0, 0, 1024, 1024, 0};
    int vi = 0;
    for (char kind : std::string("vavavvva")) {
        if (kind == 'v')
            ASSERT_TRUE(QTAddSamples(w, v, kPayload.data(), 100, offsets[vi++]));
        else
            ASSERT_TRUE(QTAddSamples(w, a, kPayload.data(), 4096, 0));
    }
    ASSERT_TRUE(QTClose(w));

    MovieFile* r = QTOpen(name, 0, true);
    ASSERT_NE(r, nullptr);
    // No ftyp: the file starts with the mdat header.
    EXPECT_EQ(r->m_mdatOffset, 16u);
    const MovieTrack& tv = *r->m_videoTrack;
    const MovieTrack& ta = *r->m_audioTracks[0];
    EXPECT_EQ(tv.m_chunkOffsets.size(), 3u);
    ASSERT_EQ(tv.m_sampleToChunk.size(), 2u);
    EXPECT_EQ(tv.m_sampleToChunk[1].m_firstChunk, 3u);
    EXPECT_EQ(tv.m_sampleToChunk[1].m_samplesPerChunk, 3u);
    EXPECT_EQ(ta.m_chunkOffsets.size(), 3u);
    ASSERT_EQ(ta.m_sampleToChunk.size(), 1u);  // 1024 per chunk throughout
    EXPECT_EQ(ta.m_sampleToChunk[0].m_samplesPerChunk, 1024u);
    EXPECT_EQ(ta.m_sampleCount, 3072u);
    EXPECT_EQ(ta.m_sampleSizes.size(), 0u);
    EXPECT_EQ(QTGetSampleOffset(&ta, 1025), ta.m_chunkOffsets[1]);
    ASSERT_EQ(tv.m_compositionOffsets.size(), 3u);
    EXPECT_EQ(tv.m_compositionOffsets[0].m_sampleCount, 2u);
    EXPECT_EQ(tv.m_compositionOffsets[1].m_sampleCount, 2u);
    EXPECT_EQ(tv.m_compositionOffsets[1].m_offset, 1024u);
    EXPECT_EQ(tv.m_compositionOffsets[2].m_offset, 0u);
    // 5 x 1001/30000 s is 100.1 units at 600: the whole track is rounded up
    // (a per-sample truncation would lose the tail of long recordings).
    EXPECT_EQ(tv.m_trackDuration, 101u);
    EXPECT_EQ(r->m_movieDuration, 101u);
    EXPECT_EQ(ta.m_trackDuration, 39u);  // 3072 / 48000 s = 38.4 units
    EXPECT_TRUE(ta.m_editList.empty());  // layout mode 0: audio has no edit list
    QTClose(r);
}

TEST(QtWriter, MovieTimeFollowsVideoOnly) {
    const std::string name = outName("QtWriter_NoVideo");
    MovieFile* w = QTCreate(name, nullptr, 1000, 0);
    MovieTrack* a = QTAddAudioTrack(w, "mp4a", 1024, 48000, 16, 2, 0);
    for (int i = 0; i < 10; ++i)
        QTAddSamples(w, a, kPayload.data(), 300, 0);
    ASSERT_TRUE(QTClose(w));
    MovieFile* r = QTOpen(name, 0, true);
    // No sample adds movie time; a track without edits makes the movie last as long when it closes.
    EXPECT_EQ(r->m_movieDuration, 214u);
    EXPECT_TRUE(r->m_tracks[0].m_editList.empty());
    EXPECT_EQ(r->m_tracks[0].m_timeToSample.size(), 1u);
    EXPECT_EQ(r->m_tracks[0].m_sampleDuration, 1024u);
    EXPECT_EQ(r->m_tracks[0].m_trackDuration, 214u);  // 10 x 1024 / 48000 s = 213.3 ms, rounded up
    QTClose(r);

    // 30000 / 1001 at a 1000 movie timescale adds 33 per sample.
    w = QTCreate(name, nullptr, 1000, 0);
    MovieTrack* v = QTAddVideoTrack(w, "avc1", 30000, 30000.0 / 1001, 16, 16);
    v->m_sampleDuration = 1001;
    QTAddSamples(w, v, kPayload.data(), 10, 0);
    EXPECT_EQ(v->m_trackDuration, 33u);
    EXPECT_EQ(w->m_movieDuration, 33u);
    QTClose(w);
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
    for (int i = 0; i < 15; ++i)
        QTAddAudioTrack(w, "sowt", 1, 8000, 8, 1, 1);
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
    const auto packets = testsupport::runCommand("ffprobe -v error -show_entries packet=pos -of csv=p=0 " +
                                                 testsupport::quote(name));
    EXPECT_NE(packets.output.find(std::to_string(kFar)), std::string::npos) << packets.output;
    std::remove(name.c_str());
}

}  // namespace
