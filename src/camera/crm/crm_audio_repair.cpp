#include "camera/crm/crm_audio_repair.h"

#include "camera/crm/pcm24.h"
#include "log/logger.h"
#include "platform/file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace crm {

namespace {

// At most this many values per shift decide the byte alignment.
constexpr size_t kShiftProbeValues = 4096;
constexpr size_t kShiftProbeSpan = 12288;
// A first chunk louder than this, with sign changes as often as noise has
// them, is damage rather than sound.
constexpr double kMuteLevelDbfs = -8.0;
constexpr double kMuteSignChanges = 0.35;
constexpr size_t kMuteProbeValues = 12000;
constexpr size_t kMuteMinBytes = 3000;
// Frames each side of a splice that the line replaces, at most.
constexpr size_t kMaxSpliceFrames = 128;
// A splice is left alone unless the step across it is this many times the
// signal's own mean step around it, and at least kMinSpliceStep: continuous
// audio must come out unchanged.
constexpr int64_t kSpliceStepFactor = 8;
constexpr int64_t kMinSpliceStep = 2048;
// A click common to all tracks stands out of its neighbours by at least this
// much in every track, with sizes within this ratio of one another.
constexpr int64_t kClickSize = 500000;
constexpr int64_t kClickRatio = 4;

int32_t frameValue(const Bytes& b, size_t frame, uint32_t channels, uint32_t ch) {
    return pcmValue(&b[(frame * channels + ch) * kPcmBytes]);
}

void setFrameValue(Bytes& b, size_t frame, uint32_t channels, uint32_t ch, int64_t v) {
    storePcm(&b[(frame * channels + ch) * kPcmBytes], v);
}

}  // namespace

int chooseByteShift(const uint8_t* data, size_t n) {
    int best = 0;
    double bestFraction = -1.0, bestMean = 1e30;
    for (int shift = 0; shift < 3; ++shift) {
        double fraction = 0, mean = 1e30;
        const size_t m = n > size_t(shift) ? n - size_t(shift) : 0;
        if (m >= kPcmBytes) {
            const size_t values = m / kPcmBytes;
            const size_t step = std::max<size_t>(m / kShiftProbeSpan, 1);
            size_t examined = 0, small = 0;
            double sum = 0;
            for (size_t i = 0; i < values && examined < kShiftProbeValues; i += step, ++examined) {
                const uint8_t* p = data + shift + kPcmBytes * i;
                if (p[0] <= 7 || p[0] >= 248)
                    ++small;
                sum += std::abs(double(pcmValue(p)));
            }
            fraction = double(small) / double(examined);
            mean = sum / double(examined);
        }
        if (fraction > bestFraction || (fraction == bestFraction && mean < bestMean)) {
            best = shift;
            bestFraction = fraction;
            bestMean = mean;
        }
    }
    return best;
}

bool muteNoisyFirstChunk(Bytes& chunk, uint32_t channels) {
    const size_t length = chunk.size();
    if (length < kMuteMinBytes)
        return false;
    const size_t n = std::min(length / kPcmBytes, kMuteProbeValues);
    if (rmsDbfs(chunk.data(), n) <= kMuteLevelDbfs || signChangeShare(chunk.data(), n, channels) <= kMuteSignChanges)
        return false;
    std::fill(chunk.begin(), chunk.end(), 0);
    return true;
}

bool smoothSplice(Bytes& previous, Bytes& next, uint32_t channels) {
    const size_t frameBytes = size_t(channels) * kPcmBytes;
    if (channels == 0)
        return false;
    const size_t np = previous.size() / frameBytes, nn = next.size() / frameBytes;
    size_t k = std::min(np, nn) / 2;
    if (k <= 1)
        return false;
    k = std::min(k, kMaxSpliceFrames);
    bool stepped = false;
    for (uint32_t ch = 0; ch < channels && !stepped; ++ch) {
        int64_t along = 0;
        for (size_t f = np - k; f + 1 < np; ++f)
            along += std::llabs(int64_t(frameValue(previous, f + 1, channels, ch)) - frameValue(previous, f, channels, ch));
        for (size_t f = 0; f + 1 <= k; ++f)
            along += std::llabs(int64_t(frameValue(next, f + 1, channels, ch)) - frameValue(next, f, channels, ch));
        const int64_t mean = along / int64_t(2 * k - 1);
        const int64_t step = std::llabs(int64_t(frameValue(next, 0, channels, ch)) - frameValue(previous, np - 1, channels, ch));
        stepped = step >= kMinSpliceStep && step > kSpliceStepFactor * mean;
    }
    if (!stepped)
        return false;
    const double span = double(2 * k + 1);
    for (uint32_t ch = 0; ch < channels; ++ch) {
        const double a = frameValue(previous, np - k - 1, channels, ch);
        const double b = frameValue(next, k, channels, ch);
        const double half = b >= a ? 0.5 : -0.5;
        for (size_t i = 1; i <= 2 * k; ++i) {
            const double w = double(i) / span;
            const int64_t v = int64_t((1.0 - w) * a + w * b + half);
            if (i <= k)
                setFrameValue(previous, np - k - 1 + i, channels, ch, v);
            else
                setFrameValue(next, i - k - 1, channels, ch, v);
        }
    }
    return true;
}

