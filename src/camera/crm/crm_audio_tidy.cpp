#include "camera/crm/crm_audio_tidy.h"

#include "camera/crm/pcm24.h"
#include "log/logger.h"

#include <algorithm>

namespace crm {

namespace {

// The tail judged for noise: 24000 values (72000 bytes); shorter tails than
// 12000 bytes say too little to act on.
constexpr size_t kTailBytes = 72000;
constexpr size_t kMinTailBytes = 12000;
constexpr double kTailLevelDbfs = -12.0;
constexpr double kTailSignChanges = 0.2;
// Frames the fade spans (half a second at 48 kHz).
constexpr uint64_t kFadeFrames = 24000;

}  // namespace

void dropPreRoll(ChunkBytes& chunks, uint64_t videoChunks, size_t track) {
    if (chunks.size() <= videoChunks)
        return;
    const uint64_t surplus = chunks.size() - videoChunks;
    chunks.erase(chunks.begin(), chunks.begin() + long(surplus));
    FLOG(LogLevel::Notice) << "CanonCRM dropped leading audio pre-roll chunks track=" << track << " count=" << surplus;
}

void trimToVideo(ChunkBytes& chunks, uint32_t frameBytes, uint32_t audioTimescale, uint32_t audioDelta,
                 const VideoTiming& video, size_t track) {
    frameBytes = std::max<uint32_t>(frameBytes, 1);
    const unsigned __int128 d = (unsigned __int128)std::max<uint32_t>(audioDelta, 1) * video.timescale;
    if (d == 0 || audioTimescale == 0 || chunks.empty())
        return;
    const unsigned __int128 num =
        (unsigned __int128)video.samples * std::max<uint32_t>(video.sampleDelta, 1) * audioTimescale + d / 2;
    const uint64_t target = uint64_t(num / d);
    uint64_t total = 0;
    for (const Bytes& c : chunks)
        total += c.size();
    const uint64_t budget = target > UINT64_MAX / frameBytes ? UINT64_MAX : target * frameBytes;
    if (budget >= total)
        return;
    uint64_t left = budget;
    size_t keep = 0;
    for (; keep < chunks.size() && left > 0; ++keep) {
        Bytes& c = chunks[keep];
        if (c.size() > left) {
            const uint64_t cut = left / frameBytes * frameBytes;
            if (cut == 0)
                break;
            c.resize(cut);
        }
        left -= c.size();
    }
    chunks.resize(keep);
    FLOG(LogLevel::Notice) << "CanonCRM trimmed audio to video duration track=" << track << " samples=" << target
                           << " bytes_before=" << total << " bytes_after=" << budget;
}

void fadeNoisyTail(ChunkBytes& chunks, uint32_t channels, size_t track) {
    channels = std::max<uint32_t>(channels, 1);
    const size_t frameBytes = size_t(channels) * kPcmBytes;
    // The tail, gathered from the last chunks backwards, in whole frames.
    Bytes tail;
    for (size_t c = chunks.size(); c-- > 0 && tail.size() < kTailBytes;) {
        const Bytes& b = chunks[c];
        const size_t whole = b.size() / frameBytes * frameBytes;
        const size_t take = std::min(whole, (kTailBytes - tail.size()) / frameBytes * frameBytes);
        tail.insert(tail.begin(), b.begin() + long(whole - take), b.begin() + long(whole));
        if (take < whole)
            break;
    }
    if (tail.size() < kMinTailBytes)
        return;
    const size_t values = tail.size() / kPcmBytes;
    if (rmsDbfs(tail.data(), values) <= kTailLevelDbfs || signChangeShare(tail.data(), values, channels) <= kTailSignChanges)
        return;
    uint64_t frames = 0;
    for (const Bytes& b : chunks)
        frames += b.size() / frameBytes;
    if (frames <= 1)
        return;
    const uint64_t span = std::min(frames, kFadeFrames);
    uint64_t q = 0;
    for (Bytes& b : chunks) {
        const size_t n = b.size() / frameBytes;
        for (size_t f = 0; f < n; ++f, ++q) {
            if (q < frames - span)
                continue;
            const double gain = std::max(double(frames - 1 - q) / double(span), 0.0);
            for (uint32_t ch = 0; ch < channels; ++ch) {
                uint8_t* p = &b[(f * channels + ch) * kPcmBytes];
                storePcm(p, int64_t(double(pcmValue(p)) * gain));
            }
        }
    }
    FLOG(LogLevel::Notice) << "CanonCRM faded noisy recovered audio tail track=" << track << " samples=24000";
}

}  // namespace crm
