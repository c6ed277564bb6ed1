#include "camera/crm/crm_track_builder.h"

#include "camera/crm/crm_audio_repair.h"
#include "camera/crm/crm_audio_tidy.h"
#include "camera/crm/pcm24.h"
#include "platform/file.h"

#include <algorithm>
#include <stdexcept>

namespace crm {

namespace {

// A timed-metadata sample larger than this is a damaged table, not metadata.
constexpr uint32_t kMaxMetaSample = 16 * 1024 * 1024;

void addMetadataTrack(platform::File& file, const CrmRefTrack& ref, const CrmPayloadScan& scan, uint64_t& appendAt,
                      CrmTrackPlan& plan) {
    uint64_t nextSample = 0;
    for (size_t c = 0; c < scan.chunkSampleCounts.size(); ++c) {
        if (ref.samplesPerChunk.empty() || ref.chunkOffsets.empty())
            return;
        const size_t k = std::min(c, ref.samplesPerChunk.size() - 1);
        const uint32_t want = ref.samplesPerChunk[k];
        if (want == 0 || nextSample >= ref.sampleSizes.size() || k >= ref.chunkOffsets.size())
            return;
        std::vector<Bytes> read;
        uint64_t at = ref.chunkOffsets[k];
        for (uint32_t i = 0; i < want && nextSample < ref.sampleSizes.size(); ++i) {
            const uint32_t size = ref.sampleSizes[nextSample++];
            if (size > kMaxMetaSample)
                break;
            Bytes sample(size);
            if (size && file.readAt(int64_t(at), sample.data(), size) != size)
                break;
            read.push_back(std::move(sample));
            at += size;
        }
        if (read.empty())
            return;
        plan.chunkOffsets.push_back(appendAt);
        plan.samplesPerChunk.push_back(scan.chunkSampleCounts[c]);
        for (uint32_t j = 0; j < scan.chunkSampleCounts[c]; ++j) {
            const Bytes& s = read[std::min<size_t>(j, read.size() - 1)];
            plan.sampleSizes.push_back(uint32_t(s.size()));
            plan.appended.insert(plan.appended.end(), s.begin(), s.end());
            appendAt += s.size();
        }
    }
}

}  // namespace

void splitRunsEvenly(const std::vector<AudioRun>& runs, std::vector<CrmTrackPlan>& audioTracks) {
    const uint64_t n = audioTracks.size();
    if (n == 0)
        return;
    for (const AudioRun& run : runs) {
        const uint64_t share = run.length / n;
        if (run.length < n)
            continue;
        for (uint64_t t = 0; t < n; ++t) {
            CrmTrackPlan& plan = audioTracks[t];
            const uint32_t frame = std::max<uint32_t>(plan.reference->frameBytes, 1);
            if (share % frame != 0 || share / frame > UINT32_MAX)
                continue;
            plan.addUniformChunk(run.offset + t * share, uint32_t(share / frame), frame);
        }
    }
}

std::vector<CrmTrackPlan> buildCrmTracks(const CrmTrackInput& in) {
    const CrmReference& ref = *in.reference;
    const CrmPayloadScan& scan = *in.scan;
    std::vector<CrmTrackPlan> plans;

    CrmTrackPlan video;
    video.reference = ref.video();
    video.sampleSizes = scan.sampleSizes;
    video.samplesPerChunk = scan.chunkSampleCounts;
    video.chunkOffsets = scan.chunkOffsets;
    plans.push_back(std::move(video));

    const std::vector<const CrmRefTrack*> audioRefs = ref.audioTracks();
    std::vector<CrmTrackPlan> audio(audioRefs.size());
    for (size_t t = 0; t < audioRefs.size(); ++t)
        audio[t].reference = audioRefs[t];
    uint64_t appendAt = in.payloadLength;
    if (in.audioChunks) {
        std::vector<uint32_t> channels;
        for (const CrmRefTrack* t : audioRefs)
            channels.push_back(std::max<uint32_t>(t->frameBytes / kPcmBytes, 1));
        RepairedAudio repaired =
            repairCrmAudio(in.damagedFile, in.payloadStart, in.payloadLength, *in.audioChunks, channels);
        const CrmRefTrack* v = ref.video();
        const VideoTiming timing{scan.sampleSizes.size(), v->sampleDelta, v->timescale};
        for (size_t t = 0; t < audio.size() && t < repaired.tracks.size(); ++t) {
            ChunkBytes& chunks = repaired.tracks[t];
            const CrmRefTrack& r = *audioRefs[t];
            dropPreRoll(chunks, scan.chunkOffsets.size(), t);
            trimToVideo(chunks, r.frameBytes, r.timescale, r.sampleDelta, timing, t);
            if (in.tailFade)
                fadeNoisyTail(chunks, channels[t], t);
            const uint32_t frame = std::max<uint32_t>(r.frameBytes, 1);
            for (const Bytes& c : chunks) {
                if (c.empty() || c.size() % frame != 0)
                    continue;
                audio[t].addUniformChunk(appendAt, uint32_t(c.size() / frame), frame);
                audio[t].appended.insert(audio[t].appended.end(), c.begin(), c.end());
                appendAt += c.size();
            }
        }
    } else if (in.runs) {
        splitRunsEvenly(*in.runs, audio);
    }
    for (CrmTrackPlan& a : audio)
        if (a.sampleCount() > 0)
            plans.push_back(std::move(a));

    platform::File file;
    if (!file.open(in.referenceFile, platform::File::Mode::Read))
        throw std::runtime_error("reference open failed for metadata");
    for (const CrmRefTrack& t : ref.tracks) {
        if (t.handler != "tmcd" && t.handler != "meta")
            continue;
        CrmTrackPlan meta;
        meta.reference = &t;
        addMetadataTrack(file, t, scan, appendAt, meta);
        if (!meta.sampleSizes.empty())
            plans.push_back(std::move(meta));
    }
    return plans;
}

}  // namespace crm
