// Hostile CRM input: lengths of 0 or near the cap, boxes whose sizes lie, a
// marker split by the search block border, fake markers inside audio. Nothing
// may crash or hang, and no audio gap may be recorded twice.

#include "camera/crm/crm_marker_search.h"
#include "camera/crm/crm_recording.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace crmtest;
using namespace testsupport;

namespace {

using repairrun::Outcome;

// The analyser's audio runs, as logged; none may overlap another.
bool gapsOverlap(const std::string& log) {
    std::vector<std::pair<uint64_t, uint64_t>> chunks;
    const std::string key = "CanonCRM Audio_Run ofs=";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        char* end = nullptr;
        const uint64_t offset = std::strtoull(log.c_str() + at + key.size(), &end, 10);
        chunks.emplace_back(offset, std::strtoull(end + std::strlen(" len="), nullptr, 10));
    }
    std::sort(chunks.begin(), chunks.end());
    for (size_t i = 1; i < chunks.size(); ++i)
        if (chunks[i - 1].first + chunks[i - 1].second > chunks[i].first)
            return true;
    return false;
}

// A sample's marker and its length field.
void setHeader(Bytes& b, uint64_t at, uint32_t length) {
    const Bytes header = concat({{0xFF, 0x11, 0x00, 0x10}, u32s({length})});
    std::copy(header.begin(), header.end(), b.begin() + long(at));
}

}  // namespace

// A marker inside audio whose length is 0, or whose sample would end beyond
// the file (one of them near the 200 MB cap): the audio around it is still
// audio, in both the rebuild and the analyser, and every sample comes back.
TEST(CrmHostile, InvalidMarkerInsideAudioIsAudio) {
    // Runs of audio alone, so that the analyser splits the gap in front of a
    // fake marker over the tracks if it takes one.
    CrmRecordingOptions o;
    o.metadataInRuns = false;
    const CrmRecording rec = makeCrmRecording(o);
    const std::string ref = writeScratch("crm_fake_marker_ref", "ref.mov", rec.file);
    for (uint32_t length : {0u, 0xFFFFFFFFu, 199999128u, 199999129u}) {
        Bytes p = rec.payload;
        setHeader(p, rec.audioChunkOffsets[0] + 1008, length);
        Bytes expected = rec.audioBytes(0);
        std::copy(p.begin() + long(rec.audioChunkOffsets[0] + 1008), p.begin() + long(rec.audioChunkOffsets[0] + 1016),
                  expected.begin() + 1008);
        for (const bool boxed : {false, true}) {
            // A bare payload has no box to start from: the rebuild gives up
            // and the analyser recovers the samples, each run split evenly
            // over the tracks. With a file type box in front the rebuild
            // takes it, leaving the audio in place.
            const Outcome r =
                repairrun::repairBytes("crm_fake_marker", ref, boxed ? withMediaHeader(p) : p, "damaged.crm", "-canoncrm");
            ASSERT_EQ(r.exitCode, 0) << r.log;
            const std::vector<std::string> path =
                boxed ? std::vector<std::string>{"CanonCRM rebuild complete: video_samples=12 video_chunks=4 audio_runs=4"}
                      : std::vector<std::string>{"[WARNING] CanonCRM rebuild failed: invalid box",
                                                 "[WARNING] Canon CRM output container mode failed; falling back to "
                                                 "sample analyser"};
            for (const std::string& line : path)
                EXPECT_NE(r.log.find(line), std::string::npos) << line << "\n" << r.log;
            EXPECT_EQ(framemd5(r.repaired, "", "-map 0:v").size(), 12u);
            EXPECT_FALSE(gapsOverlap(r.log)) << length << "\n" << r.log;
            EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data"), rec.videoBytes()) << length;
            EXPECT_EQ(streamBytes(r.repaired, "0:a:0", "s24be"), expected) << length << "\n" << r.log;
            EXPECT_EQ(streamBytes(r.repaired, "0:a:1", "s24be"), rec.audioBytes(1)) << length;
        }
    }
}

