// PCM behind a picture: sound has no structure to find, only a course.
// Where the sound in front of the picture is known, the PCM behind it
// starts where the samples carry on from it; otherwise it is the whole
// sample frames in front of the next picture that keep one course.

#include "analysers/picture/trailing_audio.h"

#include "scan/byte_block.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace {

// The first sample behind a picture may stray at most this far (per
// channel, in 16-bit steps) from the course of the sound in front of it.
constexpr int64_t kMaxPcmStray = 4096;
// Sample frames that must keep to the course of the sound behind that first
// one: fewer are left only when the input stops right behind the picture,
// which then cannot be told from a picture cut short.
constexpr int64_t kSmoothFrames = 32;
// A frame that bends the sound's course this many times as much as its
// frames usually do (plus a floor per channel for near silence) is no
// longer part of it.
constexpr int64_t kBendFactor = 8;
constexpr int64_t kBendFloor = 16;
// PCM behind a picture is looked for this many of the interleave's longest
// runs back (behind the last picture lies the rest of the recording's).
constexpr int64_t kEndRuns = 4;

}  // namespace

int64_t TrailingAudio::sampleValue(const uint8_t* p) const {
    int64_t v = 0;
    for (int64_t i = 0; i < m_pcmBytes; ++i)
        v = v << 8 | p[m_pcmLittleEndian ? m_pcmBytes - 1 - i : i];
    const int64_t bits = 8 * m_pcmBytes;
    if (v >= (int64_t(1) << (bits - 1)))
        v -= int64_t(1) << bits;
    // In 16-bit steps, whatever the sample size.
    return bits > 16 ? v >> (bits - 16) : v;
}

int64_t TrailingAudio::discontinuity(const uint8_t* before, const uint8_t* data) const {
    int64_t sum = 0;
    for (int64_t c = 0; c < m_pcmChannels; ++c) {
        const int64_t y2 = sampleValue(before + c * m_pcmBytes);
        const int64_t y1 = sampleValue(before + m_pcmFrame + c * m_pcmBytes);
        const int64_t x0 = sampleValue(data + c * m_pcmBytes);
        const int64_t x1 = sampleValue(data + m_pcmFrame + c * m_pcmBytes);
        sum += std::llabs(x0 - (2 * y1 - y2)) + std::llabs(x1 - (2 * x0 - y1));
    }
    return sum;
}

int64_t TrailingAudio::curvature(const uint8_t* data) const {
    int64_t sum = 0;
    for (int64_t c = 0; c < m_pcmChannels; ++c) {
        const int64_t a = sampleValue(data + c * m_pcmBytes);
        const int64_t b = sampleValue(data + m_pcmFrame + c * m_pcmBytes);
        const int64_t d = sampleValue(data + 2 * m_pcmFrame + c * m_pcmBytes);
        sum += std::llabs(a - 2 * b + d);
    }
    return sum;
}

bool TrailingAudio::smooth(const uint8_t* data, int64_t n) const {
    // Two sample frames can meet the course of the sound by chance; a
    // stretch of them that keeps to it cannot.
    const int64_t frames = std::min(n / m_pcmFrame, kSmoothFrames);
    if (frames < kSmoothFrames)
        return false;
    int64_t sum = 0;
    for (int64_t f = 2; f < frames; f += 2)
        sum += discontinuity(data + (f - 2) * m_pcmFrame, data + f * m_pcmFrame);
    return sum <= kMaxPcmStray * m_pcmChannels * (frames / 2);
}

