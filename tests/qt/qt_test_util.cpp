#include "qt_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "qt/quicktime.h"

namespace qttest {

namespace {

struct ChunkRef {
    int track;
    uint32_t chunk;  // from 1
    uint64_t offset;
    uint32_t firstSample;
    uint32_t samples;
};

}  // namespace

void Closer::operator()(MovieFile* m) const { QTClose(m); }

Movie open(const std::string& file, uint32_t traceMask) { return Movie(QTOpen(file, traceMask, true)); }

bool copyMovie(const std::string& srcName, const std::string& dstName) {
    const Movie src = open(srcName);
    if (!src)
        return false;
    MovieFile* dst = QTCreate(dstName, &src->m_brand, src->m_movieTimescale, 0);
    if (!dst)
        return false;
    MovieTrack* out[kMaxTracks] = {};
    std::vector<ChunkRef> chunks;
    for (int i = 0; i < src->m_trackCount; ++i) {
        const MovieTrack& t = src->m_tracks[i];
        if (t.m_handlerType == makeFourcc("vide")) {
            out[i] = QTAddVideoTrack(dst, fourccString(t.m_codec), t.m_mediaTimescale, QTGetFrameRate(&t),
                                     t.m_width, t.m_height);
            out[i]->m_sampleDuration = t.m_sampleDuration;
        } else if (t.m_handlerType == makeFourcc("soun")) {
            out[i] = QTAddAudioTrack(dst, fourccString(t.m_codec), t.m_sampleDuration, t.m_mediaTimescale,
                                     t.m_audioSampleSize, t.m_audioChannels, t.m_fixedSampleSize);
            out[i]->m_endianness = t.m_endianness;
            out[i]->m_lpcmFlags = t.m_lpcmFlags;
            out[i]->m_extraAtom = t.m_extraAtom;
        } else {
            continue;
        }
        QTCopyCodecConfig(out[i], t.m_esds.m_raw, t.m_esds.m_rawLength, &t.m_avc, &t.m_hevc, &t.m_colour);
        out[i]->m_timeToSample = t.m_timeToSample;
        out[i]->m_editList = t.m_editList;
        uint32_t first = 1;
        for (uint32_t c = 1; c <= t.m_chunkOffsets.size(); ++c) {
            const uint32_t n = QTGetSamplesPerChunk(&t, c);
            chunks.push_back({i, c, t.m_chunkOffsets[c - 1], first, n});
            first += n;
        }
    }
    std::stable_sort(chunks.begin(), chunks.end(),
                     [](const ChunkRef& a, const ChunkRef& b) { return a.offset < b.offset; });
    bool ok = true;
    std::vector<uint8_t> buffer;
    for (const ChunkRef& c : chunks) {
        const MovieTrack& t = src->m_tracks[c.track];
        if (t.m_fixedSampleSize) {
            // A fixed-size chunk goes in one call, as a run of samples.
            buffer.resize(size_t(c.samples) * t.m_fixedSampleSize);
            ok = ok && src->m_file.readAt(int64_t(c.offset), buffer.data(), buffer.size()) == buffer.size();
            ok = ok && QTAddSamples(dst, out[c.track], buffer.data(), uint32_t(buffer.size()), 0);
            continue;
        }
        for (uint32_t s = c.firstSample; s < c.firstSample + c.samples; ++s) {
            const uint64_t offset = QTGetSampleOffset(&t, s);
            buffer.resize(QTGetSampleSize(&t, s));
            ok = ok && offset != 0 && !buffer.empty();
            ok = ok && src->m_file.readAt(int64_t(offset), buffer.data(), buffer.size()) == buffer.size();
            ok = ok && QTAddSamples(dst, out[c.track], buffer.data(), uint32_t(buffer.size()),
                                    QTGetCompositionOffset(&t, s));
        }
    }
    ok = QTClose(dst) && ok;
    return ok;
}

std::string summary(const MovieFile* m) {
    std::ostringstream o;
    o << "mdat " << m->m_mdatOffset << " moov " << m->m_moovOffset << " ts " << m->m_movieTimescale << " tracks "
      << m->m_trackCount;
    auto text = [](Fourcc f) { return f ? fourccString(f) : std::string("-"); };
    for (int i = 0; i < m->m_trackCount; ++i) {
        const MovieTrack& t = m->m_tracks[i];
        o << " | " << text(t.m_handlerType) << " " << text(t.m_codec) << " n=" << t.m_sampleCount
          << " " << t.m_sampleSizes.size() << "/" << t.m_chunkOffsets.size() << "/" << t.m_sampleToChunk.size()
          << "/" << t.m_timeToSample.size();
    }
    return o.str();
}

void expectTablesWithinFile(const MovieFile* m, uint64_t fileSize) {
    ASSERT_LE(m->m_trackCount, kMaxTracks);
    for (int i = 0; i < m->m_trackCount; ++i) {
        const MovieTrack& t = m->m_tracks[i];
        EXPECT_LE(t.m_sampleSizes.size() * 4, fileSize) << i;
        EXPECT_LE(t.m_chunkOffsets.size() * 4, fileSize) << i;
        EXPECT_LE(t.m_sampleToChunk.size() * 12, fileSize) << i;
        EXPECT_LE(t.m_timeToSample.size() * 8, fileSize) << i;
        EXPECT_LE(t.m_compositionOffsets.size() * 8, fileSize) << i;
        // Variable sizes: a sample count is only what the size table holds.
        if (t.m_fixedSampleSize == 0) {
            EXPECT_LE(t.m_sampleCount, t.m_sampleSizes.size()) << i;
        }
        // The lookups walk the tables for every sample (sanitizer builds
        // see any read outside them).
        const uint32_t n = std::min<uint32_t>(t.m_sampleCount, 5000);
        for (uint32_t s = 0; s <= n + 1; ++s)
            (void)(QTGetSampleOffset(&t, s) + QTGetSampleSize(&t, s) + QTGetCompositionOffset(&t, s));
        for (uint32_t c = 0; c <= std::min<size_t>(t.m_chunkOffsets.size(), 5000) + 1; ++c)
            QTGetSamplesPerChunk(&t, c);
    }
}

}  // namespace qttest
