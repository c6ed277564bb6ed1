#pragma once
// How much audio a recorder writes behind each video frame, as the reference
// shows it. A muxer that interleaves by time puts the same audio behind the
// k-th frame of every recording made with the same settings (the timestamps
// alone decide it), and a camera that writes a block per group of pictures
// repeats that block with the group. Past the reference's length the
// pattern goes on with the period it settled into.

#include "scan/media_sample.h"

#include <cstdint>
#include <vector>

class ReferenceAudioPattern {
public:
    struct Run {
        int64_t frames = 0;  // audio samples (a PCM chunk counts as one)
        int64_t bytes = 0;
    };

    // `video` and `audio`: the reference's samples of one video and one
    // sound track, in any order. `pcm`: a chunk's bytes, not its sample
    // count, tell the runs apart (PCM chunks count as one sample each).
    void learn(const std::vector<MediaSample>& video, const std::vector<MediaSample>& audio, bool pcm);
    bool empty() const { return m_after.empty(); }
    // The audio behind video frame k (file order).
    Run after(uint64_t k) const;
    // The audio in front of the first video frame.
    Run before() const { return m_before; }
    // Does the reference show the run behind frame k (it is that long)?
    bool shown(uint64_t k) const { return k < m_after.size(); }
    // The most frames the reference wrote behind one video frame.
    int64_t mostFrames() const { return m_mostFrames; }
    // The most bytes the reference ever wrote behind one frame.
    int64_t largestRun() const { return m_largest; }
    int64_t period() const { return m_period; }

private:
    std::vector<Run> m_after;  // behind each frame but the last (that one holds the recording's rest)
    int64_t m_period = 0;      // 0: no period found, the mean stands for what lies beyond
    Run m_mean;
    Run m_before;
    int64_t m_largest = 0;
    int64_t m_mostFrames = 0;
};
