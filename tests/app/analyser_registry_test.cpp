// Which analysers a camera mode or the QT reconstruction gets: the camera's
// own alone, or no video analyser (the choice by video class is judged by
// the repairs themselves).

#include "app/analyser_registry.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const AnalyserChoice& choice) {
    std::vector<std::string> n;
    for (const AnalyserRow* row : choice.rows)
        n.push_back(row->name);
    return n;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(AnalyserRegistry, CameraModesAndQtReconstructionLeaveOutTheVideoAnalysers) {
    AnalyserSettings s;
    s.atomScanner = s.canonCrm = s.sonyRsv = s.pcm = true;
    EXPECT_EQ(names(AnalyserRegistry::choose("avc1", s)), (Names{"AtomScanner", "CanonCrmAnalyser"}));
    s.canonCrm = false;
    EXPECT_EQ(names(AnalyserRegistry::choose("avc1", s)), (Names{"AtomScanner", "SonyRsvAnalyser"}));
    s.sonyRsv = false;
    s.qtReconstruction = true;
    const AnalyserChoice c = AnalyserRegistry::choose("avc1", s);
    EXPECT_EQ(names(c), (Names{"AtomScanner", "MDATAnalyser"}));
    EXPECT_FALSE(c.videoChosen);
}
