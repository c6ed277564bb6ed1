// Which analysers a run gets, in creation order, from the working video class
// and the mode settings.

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

const Names kFallback = {"ICODAnalyser", "MPEG2Analyser", "AVC1Analyser", "HEVCAnalyser",
                         "MP4VAnalyser", "JPEGAnalyser",  "DVCAnalyser",  "ProResAnalyser"};

}  // namespace

TEST(AnalyserRegistry, VideoClassPicksOneAnalyserBetweenTheAudioSwitches) {
    AnalyserSettings s;
    AnalyserChoice c = AnalyserRegistry::choose("avc1", s);
    EXPECT_EQ(names(c), (Names{"MDATAnalyser", "AVC1Analyser"}));
    EXPECT_TRUE(c.knownClass);
    EXPECT_EQ(c.videoRow, AnalyserRegistry::find("AVC1Analyser"));
    s.pcm = s.aac = true;
    EXPECT_EQ(names(AnalyserRegistry::choose("apcs", s)),
              (Names{"MDATAnalyser", "PCMAnalyser", "ProResAnalyser", "AACAnalyser"}));
    EXPECT_EQ(names(AnalyserRegistry::choose("dvc ", s))[2], "DVCAnalyser");
    s.canonRepi = true;
    c = AnalyserRegistry::choose("hev1", s);
    EXPECT_EQ(names(c), (Names{"MDATAnalyser", "PCMAnalyser", "CanonRepiAnalyser", "AACAnalyser"}));
    EXPECT_EQ(c.videoRow, AnalyserRegistry::find("CanonRepiAnalyser"));
}

TEST(AnalyserRegistry, UnknownOrNoClassGivesTheFallbackSet) {
    AnalyserSettings s;
    for (const char* videoClass : {"", "xyz1", "aivx"}) {
        const AnalyserChoice c = AnalyserRegistry::choose(videoClass, s);
        Names expected = kFallback;
        expected.insert(expected.begin(), "MDATAnalyser");
        EXPECT_EQ(names(c), expected) << videoClass;
        EXPECT_FALSE(c.knownClass);
        EXPECT_TRUE(c.videoChosen);
        EXPECT_EQ(c.videoRow, nullptr);
    }
    s.canonRepi = true;
    EXPECT_EQ(names(AnalyserRegistry::choose("", s))[4], "CanonRepiAnalyser");
}

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
