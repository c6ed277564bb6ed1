#include "output/single_chunk_tracks.h"

#include "output/repair_state.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"
#include "reference/sound_codecs.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

namespace {

// What a run of chunks belongs to, the same in the reference and in the
// input: pictures, sound, one timed-metadata track (by its position among
// the interleaved ones); -1 for anything else.
constexpr int kPictures = 1000;
constexpr int kSound = 1001;

struct Run {
    int64_t start = 0, end = 0;
    int key = -1;
    int ordinal = 0;  // runs of the same key in front of it
};

struct Runs {
    std::vector<Run> list;
    std::map<int, int> counts;  // runs of each key so far

    void add(int64_t start, int64_t end, int key) {
        if (!list.empty() && list.back().key == key && key >= 0 && list.back().end == start) {
            list.back().end = std::max(list.back().end, end);
            return;
        }
        Run r;
        r.start = start, r.end = end, r.key = key;
        r.ordinal = counts[key]++;
        list.push_back(r);
    }
};

bool isSingle(const MovieTrack& t) {
    return t.m_chunkOffsets.size() == 1 && t.m_sampleCount == 1 && t.m_handlerType != makeFourcc("vide") &&
           t.m_handlerType != makeFourcc("soun") && t.m_handlerType != kSetAsideSoundHandler;
}

}  // namespace

std::vector<TrailingSample> singleChunkSamples(const RepairState& state) {
    std::vector<TrailingSample> out;
    const ReferenceInfo* reference = state.m_reference && state.m_reference->isOpen() ? state.m_reference.get() : nullptr;
    const MovieFile* movie = reference ? reference->movie() : nullptr;
    if (!movie || state.m_samples.size() == 0)
        return out;
    const auto& interleaved = reference->interleaveCycle().metadataTracks();
    auto keyOfTrack = [&](int track) {
        const MovieTrack& t = movie->m_tracks[track];
        if (&t == reference->videoTrack())
            return kPictures;
        if (t.m_handlerType == makeFourcc("soun"))
            return kSound;
        for (size_t k = 0; k < interleaved.size(); ++k)
            if (interleaved[k].trackIndex == track)
                return int(k);
        return -1;
    };

    // The reference's runs, each group of one-sample chunks between two.
    const std::vector<RefChunk> chunks = referenceChunks(*movie);
    Runs refRuns;
    std::vector<Run>& runs = refRuns.list;
    struct Group {
        size_t before;  // the run in front
        size_t first, last;
    };
    std::vector<Group> groups;
    // Only between the first and the last picture or sound chunk: the
    // media data's ends have their own rules.
    size_t firstMain = chunks.size(), lastMain = 0;
    for (size_t i = 0; i < chunks.size(); ++i)
        if (keyOfTrack(chunks[i].track) >= kPictures)
            firstMain = std::min(firstMain, i), lastMain = i;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const RefChunk& c = chunks[i];
        const int64_t start = int64_t(c.offset), end = int64_t(c.offset + c.bytes);
        if (!isSingle(movie->m_tracks[c.track])) {
            refRuns.add(start, end, keyOfTrack(c.track));
            continue;
        }
        if (i < firstMain || i > lastMain)
            continue;
        if (!groups.empty() && groups.back().last + 1 == i && int64_t(chunks[i - 1].offset + chunks[i - 1].bytes) == start) {
            groups.back().last = i;
            continue;
        }
        // Only a group right behind a run of a known track is placed.
        if (runs.empty() || runs.back().end != start || runs.back().key < 0)
            continue;
        groups.push_back({runs.size() - 1, i, i});
        refRuns.add(start, start, -1);  // stands for the group, so no run joins across it
    }

    // The input's runs, from the samples found.
    Runs foundRuns;
    const std::vector<Run>& found = foundRuns.list;
    {
        std::vector<std::pair<int64_t, std::pair<int64_t, int>>> samples;
        samples.reserve(state.m_samples.size());
        for (size_t i = 0; i < state.m_samples.size(); ++i) {
            const MediaSample& s = state.m_samples[i];
            const int key = s.isVideo() ? kPictures : s.isAudio() ? kSound : s.extra;
            samples.push_back({s.offset, {s.offset + s.size, key}});
        }
        std::sort(samples.begin(), samples.end());
        for (const auto& s : samples)
            foundRuns.add(s.first, s.second.first, s.second.second);
    }

    for (const Group& g : groups) {
        const Run& before = runs[g.before];
        const size_t behindIndex = g.before + 2;  // past the group's stand-in
        const int64_t groupEnd = int64_t(chunks[g.last].offset + chunks[g.last].bytes);
        if (behindIndex >= runs.size() || runs[behindIndex].start != groupEnd || runs[behindIndex].key < 0)
            continue;  // behind the last picture or sound, or not back to back
        const Run& behind = runs[behindIndex];
        const int64_t bytes = groupEnd - int64_t(chunks[g.first].offset);
        // The chunk in front may be lost with the group (the search knew
        // it by what follows it): then the bytes of both are left over.
        const int64_t withChunkInFront = bytes + int64_t(chunks[g.first - 1].bytes);
        int64_t at = -1;
        int distance = 0;
        for (size_t r = 0; r + 1 < found.size(); ++r) {
            if (found[r + 1].key != behind.key)
                continue;
            const int64_t left = found[r + 1].start - found[r].end;
            const bool whole = left == bytes && found[r].key == before.key;
            if (!whole && left != withChunkInFront)
                continue;
            // Both neighbours found rank before the one behind alone.
            const int d = 2 * std::abs(found[r + 1].ordinal - behind.ordinal) + (whole ? 0 : 1);
            if (at < 0 || d < distance)
                at = found[r + 1].start - bytes, distance = d;
        }
        if (at < 0)
            continue;
        for (size_t i = g.first; i <= g.last; ++i) {
            TrailingSample t;
            t.offset = at + int64_t(chunks[i].offset - chunks[g.first].offset);
            t.size = uint32_t(chunks[i].bytes);
            t.source = &movie->m_tracks[chunks[i].track];
            out.push_back(t);
        }
    }
    return out;
}
