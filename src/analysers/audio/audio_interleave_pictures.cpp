#include "analysers/audio/audio_interleave.h"

#include "analysers/chunk/gap_video.h"

#include <algorithm>

namespace {

// The decoder may take a picture and a few frames' worth of the audio behind
// it for frames before the run breaks; the cut is looked for this many
// frames back from the run's end.
constexpr size_t kMaxFramesOverPicture = 8;

}  // namespace

bool AudioInterleave::cutRunAtPicture(ScanBuffer& input, FrameChain& run, int64_t limit, int64_t b, bool mpeg,
                                      FrameChain& after) {
    after.clear();
    const int64_t left = limit - run.back();
    if (!m_gapVideo || frameCount(run) < 2 || left <= 0 || m_gapVideo->samplesFill(input, run.back(), limit))
        return false;
    // Only the gap's end may keep the reference's padding in front of it.
    const int64_t allowed = limit == b ? std::min(endSlack(), left - 1) : 0;
    // A mono AAC frame may begin with the zero byte that begins a picture's
    // length field, and the decoder takes such a picture for a frame that
    // ends inside it or inside the audio behind it. The pictures are known
    // by their own structure, and the audio behind them decodes on from
    // their end: together they explain what the run left over.
    const size_t lowest = run.size() > kMaxFramesOverPicture + 1 ? run.size() - 1 - kMaxFramesOverPicture : 1;
    for (size_t k = run.size() - 2; k >= lowest; --k) {
        const int64_t cut = run[k];
        const int64_t pictures = m_gapVideo->samplesFrom(input, cut, limit);
        if (pictures <= 0)
            continue;
        const int64_t audio = cut + pictures;
        FrameChain tail;
        if (limit - audio > allowed &&
            (limit - audio < minGap() || !resync(input, audio, limit, 0, false, mpeg, tail) || tail.front() != audio ||
             limit - tail.back() > allowed))
            continue;
        run.resize(k + 1);
        after = std::move(tail);
        return true;
    }
    return false;
}
