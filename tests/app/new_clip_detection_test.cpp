// -nfd end to end: two recordings written one after the other into one file
// (a card whose file system was lost) come back as two clips, each holding
// only its own recording's frames.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using testsupport::quote;

namespace {

// Same encoder settings, different pictures: the reference fits both, and
// every frame tells which recording it came from.
std::string recording(const std::string& name, const std::string& filter) {
    return testmedia::movie(name, filter + "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2");
}

// Payload checksums of the video packets (the first stream, in the
// recordings and in the clips alike).
std::set<std::string> videoPackets(const std::string& file) {
    std::set<std::string> md5s;
    for (const auto& p : repairrun::packets(file))
        if (p.stream == 0)
            md5s.insert(p.md5);
    return md5s;
}

size_t countIn(const std::set<std::string>& packets, const std::set<std::string>& of) {
    size_t n = 0;
    for (const auto& p : packets)
        n += of.count(p);
    return n;
}

}  // namespace

TEST(NewClipDetection, TwoConcatenatedRecordingsBecomeTwoClips) {
    const std::string first = recording("nfd_first.mp4", "");
    const std::string second = recording("nfd_second.mp4", "-vf negate -af volume=0.5 ");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    const std::string dir = testsupport::scratchDir("NewClipDetectionTwo");
    auto joined = testsupport::readFile(first);
    const auto tail = testsupport::readFile(second);
    joined.insert(joined.end(), tail.begin(), tail.end());
    testsupport::writeFile(dir + "/card.mp4", joined);

    const auto r = testsupport::runFramend("-i " + quote(dir + "/card.mp4") + " -ref " + quote(first) + " -o " +
                                           quote(dir + "/clip.mp4") + " -nfd -aac -v 5");
    EXPECT_EQ(r.exitCode, 0);

    const auto a = videoPackets(first);
    const auto b = videoPackets(second);
    const auto clip0 = videoPackets(dir + "/clip.mp4");
    const auto clip1 = videoPackets(dir + "/clip_1.mp4");
    EXPECT_GT(countIn(clip0, a), a.size() * 9 / 10);
    EXPECT_EQ(countIn(clip0, b), 0u) << "the first clip runs into the second recording";
    EXPECT_GT(countIn(clip1, b), b.size() / 2);
    EXPECT_EQ(countIn(clip1, a), 0u);

    // The first split: detection, the driver writing the clip and printing
    // the parameters, the next clip, then the detection's own reset.
    std::vector<std::string> order;
    std::istringstream log(r.output);
    std::string line;
    while (std::getline(log, line) && order.size() < 6)
        for (const char* start : {"[INFO] nfd at ", "[NOTICE] dump completed", "[NOTICE] video class",
                                  "[INFO] next clip: ", "[DEBUG] ScanInfo::reset", "[INFO] nfd reset 0"})
            if (line.rfind(start, 0) == 0 && (!order.empty() || line.rfind("[INFO] nfd at ", 0) == 0))
                order.push_back(start);
    EXPECT_EQ(order, (std::vector<std::string>{"[INFO] nfd at ", "[NOTICE] dump completed", "[NOTICE] video class",
                                               "[INFO] next clip: ", "[DEBUG] ScanInfo::reset",
                                               "[INFO] nfd reset 0"}));
}
