// A phone-like recording: mono sound, two 'mebx' sensor tracks (one chunk
// behind each video chunk; the other's right behind it in two gaps of three,
// behind the sound in the third), an action camera's 16-byte descriptor in
// front of each video chunk, Apple's closing one-sample track and a
// timecode. The metadata is never taken for sound, and comes back in its own
// tracks.

#include "qt/movie_reader.h"
#include "qt/movie_writer.h"
#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

using testsupport::Bytes;

namespace {

// The 'mebx' description after its data reference index: a key table with
// one key (local id 1) of the 'mdta' namespace.
Bytes mebxKeys() {
    Bytes keyd;
    testsupport::putType(keyd, "mdta");
    const std::string key = "com.example.camera.telemetry";
    keyd.insert(keyd.end(), key.begin(), key.end());
    Bytes entry = testsupport::atom("keyd", keyd);
    Bytes local;
    testsupport::put32(local, uint32_t(entry.size() + 8));
    testsupport::put32(local, 1);
    local.insert(local.end(), entry.begin(), entry.end());
    return testsupport::atom("keys", local);
}

// One metadata sample: a box of key 1 holding sensor readings (16-bit
// accelerometer and gyroscope values, as binary as real telemetry), 92 to
// 218 bytes long: more sizes than a table of them could hold.
Bytes metaSample(uint32_t n) {
    const uint32_t size = 92 + 2 * (n * 37 % 64);
    Bytes b;
    testsupport::put32(b, size);
    testsupport::put32(b, 1);
    uint32_t seed = n * 2654435761u + 12345u;
    while (b.size() < size) {
        seed = seed * 1664525u + 1013904223u;
        testsupport::put16(b, uint16_t(seed >> 16));
    }
    return b;
}

struct Sample {
    uint64_t offset;
    uint32_t size;
    bool video;
    uint32_t composition;
};

// Rewrites an ffmpeg H.264+AAC movie with the project's writer, a metadata
// chunk behind every video chunk; the chunks otherwise stay as ffmpeg cut them.
// A timecode track's one sample (`timecode`, its frame count) sits between
// two descriptors behind the first sound, as an action camera writes it.
std::string withMetadataTrack(const std::string& source, const std::string& name, uint32_t timecode) {
    const std::string out = testsupport::scratchDir("Avc1Metadata." + name) + "/" + name;
    MovieFile* in = QTOpen(source, 0, true);
    if (!in || !in->m_videoTrack || in->m_audioTrackCount != 1)
        return "";
    const MovieTrack& v = *in->m_videoTrack;
    const MovieTrack& a = *in->m_audioTracks[0];
    std::vector<Sample> samples;
    for (uint32_t n = 1; n <= v.m_sampleCount; ++n)
        samples.push_back({QTGetSampleOffset(&v, n), QTGetSampleSize(&v, n), true, QTGetCompositionOffset(&v, n)});
    for (uint32_t n = 1; n <= a.m_sampleCount; ++n)
        samples.push_back({QTGetSampleOffset(&a, n), QTGetSampleSize(&a, n), false, 0});
    std::sort(samples.begin(), samples.end(), [](const Sample& x, const Sample& y) { return x.offset < y.offset; });
    const Bytes bytes = testsupport::readFile(source);

    MovieFile* w = QTCreate(out, &in->m_brand, in->m_movieTimescale, 0);
    MovieTrack* wv = QTAddVideoTrack(w, "avc1", v.m_mediaTimescale, QTGetFrameRate(&v), v.m_width, v.m_height);
    QTCopyCodecConfig(wv, nullptr, 0, &v.m_avc, nullptr, nullptr);
    MovieTrack* wa = QTAddAudioTrack(w, "mp4a", a.m_sampleDuration, a.m_audioSampleRate, 16, a.m_audioChannels, 0);
    QTCopyCodecConfig(wa, a.m_esds.m_raw, a.m_esds.m_rawLength, nullptr, nullptr, nullptr);
    wa->m_editList = a.m_editList;
    // A metadata track: its format, clock and sample length, and the body of
    // its description.
    auto metaTrack = [&](int index, const char (&codec)[5], uint32_t timescale, uint32_t duration, const Bytes& body) {
        MovieTrack* m = QTGetMetaTrack(w, index);
        m->m_codec = makeFourcc(codec);
        m->m_mediaTimescale = timescale;
        m->m_sampleDuration = duration;
        std::copy(body.begin(), body.end(), m->m_descriptionBody.m_data);
        m->m_descriptionBody.m_size = uint32_t(body.size());
        return m;
    };
    // Two sensor tracks, as phones write several (one per sensor).
    MovieTrack* wm[2] = {metaTrack(0, "mebx", 1000, 500, mebxKeys()), metaTrack(1, "mebx", 1000, 500, mebxKeys())};
    MovieTrack* closing = metaTrack(3, "mebx", 1000, 3000, mebxKeys());
    MovieTrack* descriptors = metaTrack(2, "fdsc", 1000, 500, {});
    // reserved, flags, timescale 25, frame duration 1, 25 frames, reserved
    MovieTrack* clock =
        metaTrack(4, "tmcd", 25, 75, testsupport::concat({Bytes(8, 0), testsupport::u32s({25, 1}), Bytes{25, 0}}));
    clock->m_handlerType = makeFourcc("tmcd");

    uint32_t meta = 0, gap = 0;
    auto addMeta = [&](MovieTrack* track) {
        const Bytes sample = metaSample(meta++);
        QTAddSamples(w, track, sample.data(), uint32_t(sample.size()), 0);
    };
    for (size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        if (s.video && (i == 0 || !samples[i - 1].video)) {
            Bytes descriptor{'G', 'P', 0, 3};
            testsupport::put32(descriptor, s.size);
            descriptor.resize(16, 0);
            QTAddSamples(w, descriptors, descriptor.data(), uint32_t(descriptor.size()), 0);
            if (i > 0 && clock->m_sampleCount == 0) {
                Bytes frames;
                testsupport::put32(frames, timecode);
                QTAddSamples(w, clock, frames.data(), uint32_t(frames.size()), 0);
                descriptor[3] = 4;
                QTAddSamples(w, descriptors, descriptor.data(), uint32_t(descriptor.size()), 0);
            }
        }
        QTAddSamples(w, s.video ? wv : wa, bytes.data() + s.offset, s.size, s.composition);
        const bool chunkEnds = i + 1 == samples.size() || !samples[i + 1].video ||
                               samples[i + 1].offset != s.offset + s.size;
        const bool soundEnds = !s.video && (i + 1 == samples.size() || samples[i + 1].video);
        const bool touching = gap % 3 != 2;
        if (s.video && chunkEnds) {
            addMeta(wm[0]);
            // Now and then a reading and an empty one (a box of key 0, as
            // a phone writes where its sensor had nothing) flushed at once:
            // a chunk of two samples, each one box.
            if (gap % 4 == 1) {
                const Bytes empty{0, 0, 0, 8, 0, 0, 0, 0};
                QTAddSamples(w, wm[0], empty.data(), uint32_t(empty.size()), 0);
            }
            if (touching)
                addMeta(wm[1]);
        }
        if (soundEnds) {
            if (!touching)
                addMeta(wm[1]);
            ++gap;
        }
    }
    // The closing sample has one size in every recording, its content not.
    Bytes last;
    testsupport::put32(last, 24);
    testsupport::put32(last, 1);
    const Bytes readings = metaSample(meta);
    last.insert(last.end(), readings.end() - 16, readings.end());
    QTAddSamples(w, closing, last.data(), uint32_t(last.size()), 0);
    QTClose(w);
    QTClose(in);
    return out;
}

// The ffmpeg recordings (reference, then original) the metadata is added to.
std::pair<std::string, std::string> ffmpegSources() {
    const std::string mux = "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -ac 1 -b:a 64k";
    return {testsupport::fixture("meta_ref_src.mov", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i "
                                                     "sine=frequency=330:sample_rate=48000:duration=2 " + mux),
            testsupport::fixture("meta_src.mov", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i "
                                                 "sine=frequency=550:sample_rate=48000:duration=3 " + mux)};
}

using repairrun::mappedChecksums;

}  // namespace

