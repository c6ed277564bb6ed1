#include "camera/crm/crm_audio_partition.h"

#include "log/logger.h"

#include <algorithm>
#include <stdexcept>

namespace crm {

namespace {

constexpr uint64_t kMismatchPenalty = 10000000;
// The donor alignment compares every observed chunk at every start; beyond
// this many comparisons only the earliest starts are tried.
constexpr uint64_t kMaxAlignmentWork = 50000000;

// Byte size of each of the reference video track's chunks, from its sample
// sizes taken in order.
std::vector<uint64_t> videoChunkBytes(const CrmRefTrack& video) {
    std::vector<uint64_t> bytes;
    bytes.reserve(video.samplesPerChunk.size());
    size_t next = 0;
    for (uint32_t n : video.samplesPerChunk) {
        uint64_t sum = 0;
        for (uint32_t i = 0; i < n && next < video.sampleSizes.size(); ++i)
            sum += video.sampleSizes[next++];
        bytes.push_back(sum);
    }
    return bytes;
}

// Places one chunk of every track at the end of the run; false when the run
// is too short.
bool takeFromTail(const std::vector<uint64_t>& sizes, const AudioRun& run, TrackChunks& out) {
    uint64_t total = 0;
    for (uint64_t s : sizes)
        total += s;
    if (total == 0 || run.length < total)
        return false;
    uint64_t start = run.offset + run.length - total;
    for (size_t t = 0; t < sizes.size(); ++t) {
        if (sizes[t] == 0)
            continue;
        out[t].push_back({start, sizes[t]});
        start += sizes[t];
    }
    return true;
}

std::vector<uint64_t> trackChunkSizes(const std::vector<const CrmRefTrack*>& audio, uint64_t index) {
    std::vector<uint64_t> sizes;
    for (const CrmRefTrack* t : audio)
        sizes.push_back(referenceChunkBytes(*t, index));
    return sizes;
}

struct Alignment {
    uint64_t start = 0;
    uint64_t score = 0;
    uint64_t exact = 0;
};

Alignment alignWithDonor(const std::vector<uint32_t>& donorCounts, const std::vector<uint64_t>& donorBytes,
                         const std::vector<uint32_t>& sampleSizes, const std::vector<uint32_t>& counts) {
    const uint64_t nRef = donorCounts.size(), nObs = counts.size();
    uint64_t starts = nRef - nObs + 1;
    if (nObs > 0 && starts > kMaxAlignmentWork / nObs)
        starts = std::max<uint64_t>(kMaxAlignmentWork / nObs, 1);
    Alignment best;
    bool have = false;
    for (uint64_t s = 0; s < starts; ++s) {
        Alignment a{s, 0, 0};
        size_t next = 0;
        for (uint64_t i = 0; i < nObs; ++i) {
            if (counts[i] != donorCounts[s + i])
                a.score += kMismatchPenalty;
            else
                ++a.exact;
            if (counts[i] == 0) {
                a.score += donorBytes[s + i];
                continue;
            }
            uint64_t sum = 0;
            for (uint32_t k = 0; k < counts[i] && next < sampleSizes.size(); ++k)
                sum += sampleSizes[next++];
            a.score += sum > donorBytes[s + i] ? sum - donorBytes[s + i] : donorBytes[s + i] - sum;
        }
        if (!have || a.score < best.score || (a.score == best.score && a.exact > best.exact)) {
            best = a;
            have = true;
        }
    }
    return best;
}

}  // namespace

uint64_t referenceChunkBytes(const CrmRefTrack& track, uint64_t index) {
    if (track.samplesPerChunk.empty())
        return 0;
    const uint64_t i = std::min<uint64_t>(index, track.samplesPerChunk.size() - 1);
    return uint64_t(track.samplesPerChunk[i]) * track.frameBytes;
}

TrackChunks partitionRunsFromTail(const CrmReference& ref, const std::vector<AudioRun>& runs) {
    const std::vector<const CrmRefTrack*> audio = ref.audioTracks();
    TrackChunks out(audio.size());
    uint64_t usable = 0;
    for (size_t r = 0; r < runs.size(); ++r)
        if (takeFromTail(trackChunkSizes(audio, r), runs[r], out))
            ++usable;
    FLOG(LogLevel::Notice) << "CanonCRM audio runs partitioned from tail: input_runs=" << runs.size()
                           << " usable_runs=" << usable << " audio_tracks=" << audio.size();
    return out;
}

void dropLeadingPartialChunks(const CrmReference& ref, std::vector<uint32_t>& sampleSizes,
                              std::vector<uint32_t>& chunkSampleCounts, std::vector<uint64_t>& chunkOffsets) {
    const CrmRefTrack* video = ref.video();
    if (!video || video->samplesPerChunk.empty())
        return;
    const uint32_t expected = video->samplesPerChunk[0];
    size_t i = 0;
    uint64_t samples = 0;
    while (i < chunkSampleCounts.size() && chunkSampleCounts[i] != expected)
        samples += chunkSampleCounts[i++];
    if (i == chunkSampleCounts.size()) {
        if (!chunkSampleCounts.empty())
            throw std::runtime_error("CanonCRM leading damage removed all video chunks");
        return;
    }
    if (i == 0)
        return;
    if (samples >= sampleSizes.size())
        throw std::runtime_error("CanonCRM leading damage removed all video chunks");
    chunkOffsets.erase(chunkOffsets.begin(), chunkOffsets.begin() + std::min(i, chunkOffsets.size()));
    chunkSampleCounts.erase(chunkSampleCounts.begin(), chunkSampleCounts.begin() + i);
    sampleSizes.erase(sampleSizes.begin(), sampleSizes.begin() + samples);
    FLOG(LogLevel::Notice) << "CanonCRM dropped leading partial video chunks count=" << i << " samples=" << samples
                           << " expected_first_count=" << expected;
}

std::vector<AudioRun> runsAroundChunks(const std::vector<uint32_t>& sampleSizes,
                                       const std::vector<uint32_t>& chunkSampleCounts,
                                       const std::vector<uint64_t>& chunkOffsets, uint64_t payloadLength) {
    std::vector<AudioRun> runs;
    uint64_t cursor = 0;
    size_t next = 0;
    const size_t chunks = std::min(chunkOffsets.size(), chunkSampleCounts.size());
    for (size_t c = 0; c < chunks; ++c) {
        uint64_t bytes = 0;
        for (uint32_t k = 0; k < chunkSampleCounts[c] && next < sampleSizes.size(); ++k)
            bytes += sampleSizes[next++];
        if (cursor < chunkOffsets[c])
            runs.push_back({cursor, chunkOffsets[c] - cursor});
        cursor = std::max(cursor, chunkOffsets[c] + bytes);
    }
    if (cursor < payloadLength)
        runs.push_back({cursor, payloadLength - cursor});
    return runs;
}

TrackChunks partitionRunsWithDonorLayout(const CrmReference& ref, const std::vector<AudioRun>& runs,
                                         const std::vector<uint32_t>& sampleSizes,
                                         const std::vector<uint32_t>& chunkSampleCounts) {
    const std::vector<const CrmRefTrack*> audio = ref.audioTracks();
    TrackChunks out(audio.size());
    const CrmRefTrack* video = ref.video();
    const std::vector<uint64_t> donorBytes = video ? videoChunkBytes(*video) : std::vector<uint64_t>();
    const uint64_t nObs = chunkSampleCounts.size();
    uint64_t s = 0;
    if (video && !video->samplesPerChunk.empty() && nObs > 0 && video->samplesPerChunk.size() >= nObs) {
        const Alignment a = alignWithDonor(video->samplesPerChunk, donorBytes, sampleSizes, chunkSampleCounts);
        s = a.start;
        FLOG(LogLevel::Notice) << "CanonCRM reference video alignment starts at donor chunk " << s
                               << " score=" << a.score << " exact_video_count=" << a.exact << "/" << nObs;
    }
    // The camera writes each video chunk's audio behind it, so the runs that
    // belong to the observed chunks are the last ones: a run in front of the
    // first chunk is what is left of an earlier, damaged one.
    const uint64_t observedStart = nObs < runs.size() ? runs.size() - nObs : 0;
    uint64_t used = 0, donor = 0, misfits = 0;
    for (uint64_t j = 0; observedStart + j < runs.size(); ++j) {
        const AudioRun& run = runs[observedStart + j];
        const uint64_t d = s + j;
        const std::vector<uint64_t> sizes = trackChunkSizes(audio, d);
        uint64_t total = 0;
        for (uint64_t z : sizes)
            total += z;
        if (total == 0 || run.length < total)
            continue;
        // Where the reference's audio chunks lie behind the end of its video
        // chunk d; usable when each lies in the gap before the next video chunk.
        bool fits = video && d < video->chunkOffsets.size() && d < donorBytes.size();
        std::vector<uint64_t> at(audio.size(), 0);
        if (fits) {
            const uint64_t videoEnd = video->chunkOffsets[d] + donorBytes[d];
            const uint64_t gapEnd = d + 1 < video->chunkOffsets.size() ? video->chunkOffsets[d + 1] : UINT64_MAX;
            for (size_t t = 0; t < audio.size() && fits; ++t) {
                if (sizes[t] == 0)
                    continue;
                const uint64_t o = d < audio[t]->chunkOffsets.size() ? audio[t]->chunkOffsets[d] : 0;
                fits = o >= videoEnd && o - videoEnd + sizes[t] <= run.length && o + sizes[t] <= gapEnd;
                at[t] = o - videoEnd;
            }
        }
        if (fits) {
            for (size_t t = 0; t < audio.size(); ++t)
                if (sizes[t] > 0)
                    out[t].push_back({run.offset + at[t], sizes[t]});
            ++donor;
        } else {
            ++misfits;
            takeFromTail(sizes, run, out);
        }
        ++used;
    }
    if (misfits > 0)
        FLOG(LogLevel::Notice) << "CanonCRM reference audio does not follow its video chunk in " << misfits
                               << " runs; those runs were partitioned from the tail";
    FLOG(LogLevel::Notice) << "CanonCRM audio runs partitioned with donor layout: input_runs=" << runs.size()
                           << " observed_start=" << observedStart << " used_runs=" << used
                           << " donor_layout_runs=" << donor << " audio_tracks=" << audio.size();
    return out;
}

}  // namespace crm
