// -nfd end to end: two recordings written one after the other into one file
// (a card whose file system was lost) come back as two clips, each with
// exactly its own recording's packets.

#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// Same encoder settings, different pictures: the reference fits both, and
// every frame tells which recording it came from.
std::string recording(const std::string& name, const std::string& filter) {
    return testmedia::movie(name, filter + "-c:v libx264 -bf 2 -g 25 -c:a aac -ac 2");
}

// Each stream's packets in order: timestamps and payload checksum.
std::map<int, std::vector<std::string>> streams(const std::string& file) {
    std::map<int, std::vector<std::string>> packets;
    for (const auto& p : repairrun::packets(file))
        packets[p.stream].push_back(std::to_string(p.dts) + " " + std::to_string(p.pts) + " " + p.md5);
    return packets;
}

}  // namespace

class NewClipDetection : public ::testing::TestWithParam<bool> {};

// Joined with their index at the end of each, or with the index lost (a
// recorder that stopped before writing it): either way each recording
// comes back as a clip of its own, every packet as it was.
TEST_P(NewClipDetection, TwoConcatenatedRecordingsBecomeTwoClips) {
    const bool indexKept = GetParam();
    const std::string first = recording("nfd_first.mp4", "");
    const std::string second = recording("nfd_second.mp4", "-vf negate -af volume=0.5 ");
    auto joined = indexKept ? testsupport::readFile(first) : repairrun::withoutIndex(first);
    const auto tail = indexKept ? testsupport::readFile(second) : repairrun::withoutIndex(second);
    joined.insert(joined.end(), tail.begin(), tail.end());

    // A reference of another scene: the encoder placed its B-frames by
    // content, so its pictures come in another order, and each clip must
    // show its frames in its own.
    const std::string ref = recording("nfd_reference.mp4", "-vf noise=alls=30:allf=t ");
    const auto r = repairrun::repairBytes(indexKept ? "NewClipDetectionKept" : "NewClipDetectionLost", ref, joined,
                                          "card.mp4", "-nfd -v 5", "clip.mp4");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(streams(r.repaired), streams(first));
    EXPECT_EQ(streams(r.repaired.substr(0, r.repaired.size() - 4) + "_1.mp4"), streams(second));

    // The first split: detection, the driver writing the clip and printing
    // the parameters, the next clip, then the detection's own reset.
    std::vector<std::string> order;
    for (const std::string& line : testsupport::lines(r.log))
        for (const char* start : {"[INFO] nfd at ", "[NOTICE] dump completed", "[NOTICE] video class",
                                  "[INFO] next clip: ", "[DEBUG] ScanInfo::reset", "[INFO] nfd reset 0"})
            if (order.size() < 6 && line.rfind(start, 0) == 0 && (!order.empty() || line.rfind("[INFO] nfd at ", 0) == 0))
                order.push_back(start);
    EXPECT_EQ(order, (std::vector<std::string>{"[INFO] nfd at ", "[NOTICE] dump completed", "[NOTICE] video class",
                                               "[INFO] next clip: ", "[DEBUG] ScanInfo::reset",
                                               "[INFO] nfd reset 0"}));
}

INSTANTIATE_TEST_SUITE_P(Joined, NewClipDetection, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "IndexKept" : "IndexLost"); });