bool TrailingAudio::pcmBySmoothness(ScanBuffer& input, int64_t from, int64_t end, bool whole, FrameChain& out) {
    // No sound in front to carry on: the sample frames in front of `end`
    // that keep one course, back to the first that breaks it. Where the
    // input cuts the sound, its frames may end anywhere: the alignment
    // whose run reaches furthest back is theirs.
    const int64_t reach = std::max<int64_t>(largestRun(), m_pcmFrame) * kEndRuns;
    const int64_t lo = std::max(from, end - reach);
    if (end - lo < (kSmoothFrames + 1) * m_pcmFrame)
        return false;
    ByteBlock block = input.readBlock(lo, int32_t(end - lo));
    if (block.length() != end - lo)
        return false;
    int64_t best = -1, bestEnd = end;
    for (int64_t shift = 0; shift < (whole ? 1 : m_pcmFrame); ++shift) {
        const int64_t stop = end - shift;
        const int64_t frames = (stop - lo) / m_pcmFrame;
        const uint8_t* first = block.data() + (stop - frames * m_pcmFrame - lo);
        // Frame f - 1 joins the run when it keeps the course of the two
        // behind it about as well as the sound's last frames keep theirs.
        int64_t typical = 0;
        for (int64_t g = frames - kSmoothFrames; g + 2 < frames; ++g)
            typical += curvature(first + g * m_pcmFrame);
        typical /= kSmoothFrames - 2;
        const int64_t limit =
            std::min(kBendFactor * typical + kBendFloor * m_pcmChannels, kMaxPcmStray * m_pcmChannels);
        int64_t f = frames - 2;
        while (f >= 1 && curvature(first + (f - 1) * m_pcmFrame) <= limit)
            --f;
        const int64_t runStart = stop - (frames - f) * m_pcmFrame;
        if (frames - f >= kSmoothFrames && (best < 0 || runStart < best)) {
            best = runStart;
            bestEnd = stop;
        }
    }
    if (best < 0)
        return false;
    out = {best, bestEnd};
    return true;
}

bool TrailingAudio::pcmByCourse(ScanBuffer& input, int64_t from, int64_t end, int64_t previousEnd, bool whole,
                                FrameChain& out) {
    // Its start is where the samples carry on from those in front of the
    // picture.
    if (previousEnd < 2 * m_pcmFrame)
        return pcmBySmoothness(input, from, end, whole, out);
    const int64_t reach = std::max<int64_t>(largestRun(), m_pcmFrame) * kEndRuns;
    const int64_t lo = std::max(from, end - reach);
    const int64_t hi = end - 2 * m_pcmFrame;
    if (hi < lo)
        return false;
    // The sound in front: its last two frames to carry on, and how much its
    // frames bend, which says how closely the next must follow.
    const int64_t tailFrames = std::min(previousEnd / m_pcmFrame, kSmoothFrames);
    ByteBlock tail = input.readBlock(previousEnd - tailFrames * m_pcmFrame, int32_t(tailFrames * m_pcmFrame));
    if (tail.length() != tailFrames * m_pcmFrame)
        return false;
    const uint8_t* before = tail.data() + (tailFrames - 2) * m_pcmFrame;
    int64_t typical = 0;
    for (int64_t g = 0; g + 2 < tailFrames; ++g)
        typical += curvature(tail.data() + g * m_pcmFrame);
    typical /= std::max<int64_t>(tailFrames - 2, 1);
    const int64_t limit =
        2 * std::min(kBendFactor * typical + kBendFloor * m_pcmChannels, kMaxPcmStray * m_pcmChannels);
    ByteBlock block = input.readBlock(lo, int32_t(end - lo));
    if (block.length() != end - lo)
        return false;
    // The earliest such start: a steady tone carries on from the same
    // sample once every period further on as well. Audio that ends where a
    // picture begins is whole sample frames.
    // Within one sample frame of the first, the start that departs least
    // wins: channels alike (a mono source recorded as stereo) make a start
    // a channel early look much the same.
    int64_t first = -1, best = -1, bestScore = 0;
    for (int64_t t = lo; t <= hi && (first < 0 || t < first + m_pcmFrame); ++t) {
        if (whole && (end - t) % m_pcmFrame != 0)
            continue;
        const int64_t score = discontinuity(before, block.data() + (t - lo));
        if (score > limit || (best >= 0 && score >= bestScore) ||
            !smooth(block.data() + (t - lo), end - t))
            continue;
        if (first < 0)
            first = t;
        best = t;
        bestScore = score;
    }
    if (best < 0)
        return false;
    const int64_t size = (end - best) - (end - best) % m_pcmFrame;
    if (size <= 0)
        return false;
    out = {best, best + size};
    return true;
}
