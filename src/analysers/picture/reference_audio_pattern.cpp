#include "analysers/picture/reference_audio_pattern.h"

#include <algorithm>

namespace {

bool sameRun(const ReferenceAudioPattern::Run& a, const ReferenceAudioPattern::Run& b, bool pcm) {
    return a.frames == b.frames && (!pcm || a.bytes == b.bytes);
}

std::vector<MediaSample> byOffset(std::vector<MediaSample> samples) {
    std::sort(samples.begin(), samples.end(),
              [](const MediaSample& a, const MediaSample& b) { return a.offset < b.offset; });
    return samples;
}

}  // namespace

void ReferenceAudioPattern::learn(const std::vector<MediaSample>& videoSamples,
                                  const std::vector<MediaSample>& audioSamples, bool pcm) {
    m_after.clear();
    m_period = 0;
    m_mean = {};
    m_largest = 0;
    m_mostFrames = 0;
    m_before = {};
    const std::vector<MediaSample> video = byOffset(videoSamples);
    const std::vector<MediaSample> audio = byOffset(audioSamples);
    if (video.size() < 2 || audio.empty())
        return;
    size_t a = 0;
    for (; a < audio.size() && audio[a].offset < video[0].offset; ++a) {
        ++m_before.frames;
        m_before.bytes += audio[a].size;
    }
    for (size_t k = 0; k + 1 < video.size(); ++k) {
        Run run;
        for (; a < audio.size() && audio[a].offset < video[k + 1].offset; ++a) {
            ++run.frames;
            run.bytes += audio[a].size;
        }
        m_after.push_back(run);
    }
    // The longest runs bound searches, the flush at the end and the sound
    // in front of the first frame included.
    Run rest;
    for (; a < audio.size(); ++a) {
        ++rest.frames;
        rest.bytes += audio[a].size;
    }
    m_mostFrames = std::max(m_before.frames, rest.frames);
    m_largest = std::max(m_before.bytes, rest.bytes);
    for (const Run& r : m_after) {
        m_mostFrames = std::max(m_mostFrames, r.frames);
        m_largest = std::max(m_largest, r.bytes);
    }
    // A recording's end is written out of step: the muxer flushes what it
    // holds. The audio in front of the last video chunk shows no rule.
    size_t last = m_after.size();
    while (last > 0 && m_after[last - 1].frames == 0)
        --last;
    if (last > 0)
        m_after.resize(last - 1);
    if (m_after.empty())
        return;
    const int64_t n = int64_t(m_after.size());
    // A reference shorter than one cycle of the interleave shows no period.
    const bool silent = std::all_of(m_after.begin() + n / 2, m_after.end(), [](const Run& r) { return r.frames == 0; });
    for (const Run& r : m_after) {
        m_mean.frames += r.frames;
        m_mean.bytes += r.bytes;
    }
    m_mean.frames = (m_mean.frames + n / 2) / n;
    m_mean.bytes = m_mean.bytes / n;
    // The start of a recording may differ (B-frames delay the video); the
    // second half shows the steady pattern.
    // A period must show twice in the half that is looked at: the rates of
    // sound and picture often make runs that look periodic for a while.
    for (int64_t p = 1; p <= n / 4 && !silent; ++p) {
        bool repeats = true;
        for (int64_t k = std::max(n / 2, p); k < n && repeats; ++k)
            repeats = sameRun(m_after[size_t(k)], m_after[size_t(k - p)], pcm);
        if (repeats) {
            m_period = p;
            break;
        }
    }
}

ReferenceAudioPattern::Run ReferenceAudioPattern::after(uint64_t k) const {
    const int64_t n = int64_t(m_after.size());
    if (n == 0)
        return {};
    if (int64_t(k) < n)
        return m_after[size_t(k)];
    if (m_period == 0)
        return m_mean;
    const int64_t beyond = int64_t(k) - (n - 1);
    const int64_t steps = (beyond + m_period - 1) / m_period;
    return m_after[size_t(int64_t(k) - steps * m_period)];
}
