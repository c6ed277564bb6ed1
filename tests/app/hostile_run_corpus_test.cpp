// Every file in tests/app/hostile_runs/<family>/ (inputs the whole-run
// fuzzer found, and hand-made hostile ones) is repaired end to end against
// that family's reference, made by ffmpeg with the recipe bench/fuzz_all.sh
// uses. A run ends with one of the documented outcomes, never by a signal or
// a sanitizer report (the suite's sanitizer build catches any bad read), and
// whatever it writes is a movie ffmpeg can read to the end.

#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>


#include <string>
#include <vector>

namespace {

struct Family {
    const char* name;
    const char* reference;  // fixture name, its extension picks the container
    const char* encode;     // what follows the two lavfi inputs
    const char* options;    // framend options beyond -i, -ref, -o and -verout
};

// The references of bench/fuzz_all.sh: 1 s of 160x120 test pattern and a
// 440 Hz tone.
const Family kFamilies[] = {
    {"h264_aac", "hostile_h264_aac.mp4", "-c:v libx264 -g 12 -bf 2 -c:a aac -b:a 48k", ""},
    {"hevc_aac", "hostile_hevc_aac.mp4",
     "-c:v libx265 -tag:v hvc1 -x265-params log-level=none:keyint=12 -c:a aac -b:a 48k", ""},
    {"prores_pcm", "hostile_prores_pcm.mov", "-c:v prores_ks -profile:v 0 -c:a pcm_s16le", ""},
    {"mpeg2_pcm", "hostile_mpeg2_pcm.mov", "-c:v mpeg2video -g 12 -bf 2 -c:a pcm_s16le", ""},
    {"mpeg4_aac", "hostile_mpeg4_aac.mp4", "-c:v mpeg4 -g 12 -bf 1 -c:a aac -b:a 48k", ""},
    {"mjpeg_pcm", "hostile_mjpeg_pcm.mov", "-c:v mjpeg -q:v 8 -c:a pcm_s16le", ""},
    {"pcm", "hostile_pcm.mov", "-c:v libx264 -g 12 -c:a pcm_s16be", "-pcm"},
};

std::string reference(const Family& f) {
    return testsupport::fixture(f.reference, std::string("-f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                                                         "sine=frequency=440:sample_rate=48000:duration=1 -t 1 ") +
                                                 f.encode);
}

}  // namespace

TEST(HostileRunCorpus, EveryInputEndsWithADocumentedOutcome) {
    const std::string corpus = std::string(FRAMEND_SOURCE_DIR) + "/tests/app/hostile_runs";
    size_t inputs = 0;
    for (const Family& f : kFamilies) {
        const std::vector<std::string> files = testsupport::filesIn(corpus + "/" + f.name);
        if (files.empty())
            continue;
        const std::string ref = reference(f);
        for (const std::string& name : files) {
            SCOPED_TRACE(std::string(f.name) + "/" + name);
            ++inputs;
            const std::string ext = std::string(f.reference).substr(std::string(f.reference).rfind('.'));
            const repairrun::Outcome r = repairrun::repairBytes(
                std::string("hostile_run_") + f.name, ref, testsupport::readFile(corpus + "/" + f.name + "/" + name),
                "input" + ext, std::string("-verout ") + f.options, "repaired" + ext);
            EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.exitCode << "\n" << r.errors;
            EXPECT_EQ(r.errors.find("Sanitizer"), std::string::npos) << r.errors;
            EXPECT_EQ(r.errors.find("runtime error"), std::string::npos) << r.errors;
            if (r.exitCode == 0) {
                EXPECT_FALSE(repairrun::packets(r.repaired).empty());
                EXPECT_EQ(repairrun::decodeErrors(r.repaired).find("Invalid data"), std::string::npos);
            }
        }
    }
    EXPECT_GT(inputs, 0u);
}
