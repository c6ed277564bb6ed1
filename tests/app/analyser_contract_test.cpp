// The contract every registered analyser keeps, checked on each one the
// registry can make, over a real movie of a codec it serves (H.264+AAC for
// those that serve none) and over random bytes:
// findCandidate answers exactly as check() at every position would, and a
// position offered to analyse() twice in a row (as the scan loop does after a
// hit) reports nothing twice.

#include "app/analyser_registry.h"
#include "analysers/core/clip_sink.h"
#include "output/sample_collection.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"
#include "support/output_test_util.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"
#include "support/recording_clip_sink.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

using namespace outtest;

namespace {

using SampleRecord = std::tuple<int64_t, int32_t, int, int32_t>;

struct ScanResult {
    std::vector<SampleRecord> samples;
    std::vector<size_t> clipSizes;
    std::vector<int64_t> splitAt;  // positions whose analyse() split the clip
    int64_t candidateMismatches = 0;
    std::string firstMismatch;
    int analyses = 0;
};

uint32_t nextRandom(uint32_t& x) {
    x = x * 1664525u + 1013904223u;
    return x >> 8;
}

void noteMismatch(ScanResult& result, int64_t offset, int32_t count, int32_t available, int32_t found,
                  int32_t expected) {
    if (found == expected || result.candidateMismatches++ > 0)
        return;
    std::ostringstream s;
    s << "at " << offset << " count " << count << " available " << available << ": findCandidate " << found
      << ", check " << expected;
    result.firstMismatch = s.str();
}

int32_t firstCheck(StreamAnalyser& a, int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    for (int32_t i = 0; i < count; ++i)
        if (a.check(offset + i, data + i, available - i))
            return i;
    return count;
}

// Real bytes rarely put the one value that matters right at the position
// where an analyser's state changes its answer (the byte after its last
// sample, say). A ramp of every byte value, shifted so that each position
// sees all 256 values across the windows that cover it, does.
void probeEveryOffset(StreamAnalyser& a, int64_t end, ScanResult& result) {
    std::vector<uint8_t> ramp(768);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t(i);
    const int32_t count = 280;
    for (int64_t o = 0; o < end; ++o) {
        const int32_t shift = int32_t((o * 2) & 255);
        const uint8_t* data = ramp.data() + shift;
        const int32_t available = int32_t(ramp.size()) - shift;
        noteMismatch(result, o, count, available, a.findCandidate(o, data, count, available),
                     firstCheck(a, o, data, count, available));
    }
}

// A scan of `input` by one analyser alone, in windows of varying length:
// every findCandidate answer is compared with check() position by position.
// With offerTwice a position whose analyse() consumed nothing is offered
// again at once, as the scan loop does.
ScanResult scan(const AnalyserRow& row, const std::string& reference, const std::string& input, bool offerTwice,
                bool anyClass) {
    ScanResult result;
    auto state = stateFromReference(reference, "");
    // An analyser with no movie of its own runs as in the fallback set.
    if (anyClass)
        state->m_video->m_class.clear();
    state->m_inputFileName = input;
    state->m_referenceIsInput = input == reference;
    // Found samples before the scan, so that new clip detection has a clip
    // to split.
    ScanBuffer referenceReader;
    EXPECT_TRUE(referenceReader.open(reference));
    for (const MediaSample& s : state->m_reference->videoSamples())
        add_video_samples(*state, referenceReader, s.offset, s.size, s.extra);
    for (const MediaSample& s : state->m_reference->audioSamples())
        addAudioSample(*state, referenceReader, s.offset, s.size, -1);

    ScanInfo info;
    info.newClipDetection = true;
    info.aacFilter = true;
    info.canonCrmMode = true;
    info.pcmFilter = true;
    info.sonyRsvMode = true;
    info.canonRepiMode = true;
    info.stopOffset = 0;
    RecordingClipSink clips(*state);
    std::unique_ptr<StreamAnalyser> a = AnalyserRegistry::create(row, {state.get(), &info, &clips});
    EXPECT_TRUE(a->accepts()) << row.name;
    a->prepare();

    ScanBuffer buffer;
    EXPECT_TRUE(buffer.open(input));
    const int64_t size = buffer.fileSize();
    uint32_t random = 7;
    int64_t p = 0;
    while (p < size) {
        const uint8_t* data = buffer.get(p, 8192);
        const int32_t available = buffer.available();
        if (available <= 0)
            break;
        const int32_t count = std::min<int32_t>(available, 1 + int32_t(nextRandom(random) % 6000));
        const int32_t expected = firstCheck(*a, p, data, count, available);
        noteMismatch(result, p, count, available, a->findCandidate(p, data, count, available), expected);
        if (expected >= count) {
            p += count;
            continue;
        }
        const int64_t hit = p + expected;
        info.currentOffset = hit;
        const size_t clipsBefore = clips.clipSizes.size();
        bool consumed = a->analyse(hit, buffer);
        ++result.analyses;
        if (!consumed && offerTwice) {
            const uint8_t* again = buffer.get(hit, 1);
            if (a->check(hit, again, buffer.available()))
                consumed = a->analyse(hit, buffer);
        }
        if (clips.clipSizes.size() != clipsBefore)
            result.splitAt.push_back(hit);
        p = consumed ? std::max(info.currentOffset, hit + 1) : hit + 1;
    }
    if (!offerTwice)
        probeEveryOffset(*a, size, result);
    a->finish(buffer);
    for (const MediaSample& s : state->m_samples)
        result.samples.emplace_back(s.offset, s.size, int(s.kind), s.extra);
    result.clipSizes = clips.clipSizes;
    return result;
}

// A movie of a codec the row serves; the H.264+AAC movie (and
// `anyClass`) where no encoder here makes one.
std::string movieFor(const AnalyserRow& row, bool& anyClass) {
    anyClass = false;
    if (row.classes.contains("apcn"))
        return proresPcmMov();
    if (row.classes.contains("dvc "))
        return testmedia::dvPcmMov();
    if (row.classes.contains("jpeg"))
        return testmedia::mjpegPcmMov();
    if (row.classes.contains("hvc1"))
        return testmedia::hevcAacMp4();
    // A video analyser takes part only in scans of its own codec.
    if (row.classes.contains("MPG2"))
        return testmedia::movie("contract_mpeg2.mov", "-c:v mpeg2video -bf 2 -c:a pcm_s16be -ac 2");
    if (row.classes.contains("mp4v"))
        return testmedia::movie("contract_mpeg4.mp4", "-c:v mpeg4 -bf 2 -c:a aac -ac 2");
    anyClass = !row.classes.empty() && !row.classes.contains("avc1");
    return h264AacMp4();
}

}  // namespace

