#include "reference/reference_interleave_cycle.h"

#include "qt/movie_file.h"
#include "platform/file.h"
#include "qt/movie_reader.h"
#include "reference/track_table_cursor.h"

#include <algorithm>

namespace {

// The frames whose first bytes are looked at: enough to see every element
// an encoder opens its frames with.
constexpr uint32_t kHeadSamples = 2000;

const Fourcc kVide = makeFourcc("vide");
const Fourcc kSoun = makeFourcc("soun");
const Fourcc kHint = makeFourcc("hint");

void learnHeads(platform::File& file, const MovieTrack& track, InterleaveTrack& t) {
    if (track.m_fixedSampleSize != 0)
        return;
    SampleOffsetCursor offsets(track);
    for (uint32_t n = 1; n <= track.m_sampleCount && n <= kHeadSamples; ++n) {
        const uint64_t offset = offsets.offset(n);
        uint8_t head = 0;
        if (offset == 0 || offset > uint64_t(INT64_MAX) || file.readAt(int64_t(offset), &head, 1) != 1)
            break;
        t.frameHeads.set(head >> 1);
    }
}

void learnBoxKeys(platform::File& file, const MovieTrack& track, InterleaveTrack& t) {
    if (track.m_codec != makeFourcc("mebx"))
        return;
    SampleOffsetCursor offsets(track);
    for (uint32_t n = 1; n <= track.m_sampleCount && n <= kHeadSamples; ++n) {
        const uint64_t offset = offsets.offset(n);
        uint8_t box[8];
        if (offset == 0 || offset > uint64_t(INT64_MAX) || file.readAt(int64_t(offset), box, 8) != 8)
            break;
        const uint32_t key = uint32_t(box[4]) << 24 | uint32_t(box[5]) << 16 | uint32_t(box[6]) << 8 | box[7];
        if (std::find(t.boxKeys.begin(), t.boxKeys.end(), key) == t.boxKeys.end() && t.boxKeys.size() < kMaxMetadataKeys)
            t.boxKeys.push_back(key);
    }
}

InterleaveTrack learnTrack(const MovieTrack& track, int audioIndex, bool metadata) {
    InterleaveTrack t;
    t.audioIndex = audioIndex;
    t.codec = track.m_codec;
    if (track.m_mediaTimescale > 0)
        t.sampleSeconds = double(track.m_sampleDuration) / double(track.m_mediaTimescale);

    SamplesPerChunkCursor chunks(track);
    std::vector<uint32_t> perChunk;
    uint64_t sample = 1;
    t.minChunkBytes = UINT32_MAX;
    t.minSampleBytes = UINT32_MAX;
    // The stsz count bounds the walk: damaged tables may claim more chunks
    // than samples exist.
    for (uint32_t chunk = 1; chunk <= track.m_chunkOffsets.size() && sample <= track.m_sampleCount; ++chunk) {
        const uint32_t n = chunks.samplesPerChunk(chunk);
        if (n == 0)
            break;
        uint64_t bytes = 0;
        for (uint32_t i = 0; i < n && sample <= track.m_sampleCount; ++i, ++sample) {
            const uint32_t size = track.m_fixedSampleSize ? track.m_fixedSampleSize : QTGetSampleSize(&track, uint32_t(sample));
            bytes += size;
            t.minSampleBytes = std::min(t.minSampleBytes, size);
            t.maxSampleBytes = std::max(t.maxSampleBytes, size);
        }
        perChunk.push_back(n);
        const uint32_t clipped = uint32_t(std::min<uint64_t>(bytes, UINT32_MAX));
        if (metadata && t.chunkSizes.size() < kMaxMetadataChunkSizes &&
            std::find(t.chunkSizes.begin(), t.chunkSizes.end(), clipped) == t.chunkSizes.end())
            t.chunkSizes.push_back(clipped);
        t.minChunkBytes = std::min(t.minChunkBytes, clipped);
        t.maxChunkBytes = std::max(t.maxChunkBytes, clipped);
    }
    std::sort(t.chunkSizes.begin(), t.chunkSizes.end());
    if (perChunk.empty()) {
        t.minChunkBytes = t.minSampleBytes = 0;
        return t;
    }
    std::nth_element(perChunk.begin(), perChunk.begin() + ptrdiff_t(perChunk.size() / 2), perChunk.end());
    t.samplesPerChunk = perChunk[perChunk.size() / 2];
    return t;
}

}  // namespace

void ReferenceInterleaveCycle::learn(const MovieFile& movie) {
    m_audio.clear();
    m_metadata.clear();
    platform::File file;
    const bool readable = file.open(movie.m_fileName, platform::File::Mode::Read);
    int audioIndex = 0;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        const bool sound = track.m_handlerType == kSoun;
        const int index = sound ? audioIndex++ : -1;
        if (track.m_handlerType == kVide || track.m_sampleCount == 0 || track.m_chunkOffsets.empty())
            continue;
        if (sound) {
            m_audio.push_back(learnTrack(track, index, false));
            m_audio.back().trackIndex = i;
            if (readable)
                learnHeads(file, track, m_audio.back());
        } else if (track.m_handlerType != kHint && track.m_chunkOffsets.size() > 1) {
            // A track of one chunk (a timecode track's single sample) takes
            // no part in the interleave.
            m_metadata.push_back(learnTrack(track, -1, true));
            m_metadata.back().trackIndex = i;
            if (readable)
                learnBoxKeys(file, track, m_metadata.back());
        }
    }
}
