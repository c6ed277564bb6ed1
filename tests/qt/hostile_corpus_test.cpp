// Every file in tests/qt/corpus (hand-made hostile movies and inputs the
// fuzzer found) is opened, walked, looked up, dumped and closed. Under the
// sanitizers this catches any read outside a buffer.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "qt/quicktime.h"
#include "qt_test_util.h"

namespace {

std::vector<std::string> corpusFiles() {
    const std::string dir = std::string(FRAMEND_SOURCE_DIR) + "/tests/qt/corpus";
    std::vector<std::string> files;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                files.push_back(dir + "/" + e->d_name);
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(QtHostileCorpus, EveryFileOpensAndClosesCleanly) {
    const auto files = corpusFiles();
    ASSERT_GE(files.size(), 9u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        auto run = [](void* p) {
            const std::string& name = *static_cast<const std::string*>(p);
            for (uint32_t mask : {0u, 255u}) {
                MovieFile* m = QTOpen(name, mask, true);
                ASSERT_NE(m, nullptr);
                ASSERT_LE(m->m_trackCount, kMaxTracks);
                for (int i = 0; i < m->m_trackCount; ++i) {
                    const MovieTrack* t = &m->m_tracks[i];
                    const uint32_t n = t->m_sampleCount < 2000 ? t->m_sampleCount : 2000;
                    for (uint32_t s = 0; s <= n + 1; ++s)
                        (void)(QTGetSampleOffset(t, s) + QTGetSampleSize(t, s) + QTGetCompositionOffset(t, s));
                    for (uint32_t c = 0; c <= 2001 && c <= t->m_chunkOffsets.size() + 1; ++c)
                        QTGetSamplesPerChunk(t, c);
                    QTGetFrameRate(t);
                }
                QTDump(m);
                QTClose(m);
            }
        };
        qttest::captureStdout(run, const_cast<std::string*>(&file));
    }
}

TEST(QtHostileCorpus, SeventeenthTrackIsRefused) {
    const std::string file = std::string(FRAMEND_SOURCE_DIR) + "/tests/qt/corpus/seventeen_tracks.mov";
    MovieFile* m = nullptr;
    std::pair<const std::string*, MovieFile**> args(&file, &m);
    const std::string out = qttest::captureStdout(
        [](void* p) {
            auto* args = static_cast<std::pair<const std::string*, MovieFile**>*>(p);
            *args->second = QTOpen(*args->first, 0, true);
        },
        &args);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->m_trackCount, kMaxTracks);
    EXPECT_EQ(m->m_currentTrack, nullptr);
    EXPECT_EQ(out, "addTrack error - memory full\n");
    QTClose(m);
}

}  // namespace
