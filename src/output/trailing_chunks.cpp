#include "output/trailing_chunks.h"

#include "output/media_data_extent.h"
#include "output/repair_state.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"
#include "reference/sound_codecs.h"

#include <algorithm>

namespace {

// Every chunk of `t` with its samples, from the sample-to-chunk table.
void chunksOf(const MovieTrack& t, int index, std::vector<RefChunk>& out) {
    uint32_t sample = 1;
    size_t entry = 0;
    for (uint32_t chunk = 1; chunk <= t.m_chunkOffsets.size() && sample <= t.m_sampleCount; ++chunk) {
        while (entry + 1 < t.m_sampleToChunk.size() && t.m_sampleToChunk[entry + 1].m_firstChunk <= chunk)
            ++entry;
        if (t.m_sampleToChunk.empty())
            return;
        RefChunk c;
        c.offset = t.m_chunkOffsets[chunk - 1];
        c.firstSample = sample;
        c.samples = std::min(t.m_sampleToChunk[entry].m_samplesPerChunk, t.m_sampleCount - sample + 1);
        c.track = index;
        for (uint32_t s = 0; s < c.samples; ++s)
            c.bytes += QTGetSampleSize(&t, sample + s);
        sample += c.samples;
        out.push_back(c);
    }
}

// A sound track set aside (its codec's frames cannot be found) is still
// sound: its chunks are no metadata to carry over, and the output would
// describe them as a track without a sound description.
bool isPictureOrSound(const MovieTrack& t) {
    return t.m_handlerType == makeFourcc("vide") || t.m_handlerType == makeFourcc("soun") ||
           t.m_handlerType == kSetAsideSoundHandler;
}

}  // namespace

std::vector<RefChunk> referenceChunks(const MovieFile& movie) {
    std::vector<RefChunk> chunks;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i)
        chunksOf(movie.m_tracks[i], i, chunks);
    std::sort(chunks.begin(), chunks.end(), [](const RefChunk& a, const RefChunk& b) { return a.offset < b.offset; });
    return chunks;
}

std::vector<TrailingSample> trailingSamples(const RepairState& state, int64_t& from) {
    std::vector<TrailingSample> out;
    from = -1;
    const ReferenceInfo* reference = state.m_reference && state.m_reference->isOpen() ? state.m_reference.get() : nullptr;
    const MovieFile* movie = reference ? reference->movie() : nullptr;
    if (!movie || state.m_samples.size() == 0)
        return out;
    const std::vector<RefChunk> chunks = referenceChunks(*movie);
    // The scan finds the pictures of the first video track and the sound;
    // another video track of one chunk (a motion photo's still) trails like
    // metadata.
    const MovieTrack* pictures = reference->videoTrack();
    size_t lastMedia = chunks.size();
    for (size_t i = 0; i < chunks.size(); ++i) {
        const MovieTrack& t = movie->m_tracks[chunks[i].track];
        const bool still = pictures && &t != pictures && t.m_handlerType == makeFourcc("vide") &&
                           t.m_chunkOffsets.size() == 1;
        if (isPictureOrSound(t) && !still)
            lastMedia = i;
    }
    if (lastMedia + 1 >= chunks.size())
        return out;
    // Behind the last picture or sound chunk, metadata chunks back to back
    // up to the end of the reference's media data.
    const uint64_t tailStart = chunks[lastMedia].offset + chunks[lastMedia].bytes;
    uint64_t at = tailStart;
    for (size_t i = lastMedia + 1; i < chunks.size(); ++i) {
        // Timecode and captions are placed by their own rules.
        const MovieTrack& t = movie->m_tracks[chunks[i].track];
        if (chunks[i].offset != at || t.m_handlerType == makeFourcc("tmcd") || t.m_codec == makeFourcc("tx3g") ||
            t.m_codec == makeFourcc("text"))
            return out;
        at += chunks[i].bytes;
    }
    MediaDataExtent referenceExtent;
    if (!findMediaDataExtent(state.m_referenceFileName, int64_t(tailStart), referenceExtent) ||
        referenceExtent.end != int64_t(at))
        return out;
    int64_t found = -1;
    for (size_t i = 0; i < state.m_samples.size(); ++i)
        if (state.m_samples[i].isVideo() || state.m_samples[i].isAudio())
            found = std::max(found, state.m_samples[i].offset + state.m_samples[i].size);
    MediaDataExtent extent;
    if (found <= 0 || !findMediaDataExtent(state.m_inputFileName, found - 1, extent) || !extent.whole())
        return out;
    // The scan may have taken a trailing picture chunk for its own: its
    // samples lie wholly behind the last sample that ends where the tail
    // begins, and give way.
    const int64_t inputTail = extent.end - int64_t(at - tailStart);
    bool ends = false;
    for (size_t i = 0; i < state.m_samples.size(); ++i) {
        const MediaSample& s = state.m_samples[i];
        if (!s.isVideo() && !s.isAudio())
            continue;
        if (s.offset < inputTail && s.offset + s.size > inputTail)
            return out;
        ends = ends || s.offset + s.size == inputTail;
    }
    if (!ends)
        return out;
    from = inputTail;
    const auto& interleaved = reference->interleaveCycle().metadataTracks();
    for (size_t i = lastMedia + 1; i < chunks.size(); ++i) {
        const RefChunk& c = chunks[i];
        const int64_t start = inputTail + int64_t(c.offset - tailStart);
        int index = -1;
        for (size_t k = 0; k < interleaved.size(); ++k)
            if (interleaved[k].trackIndex == c.track)
                index = int(k);
        const MovieTrack& source = movie->m_tracks[c.track];
        int64_t offset = start;
        for (uint32_t s = 0; s < c.samples; ++s) {
            TrailingSample t;
            t.offset = offset;
            t.size = QTGetSampleSize(&source, c.firstSample + s);
            t.source = &source;
            t.metadataIndex = index;
            offset += t.size;
            out.push_back(t);
        }
    }
    return out;
}