TEST(AnalyserContract, EveryRegisteredAnalyserOverRealMediaAndRandomBytes) {
    const std::string noise =
        testsupport::writeScratch("AnalyserContractRandom", "random.bin", repairrun::noise(128 * 1024, 2024));
    LogCapture quiet(LogLevel::Fatal);
    int made = 0;
    for (const AnalyserRow& row : AnalyserRegistry::rows()) {
        if (!row.make)
            continue;
        ++made;
        bool anyClass = false;
        const std::string movie = movieFor(row, anyClass);
        for (const std::string& input : {movie, noise}) {
            SCOPED_TRACE(std::string(row.name) + (input == movie ? " over the movie" : " over random bytes"));
            // PCM is looked for by its runs only where the reference places
            // no sound.
            const std::string reference = std::string(row.name) == "PCMAnalyser" ? testmedia::h264OnlyMov() : movie;
            const ScanResult once = scan(row, reference, input, false, anyClass);
            const ScanResult twice = scan(row, reference, input, true, anyClass);
            EXPECT_EQ(once.candidateMismatches, 0) << once.firstMismatch;
            EXPECT_EQ(twice.candidateMismatches, 0) << twice.firstMismatch;
            EXPECT_EQ(once.samples, twice.samples);
            EXPECT_EQ(once.clipSizes, twice.clipSizes);
            EXPECT_EQ(once.splitAt, twice.splitAt);
            // A camera format's analyser has nothing to find in an H.264 movie.
            if (input == movie && !anyClass && row.role != AnalyserRole::Camera) {
                EXPECT_GT(once.analyses, 0) << "the analyser never fired on real media";
            }
        }
    }
    EXPECT_GE(made, 3) << "new clip detection, H.264 and AAC at least";
}
