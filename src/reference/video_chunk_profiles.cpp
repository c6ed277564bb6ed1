#include "reference/video_chunk_profiles.h"

#include "log/logger.h"
#include "qt/movie_track.h"
#include "reference/reference_sample_bytes.h"
#include "reference/track_table_cursor.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <sstream>

namespace {

// Plenty of chunks to see every layout a recorder uses, bounded for
// hour-long references.
constexpr uint32_t kMaxLearnChunks = 20000;

}  // namespace

std::vector<ChunkProfile> learnVideoChunkProfiles(const MovieTrack& track, const std::vector<MediaSample>& samples,
                                                  const std::string& fileName, const WholeSampleTest& wholeSample,
                                                  const std::string& logLabel) {
    std::vector<ChunkProfile> profiles;
    if (samples.empty())
        return profiles;
    ScanBuffer file;
    if (wholeSample && !file.open(fileName, kReferenceReadWindow))
        return profiles;
    SamplesPerChunkCursor perChunk(track);
    const uint32_t chunks = uint32_t(std::min<size_t>(track.m_chunkOffsets.size(), kMaxLearnChunks));
    size_t next = 0;  // index of the chunk's first sample in the list
    for (uint32_t c = 1; c <= chunks && next < samples.size(); ++c) {
        const uint32_t k = perChunk.samplesPerChunk(c);
        const size_t first = next;
        next += k;
        if (k == 0 || next > samples.size())
            continue;
        uint64_t size = 0;
        bool usable = true;
        for (size_t s = first; s < next && usable; ++s) {
            const int64_t n = samples[s].size;
            if (wholeSample) {
                const uint8_t* data =
                    n > 0 && uint64_t(n) <= kReferenceReadWindow ? file.get(samples[s].offset, int32_t(n)) : nullptr;
                usable = data && file.available() >= n && wholeSample(data, n);
            } else {
                usable = samples[s].isVideo() && n >= 1;
            }
            size += uint64_t(n);
        }
        if (!usable)
            continue;
        auto it = std::find_if(profiles.begin(), profiles.end(), [k](const ChunkProfile& p) { return p.samples == k; });
        if (it == profiles.end()) {
            profiles.push_back(ChunkProfile{k, size, size, 1});
        } else {
            it->minSize = std::min(it->minSize, size);
            it->maxSize = std::max(it->maxSize, size);
            ++it->chunks;
        }
    }
    std::ostringstream text;
    for (size_t i = 0; i < profiles.size(); ++i) {
        const ChunkProfile& p = profiles[i];
        text << (i ? "," : "") << p.samples << "x:" << p.minSize << ".." << p.maxSize << "/" << p.chunks;
    }
    FLOG(LogLevel::Info) << logLabel << " reference chunk profiles=" << text.str();
    // Chunks are tried from the most samples down. A recorder whose chunks
    // hold 12 or 13 frames would otherwise have every 13-frame chunk taken
    // as a 12-frame one when the 12 was met first, losing a frame per chunk
    // and the audio count that goes with it. A larger profile cannot match a
    // smaller chunk: the audio behind it is no sample.
    std::stable_sort(profiles.begin(), profiles.end(),
                     [](const ChunkProfile& a, const ChunkProfile& b) { return a.samples > b.samples; });
    return profiles;
}
