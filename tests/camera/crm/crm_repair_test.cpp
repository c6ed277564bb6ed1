// Damaged CRM recordings repaired end to end by the framend binary, judged by
// what ffmpeg reads back from the output against what the generator wrote.

#include "camera/crm/crm_recording.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace crmtest;
using namespace testsupport;

namespace {

using repairrun::Outcome;

// The generator's own movie is the reference.
Outcome repair(const std::string& test, const CrmRecording& rec, const Bytes& damaged, const std::string& flags) {
    return repairrun::repairBytes(test, writeScratch(test + "_ref", "ref.mov", rec.file), damaged, "damaged.crm", flags);
}

bool contains(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

}  // namespace

// Metadata and timecode samples sit in every audio run in front of the audio:
// the partition must take each track's chunk from the end of its run.
TEST(CrmRepair, WrappedRecordingComesBackExactly) {
    const CrmRecording rec = makeCrmRecording({});
    const Outcome r = repair("crm_wrapped", rec, wrapped(rec.payload), "-canoncrm");
    ASSERT_EQ(r.exitCode, 0) << r.log;
    EXPECT_TRUE(contains(r.log, "CanonCRM wrapped container audio chunks=4")) << r.log;
    EXPECT_EQ(repairrun::packetCounts(r.repaired)[0], rec.sampleSizes.size());
    EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data"), rec.videoBytes());
    for (size_t t = 0; t < rec.audio.size(); ++t)
        EXPECT_EQ(streamBytes(r.repaired, "0:a:" + std::to_string(t), "s24be"), rec.audioBytes(t)) << "track " << t;
    const std::string probe = testsupport::ffprobe(r.repaired, "-show_entries stream=codec_tag_string,nb_frames -of csv=p=0");
    for (const char* stream : {"CRAW,12", "in24,23040\nin24,23040", "mett,12", "tmcd,12"})
        EXPECT_TRUE(contains(probe, stream)) << probe;
}

// The recording stops inside a video sample: every whole sample comes back,
// and the audio of the complete chunks. The junk behind the last whole sample
// is long enough to pass for a run: it is faded out unless
// -canoncrmnotailfade keeps it as found.
TEST(CrmRepair, DamagedTailKeepsEveryWholeSample) {
    CrmRecordingOptions o;
    o.samplesPerChunk = 6;
    o.framesPerChunk = 11520;
    o.lengthField = 140000;
    const CrmRecording rec = makeCrmRecording(o);
    const size_t cut = rec.sampleOffsets[23] + 139000;  // inside the last sample
    const Bytes damaged = wrapped(Bytes(rec.payload.begin(), rec.payload.begin() + long(cut)));
    const Outcome faded = repair("crm_tail", rec, damaged, "-canoncrm");
    const Outcome plain = repair("crm_tail_nofade", rec, damaged, "-canoncrm -canoncrmnotailfade");
    EXPECT_TRUE(contains(faded.log, "CanonCRM faded noisy recovered audio tail track=0")) << faded.log;
    EXPECT_FALSE(contains(plain.log, "faded noisy")) << plain.log;
    for (const Outcome* r : {&faded, &plain}) {
        ASSERT_EQ(r->exitCode, 0) << r->log;
        EXPECT_EQ(streamBytes(r->repaired, "0:v:0", "data"), rec.videoBytes(0, 23));
        const Bytes audio = streamBytes(r->repaired, "0:a:1", "s24be");
        // 23 frames of video at 25 fps hold 44160 frames of audio.
        ASSERT_EQ(audio.size(), 44160u * 6);
        const Bytes untouched = rec.audioBytes(1, 0, r == &faded ? 1 : 3);
        EXPECT_EQ(Bytes(audio.begin(), audio.begin() + long(untouched.size())), untouched);
    }
}

// Leading damage: the recording's start is gone up to inside its first chunk.
// The partial chunk goes, the rest lines up with the reference by the video
// chunk sizes, and each run's audio is found where the reference has it.
TEST(CrmRepair, LeadingDamageDropsThePartialChunk) {
    const CrmRecording rec = makeCrmRecording({});
    const Bytes damaged = wrapped(Bytes(rec.payload.begin() + long(rec.sampleOffsets[1] + 100), rec.payload.end()));
    for (const char* flags : {"-canoncrmleading", "-canoncrm -auto"}) {
        const Outcome r = repair("crm_leading", rec, damaged, flags);
        ASSERT_EQ(r.exitCode, 0) << r.log;
        EXPECT_TRUE(contains(r.log, "CanonCRM dropped leading partial video chunks count=1 samples=1")) << r.log;
        EXPECT_TRUE(contains(r.log, "donor_layout_runs=3")) << r.log;
        EXPECT_EQ(contains(r.log, "CanonCRM auto selected leading-damage mode"), std::string(flags) != "-canoncrmleading");
        EXPECT_EQ(streamBytes(r.repaired, "0:v:0", "data"), rec.videoBytes(3));
        for (size_t t = 0; t < rec.audio.size(); ++t)
            EXPECT_EQ(streamBytes(r.repaired, "0:a:" + std::to_string(t), "s24be"), rec.audioBytes(t, 1)) << flags;
    }
}

// -auto recognises a CRAW reference's payload by samples over a megabyte, and
// a wrapped file by the nested file type box beyond the first megabyte.
TEST(CrmRepair, AutoPicksPayloadAndWrappedInputs) {
    CrmRecordingOptions o;
    o.chunks = 2;
    o.samplesPerChunk = 1;
    o.lengthField = 0x100100;
    o.framesPerChunk = 1920;
    const CrmRecording rec = makeCrmRecording(o);
    const Outcome bare = repair("crm_auto_bare", rec, rec.payload, "-auto");
    EXPECT_TRUE(contains(bare.log, "auto selected Canon CRM payload recovery candidate")) << bare.log;
    const Outcome wrap = repair("crm_auto_wrapped", rec, wrapped(rec.payload), "-auto");
    EXPECT_TRUE(contains(wrap.log, "auto selected Canon CRM wrapped-container candidate")) << wrap.log;
    EXPECT_TRUE(contains(wrap.log, "CanonCRM rebuild complete")) << wrap.log;
    for (const Outcome* r : {&bare, &wrap}) {
        ASSERT_EQ(r->exitCode, 0) << r->log;
        EXPECT_EQ(streamBytes(r->repaired, "0:v:0", "data"), rec.videoBytes());
    }
}
