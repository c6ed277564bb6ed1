#include "analysers/audio/audio_interleave.h"

#include "analysers/chunk/gap_video.h"
#include "analysers/core/scan_info.h"
#include "output/repair_state.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// The decoder may take a picture and a few frames' worth of the audio behind
// it for frames before the run breaks; the cut is looked for this many
// frames back from the run's end.
constexpr size_t kMaxFramesOverPicture = 8;
// Runs behind the first cut that may themselves have run over a picture
// (a recorder writes a tiny picture every 40 ms, between two audio frames).
constexpr int kMaxNestedCuts = 3;

}  // namespace

bool AudioInterleave::cutRunAtPicture(ScanBuffer& input, FrameChain& run, int64_t limit, int64_t b, bool mpeg,
                                      std::vector<FrameChain>& after) {
    after.clear();
    const int64_t left = limit - run.back();
    if (!m_gapVideo || left <= 0 || m_gapVideo->samplesFill(input, run.back(), limit))
        return false;
    // Only the gap's end may keep the reference's padding in front of it,
    // and the cut must explain more than the run did.
    const int64_t allowed = limit == b ? std::min(endSlack(), left - 1) : 0;
    return cutAtPicture(input, run, limit, allowed, mpeg, kMaxNestedCuts, after);
}

bool AudioInterleave::cutAtPicture(ScanBuffer& input, FrameChain& run, int64_t limit, int64_t allowed, bool mpeg,
                                   int depth, std::vector<FrameChain>& after) {
    // A mono AAC frame may begin with the zero byte that begins a picture's
    // length field, and the decoder takes such a picture for a frame that
    // ends inside it or inside the audio behind it. The pictures are known
    // by their own structure, and the audio behind them decodes on from
    // their end: together they explain what the run left over.
    if (frameCount(run) < 2)
        return false;
    const size_t lowest = run.size() > kMaxFramesOverPicture + 1 ? run.size() - 1 - kMaxFramesOverPicture : 1;
    for (size_t k = run.size() - 2; k >= lowest; --k) {
        if (m_gapVideo->samplesFrom(input, run[k], limit) <= 0)
            continue;
        std::vector<FrameChain> found;
        if (!picturesThenAudio(input, run[k], limit, allowed, mpeg, depth, found))
            continue;
        run.resize(k + 1);
        after = std::move(found);
        return true;
    }
    return false;
}

bool AudioInterleave::picturesThenAudio(ScanBuffer& input, int64_t from, int64_t limit, int64_t allowed, bool mpeg,
                                        int depth, std::vector<FrameChain>& runs) {
    for (int64_t pos = from;;) {
        pos += m_gapVideo->samplesFrom(input, pos, limit);
        if (limit - pos <= allowed)
            return true;
        FrameChain run;
        if (limit - pos < minGap() || !resync(input, pos, limit, 0, false, mpeg, run) || run.front() != pos)
            return false;
        pos = run.back();
        if (limit - pos <= allowed || m_gapVideo->samplesFrom(input, pos, limit) > 0) {
            runs.push_back(std::move(run));
            continue;
        }
        // This run ran over the next picture in turn.
        std::vector<FrameChain> rest;
        if (depth == 0 || !cutAtPicture(input, run, limit, allowed, mpeg, depth - 1, rest))
            return false;
        runs.push_back(std::move(run));
        runs.insert(runs.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
        return true;
    }
}

int64_t AudioInterleave::emitPicturesAmidAudio(ScanBuffer& input, int64_t a, int64_t b) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const bool mpeg = mpegAudio();
    if (!m_gapVideo || !ref || (ref->audio().m_codec != "mp4a" && !mpeg) || m_scanInfo->pcmRuns ||
        m_scanInfo->aacFilter || metadataOnlyGaps() || sharedMpegGaps() || b - a < minGap())
        return 0;
    if (sharedGaps())
        return int64_t(emitPicturesAmidSharedGap(input, a, b));
    std::vector<FrameChain> runs;
    if (!picturesThenAudio(input, a, b, std::min(endSlack(), b - a - 1), mpeg, kMaxNestedCuts, runs) ||
        runs.size() < 2 || runs.front().front() != a)
        return 0;
    int64_t emitted = 0;
    for (size_t r = 1; r < runs.size(); ++r) {
        if (runs[r].front() > runs[r - 1].back())
            emitted += m_gapVideo->emitSamplesFilling(input, runs[r - 1].back(), runs[r].front());
    }
    return emitted;
}