uint64_t removeCommonClicks(std::vector<std::vector<Bytes>>& tracks, const std::vector<uint32_t>& channels) {
    if (tracks.size() < 2)
        return 0;
    size_t chunks = SIZE_MAX;
    uint32_t shared = UINT32_MAX;
    for (size_t t = 0; t < tracks.size(); ++t) {
        chunks = std::min(chunks, tracks[t].size());
        shared = std::min(shared, channels[t]);
    }
    uint64_t removed = 0;
    std::vector<int64_t> d(tracks.size());
    for (size_t c = 0; c < chunks; ++c) {
        size_t n = SIZE_MAX;
        for (size_t t = 0; t < tracks.size(); ++t)
            n = std::min(n, tracks[t][c].size() / (size_t(channels[t]) * kPcmBytes));
        if (n <= 2)
            continue;
        for (uint32_t ch = 0; ch < shared; ++ch) {
            for (size_t j = 1; j + 1 < n; ++j) {
                bool all = true;
                for (size_t t = 0; t < tracks.size() && all; ++t) {
                    const Bytes& b = tracks[t][c];
                    const int32_t mid = int32_t((int64_t(frameValue(b, j - 1, channels[t], ch)) +
                                                 frameValue(b, j + 1, channels[t], ch)) / 2);
                    d[t] = int64_t(frameValue(b, j, channels[t], ch)) - mid;
                    all = std::llabs(d[t]) >= kClickSize && (d[t] > 0) == (d[0] > 0);
                }
                if (!all)
                    continue;
                std::vector<int64_t> sorted = d;
                std::sort(sorted.begin(), sorted.end());
                const int64_t lo = std::llabs(sorted.front()), hi = std::llabs(sorted.back());
                if (std::max(lo, hi) > kClickRatio * std::min(lo, hi))
                    continue;
                const size_t m = sorted.size();
                const int64_t median = m % 2 ? sorted[m / 2] : (sorted[m / 2 - 1] + sorted[m / 2]) / 2;
                for (size_t t = 0; t < tracks.size(); ++t) {
                    Bytes& b = tracks[t][c];
                    setFrameValue(b, j, channels[t], ch, int64_t(frameValue(b, j, channels[t], ch)) - median);
                }
                ++removed;
            }
        }
    }
    return removed;
}

RepairedAudio repairCrmAudio(const std::string& damagedFile, uint64_t payloadStart, uint64_t payloadLength,
                             const TrackChunks& chunks, const std::vector<uint32_t>& channels) {
    platform::File file;
    if (!file.open(damagedFile, platform::File::Mode::Read))
        throw std::runtime_error("damaged open failed for audio repair");
    RepairedAudio out;
    out.tracks.resize(chunks.size());
    for (size_t t = 0; t < chunks.size(); ++t) {
        const uint32_t ch = std::max<uint32_t>(t < channels.size() ? channels[t] : 1, 1);
        for (const AudioRun& c : chunks[t]) {
            if (c.offset > payloadLength || c.length > payloadLength - c.offset)
                throw std::runtime_error("read failed");
            const uint64_t read = c.offset + c.length + 2 <= payloadLength ? c.length + 2 : c.length;
            const Bytes raw = readBoxBytes(file, payloadStart + c.offset, read);
            const int shift = chooseByteShift(raw.data(), raw.size());
            ++out.shifts[size_t(shift)];
            Bytes chunk(c.length, 0);
            const size_t have = std::min<size_t>(c.length, raw.size() - size_t(shift));
            std::copy(raw.begin() + shift, raw.begin() + shift + long(have), chunk.begin());
            out.tracks[t].push_back(std::move(chunk));
        }
        if (!out.tracks[t].empty() && muteNoisyFirstChunk(out.tracks[t][0], ch))
            FLOG(LogLevel::Notice) << "CanonCRM muted damaged initial audio chunk for track=" << t;
        for (size_t k = 1; k < out.tracks[t].size(); ++k)
            smoothSplice(out.tracks[t][k - 1], out.tracks[t][k], ch);
    }
    std::vector<uint32_t> perTrack(chunks.size(), 1);
    for (size_t t = 0; t < chunks.size() && t < channels.size(); ++t)
        perTrack[t] = std::max<uint32_t>(channels[t], 1);
    out.commonClicks = removeCommonClicks(out.tracks, perTrack);
    FLOG(LogLevel::Notice) << "CanonCRM repaired audio chunks appended"
                           << " shift0=" << out.shifts[0] << " shift1=" << out.shifts[1]
                           << " shift2=" << out.shifts[2] << " common_clicks_removed=" << out.commonClicks;
    return out;
}

}  // namespace crm
