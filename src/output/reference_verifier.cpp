#include "output/reference_verifier.h"

#include "log/logger.h"
#include "qt/movie_track.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct WalkResult {
    uint64_t found = 0;
    uint64_t matches = 0;
    // Composition offsets of found video samples at a reference position.
    uint64_t compared = 0;
    uint64_t compositionMatches = 0;
};

bool byOffset(const MediaSample& a, const MediaSample& b) { return a.offset < b.offset; }

// Found and reference samples, both in file order, walked side by side.
WalkResult walk(const char* kind, std::vector<MediaSample> found, std::vector<MediaSample> reference,
                bool streamScan) {
    std::stable_sort(found.begin(), found.end(), byOffset);
    std::stable_sort(reference.begin(), reference.end(), byOffset);
    WalkResult result;
    result.found = found.size();
    size_t r = 0;
    for (const MediaSample& f : found) {
        if (streamScan) {
            ++result.matches;
            FLOG(LogLevel::Info) << "verified " << kind << " sample " << f.offset << "/" << f.size << " compofs "
                                 << f.extra << " ref: stream";
            continue;
        }
        while (r + 1 < reference.size() && reference[r].offset < f.offset) {
            FLOG(LogLevel::Notice) << "**missing " << kind << " sample** (" << reference[r].offset << "/"
                                   << reference[r].size << "sz)";
            ++r;
        }
        if (r >= reference.size()) {
            FLOG(LogLevel::Notice) << "verified " << kind << " sample " << f.offset << "/" << f.size << " compofs "
                                   << f.extra << " ref: n/a";
            continue;
        }
        const MediaSample& ref = reference[r];
        const bool sameOffset = ref.offset == f.offset;
        const bool sameSize = ref.size == f.size;
        FLOG(LogLevel::Info) << "verified " << kind << " sample " << f.offset << "/" << f.size << " compofs "
                             << f.extra << " ref: " << ref.offset << "/" << ref.size << " => "
                             << " ofs " << int(sameOffset) << " sz " << int(sameSize);
        if (sameOffset) {
            ++result.matches;
            ++result.compared;
            result.compositionMatches += ref.extra == f.extra;
            ++r;
        }
    }
    return result;
}

bool sameBytes(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) {
    return aLength == bLength && std::memcmp(a, b, aLength) == 0;
}

// Parameter sets of one kind, position by position; logs the counts and
// returns whether every reference set is matched.
bool compareSets(const char* label, const std::vector<std::pair<const uint8_t*, size_t>>& reference,
                 const std::vector<std::pair<const uint8_t*, size_t>>& output) {
    size_t matched = 0;
    const size_t n = std::min(reference.size(), output.size());
    for (size_t i = 0; i < n; ++i)
        matched += sameBytes(reference[i].first, reference[i].second, output[i].first, output[i].second);
    FLOG(LogLevel::Notice) << label << matched << " of " << reference.size() << " output_count=" << output.size()
                           << " ref_count=" << reference.size();
    return matched >= reference.size();
}

using SetList = std::vector<std::pair<const uint8_t*, size_t>>;

SetList avcSets(const H264Config& c, bool pps) {
    SetList sets;
    if (pps) {
        for (int i = 0; i < c.ppsCount(); ++i)
            sets.emplace_back(c.m_pps[i], std::min<size_t>(c.m_ppsLength[i], kMaxPpsBytes));
    } else {
        for (int i = 0; i < std::min(c.spsCount(), kMaxParameterSets); ++i)
            sets.emplace_back(c.m_sps[i], std::min<size_t>(c.m_spsLength[i], kMaxSpsBytes));
    }
    return sets;
}

SetList hevcSets(const HEVCConfig& c, int nalType) {
    SetList sets;
    for (int a = 0; a < std::min<int>(c.m_arrayCount, kMaxHevcArrays); ++a) {
        const HEVCNalArray& array = c.m_arrays[a];
        if ((array.m_nalType & 0x3F) != nalType)
            continue;
        for (int n = 0; n < std::min<int>(array.m_nalCount, kMaxHevcNalus); ++n)
            sets.emplace_back(array.m_nal[n].data(), std::min<size_t>(array.m_nalLength[n], array.m_nal[n].size()));
    }
    return sets;
}

// HEVC NAL unit types of the parameter sets.
constexpr int kHevcVps = 32;
constexpr int kHevcSps = 33;
constexpr int kHevcPps = 34;