TEST(CrmHostile, DamagedInputsNeverCrashHangOrRecordAGapTwice) {
    const CrmRecording rec = makeCrmRecording({});
    struct Case {
        const char* name;
        Bytes damaged;
    };
    std::vector<Case> cases;
    // A fake marker with a plausible length inside audio.
    Bytes plausible = rec.payload;
    setHeader(plausible, rec.audioChunkOffsets[1] + 3000, 700);
    cases.push_back({"plausible fake marker", plausible});
    // The first sample's length is 0, or lies beyond the file.
    for (uint32_t length : {0u, 199999128u}) {
        Bytes p = rec.payload;
        setHeader(p, 0, length);
        cases.push_back({"bad first sample", p});
        cases.push_back({"bad first sample boxed", withMediaHeader(p)});
    }
    // Boxes whose sizes lie: the outer mdat, the nested ftyp, a 64-bit size.
    Bytes outer = wrapped(rec.payload);
    const size_t mdat = findType(outer, "mdat") - 4;
    Bytes bigMdat = outer;
    bigMdat[mdat + 11] = 0xFF;  // 64-bit size far beyond the file
    cases.push_back({"outer mdat beyond the file", bigMdat});
    Bytes nested = outer;
    nested[mdat + 16] = 0xFF;  // nested ftyp claims 4 GB
    cases.push_back({"nested ftyp size lies", nested});
    Bytes tiny = outer;
    std::fill(tiny.begin() + long(mdat + 16), tiny.begin() + long(mdat + 20), 0);
    tiny[mdat + 19] = 3;  // nested box smaller than its header
    cases.push_back({"nested box of 3 bytes", tiny});
    cases.push_back({"empty", {}});
    cases.push_back({"header only", Bytes(rec.payload.begin(), rec.payload.begin() + 8)});

    const std::string ref = writeScratch("crm_hostile_ref", "ref.mov", rec.file);
    for (const Case& c : cases) {
        for (const char* flags : {"-canoncrm", "-canoncrm -auto"}) {
            const Outcome r = repairrun::repairBytes("crm_hostile", ref, c.damaged, "damaged.crm", flags);
            EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << c.name << " " << flags << " exit " << r.exitCode << "\n" << r.log;
            EXPECT_FALSE(gapsOverlap(r.log)) << c.name << "\n" << r.log;
        }
    }
}

// The next chunk's marker straddles the border of the 8 MiB blocks the search
// reads, counted from the end of the chunk before it; in the bare payload the
// scan windows meet there too.
TEST(CrmHostile, MarkerAcrossTheSearchBlockBorder) {
    const CrmRecording probe = makeCrmRecording({});
    const uint64_t chunk0End = probe.sampleOffsets[2] + probe.sampleSizes[2];
    CrmRecordingOptions o;
    o.fillerAfterFirstChunk = crm::kMarkerSearchBlock - 2 - (probe.chunkOffsets[1] - chunk0End);
    const CrmRecording rec = makeCrmRecording(o);
    ASSERT_EQ(rec.chunkOffsets[1], chunk0End + crm::kMarkerSearchBlock - 2);

    const std::string ref = writeScratch("crm_border_ref", "ref.mov", rec.file);
    const std::string bare = writeScratch("crm_border_payload", "payload.crm", rec.payload);
    platform::File f;
    ASSERT_TRUE(f.open(bare, platform::File::Mode::Read));
    EXPECT_EQ(crm::findCrmSample(f, chunk0End, rec.payload.size()), rec.chunkOffsets[1]);

    for (const Bytes& in : {rec.payload, wrapped(rec.payload)}) {
        const Outcome r = repairrun::repairBytes("crm_border", ref, in, "damaged.crm", "-canoncrm");
        ASSERT_EQ(r.exitCode, 0) << r.log;
        EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data"), rec.videoBytes()) << in.size();
        EXPECT_FALSE(gapsOverlap(r.log));
    }
}
