#include "qt_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "qt/quicktime.h"

namespace qttest {

void Closer::operator()(MovieFile* m) const { QTClose(m); }

Movie open(const std::string& file, uint32_t traceMask) { return Movie(QTOpen(file, traceMask, true)); }

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