// An action camera writes its timecode's one sample in the first gap,
// between two descriptors: the first descriptor was lost (nothing the gap's
// split knew followed it), and the timecode must still come back, the
// recording's own.
TEST(Avc1Metadata, MetadataChunksStayOutOfTheSoundAndKeepTheirTracks) {
    const auto [refSource, source] = ffmpegSources();
    const std::string ref = withMetadataTrack(refSource, "ref.mov", 90000);
    const std::string original = withMetadataTrack(source, "original.mov", 1234567);
    ASSERT_FALSE(ref.empty());
    ASSERT_FALSE(original.empty());

    const auto o = repairrun::repair("Avc1Metadata.Repair", ref, repairrun::withoutIndex(original), "", original);
    // The video is judged by the other repair tests; here the sound and the metadata.
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_GE(o.audio.percent(), 97.0);

    // No metadata byte in the sound: every repaired audio packet is one of
    // the original's.
    const auto audioBefore = mappedChecksums(original, "a");
    const std::set<std::string> known(audioBefore.begin(), audioBefore.end());
    const auto audioAfter = mappedChecksums(o.repaired, "a");
    EXPECT_GE(audioAfter.size(), audioBefore.size() * 97 / 100);
    for (const std::string& md5 : audioAfter)
        EXPECT_EQ(known.count(md5), 1u) << "a repaired audio packet the original does not have";

    // Each metadata track and the timecode, described as the reference's,
    // with its samples. (The tracks come in the order their first chunks are
    // found.)
    const auto streams = testmedia::probeStreams(o.repaired);
    std::vector<std::string> mebx;
    std::string fdsc, tmcd;
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string tag = streams[i].at("codec_tag_string");
        if (tag == "mebx")
            mebx.push_back(std::to_string(i));
        if (tag == "fdsc")
            fdsc = std::to_string(i);
        if (tag == "tmcd")
            tmcd = std::to_string(i);
    }
    ASSERT_EQ(streams.size(), 7u);
    ASSERT_EQ(mebx.size(), 3u);
    ASSERT_FALSE(fdsc.empty() || tmcd.empty());
    const std::string repairedIndex[] = {mebx[0], mebx[1], mebx[2], fdsc, tmcd};
    for (int stream = 2; stream <= 6; ++stream) {
        const auto metaBefore = mappedChecksums(original, std::to_string(stream));
        ASSERT_FALSE(metaBefore.empty());
        EXPECT_EQ(mappedChecksums(o.repaired, repairedIndex[stream - 2]), metaBefore) << stream;
    }
}