void verifyParameterSets(const VideoParameters& reference, const VideoParameters& output) {
    if (reference.m_codec == "avc1" && output.m_codec == "avc1") {
        bool ok = compareSets("verify avcC SPS matches: ", avcSets(reference.m_avc, false), avcSets(output.m_avc, false));
        ok = compareSets("verify avcC PPS matches: ", avcSets(reference.m_avc, true), avcSets(output.m_avc, true)) && ok;
        if (!ok)
            FLOG(LogLevel::Warning) << "verify avcC parameter set mismatch";
    } else if (reference.m_codec == "hvc1" && output.m_codec == "hvc1") {
        bool ok = compareSets("verify hvcC VPS matches: ", hevcSets(reference.m_hevc, kHevcVps),
                              hevcSets(output.m_hevc, kHevcVps));
        ok = compareSets("verify hvcC SPS matches: ", hevcSets(reference.m_hevc, kHevcSps),
                         hevcSets(output.m_hevc, kHevcSps)) && ok;
        ok = compareSets("verify hvcC PPS matches: ", hevcSets(reference.m_hevc, kHevcPps),
                         hevcSets(output.m_hevc, kHevcPps)) && ok;
        if (!ok)
            FLOG(LogLevel::Warning) << "verify hvcC parameter set mismatch";
    }
}

}  // namespace

VerifyCounts verifyByReference(const RepairState& state) {
    FLOG(LogLevel::Notice) << "verifying samples by reference...";
    static const std::vector<MediaSample> kNone;
    const ReferenceInfo* reference = state.m_reference.get();
    const std::vector<MediaSample>& refVideo = reference ? reference->videoSamples() : kNone;
    const std::vector<MediaSample>& refAudio = reference ? reference->audioSamples() : kNone;

    std::vector<MediaSample> video, audio;
    for (const MediaSample& s : state.m_samples)
        (s.isVideo() ? video : audio).push_back(s);
    // An empty reference table with samples found: the reference carries its
    // media without an index, so the scan itself is the only measure.
    const bool videoStreamScan = refVideo.empty() && !video.empty() && reference && reference->videoTrack();
    const bool audioStreamScan = refAudio.empty() && !audio.empty() && reference && reference->audioTrack(0);
    if (videoStreamScan)
        FLOG(LogLevel::Notice) << "reference video sample table is empty; verifying recovered video samples by stream scan";
    if (audioStreamScan)
        FLOG(LogLevel::Notice) << "reference audio sample table is empty; verifying recovered audio samples by stream scan";

    const WalkResult v = walk("video", std::move(video), refVideo, videoStreamScan);
    const WalkResult a = walk("audio", std::move(audio), refAudio, audioStreamScan);

    VerifyCounts counts;
    counts.videoFound = v.found;
    counts.videoMatches = v.matches;
    counts.audioFound = a.found;
    counts.audioMatches = a.matches;
    counts.repairRate = (v.found ? 50.0 * double(v.matches) / double(v.found) : 0.0) +
                        (a.found ? 50.0 * double(a.matches) / double(a.found) : 0.0);
    FLOG(LogLevel::Notice) << "video sample matches: " << v.matches << " of " << v.found;
    FLOG(LogLevel::Notice) << "audio sample matches: " << a.matches << " of " << a.found;
    FLOG(LogLevel::Notice) << "repair rate: " << counts.repairRate;

    if (reference)
        verifyParameterSets(reference->video(), *state.m_video);

    const bool cttsDisabled = state.m_ignoreCompositionOffsets;
    const MovieTrack* refTrack = reference ? reference->videoTrack() : nullptr;
    const size_t refEntries = refTrack ? refTrack->m_compositionOffsets.size() : 0;
    FLOG(LogLevel::Notice) << "verify ctts composition offset matches: " << v.compositionMatches << " of "
                           << v.compared << " output_ctts=" << (cttsDisabled ? "disabled" : "enabled")
                           << " ref_ctts_entries=" << refEntries;
    if (v.compositionMatches < v.compared)
        FLOG(LogLevel::Warning) << "verify ctts composition offset mismatch";
    bool refHasOffsets = false;
    if (refTrack)
        for (const CompositionOffsetEntry& e : refTrack->m_compositionOffsets)
            refHasOffsets = refHasOffsets || e.m_offset != 0;
    if (cttsDisabled && refHasOffsets)
        FLOG(LogLevel::Warning) << "verify ctts disabled although reference has composition offsets";
    FLOG(LogLevel::Notice) << "verify complete";
    return counts;
}
