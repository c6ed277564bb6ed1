#include "atomscan/table_reconstruction.h"

#include "log/logger.h"
#include "output/sample_collection.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/track_table_cursor.h"
#include "scan/media_sample.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <iomanip>
#include <limits>
#include <vector>

namespace {

// The samples taken so far and the limits that keep hostile tables from
// describing more than the file holds.
class SampleBudget {
public:
    SampleBudget(uint64_t fileSize, int64_t shift)
        : m_fileSize(fileSize), m_shift(uint64_t(shift)), m_maxSamples(fileSize / kMinMeanSampleBytes) {}

    enum class Verdict { Taken, Outside, Exhausted };

    // Places a sample (size above 0) of the table at tableOffset into the
    // input; when it lies inside the file and the budget allows, appends it.
    Verdict take(uint64_t tableOffset, uint64_t size, SampleKind kind, int32_t extra, int64_t* fileOffset) {
        if (m_exhausted)
            return Verdict::Exhausted;
        if (size > uint64_t(std::numeric_limits<int32_t>::max()) || tableOffset >= m_fileSize ||
            m_shift >= m_fileSize - tableOffset || size > m_fileSize - tableOffset - m_shift) {
            ++m_outside;
            return Verdict::Outside;
        }
        // Samples of a real movie never overlap, so together they fit in the file.
        if (m_samples.size() >= m_maxSamples || size > m_fileSize - m_bytes) {
            m_exhausted = true;
            FLOG(LogLevel::Error) << "QT reconstruction: the tables describe more data than the file holds; stopped";
            return Verdict::Exhausted;
        }
        MediaSample s;
        s.offset = int64_t(m_shift + tableOffset);
        s.size = int32_t(size);
        s.kind = kind;
        s.extra = extra;
        m_samples.push_back(s);
        m_bytes += size;
        *fileOffset = s.offset;
        return Verdict::Taken;
    }

    bool exhausted() const { return m_exhausted; }
    uint64_t outside() const { return m_outside; }
    std::vector<MediaSample>& samples() { return m_samples; }

private:
    uint64_t m_fileSize;
    uint64_t m_shift;
    uint64_t m_maxSamples;
    uint64_t m_bytes = 0;
    uint64_t m_outside = 0;
    bool m_exhausted = false;
    std::vector<MediaSample> m_samples;
};

bool usable(const MovieTrack& t) {
    return (!t.m_sampleSizes.empty() || t.m_fixedSampleSize != 0) && !t.m_chunkOffsets.empty() &&
           (t.m_fixedSampleSize != 0 || !t.m_sampleToChunk.empty());
}

// The samples [sample, end) of one chunk that starts at `offset`, one after
// the other. Video samples carry their composition offset, audio samples
// their track's number. False when the budget is exhausted.
bool takeChunk(const MovieTrack& t, SampleKind kind, int track, CompositionOffsetCursor& composition,
               uint64_t& sample, uint64_t end, uint64_t offset, SampleBudget& budget) {
    for (; sample < end; ++sample) {
        const uint64_t size = QTGetSampleSize(&t, uint32_t(sample));
        const int32_t extra = kind == SampleKind::Video ? int32_t(composition.compositionOffset(uint32_t(sample))) : track;
        if (size == 0)
            continue;
        int64_t at = 0;
        const auto verdict = budget.take(offset, size, kind, extra, &at);
        if (verdict == SampleBudget::Verdict::Exhausted)
            return false;
        if (verdict == SampleBudget::Verdict::Outside) {
            // The rest of the chunk lies further on: past the file too.
            sample = end;
            return true;
        }
        if (kind == SampleKind::Video)
            FLOG(LogLevel::Info) << "QT video sample " << std::setw(10) << at << " - " << size << " - " << extra;
        else
            FLOG(LogLevel::Info) << "QT audio sample " << track << " - " << at << " - " << size;
        offset += size;
    }
    return true;
}

// Every sample of the video track, in table order, until the tables end or
// name no position.
void takeVideo(const MovieTrack& t, SampleBudget& budget) {
    SamplesPerChunkCursor perChunkOf(t);
    CompositionOffsetCursor composition(t);
    const uint64_t samples = t.m_sampleCount;
    uint64_t sample = 1;
    for (uint64_t chunk = 1; chunk <= t.m_chunkOffsets.size() && sample <= samples; ++chunk) {
        const uint64_t perChunk = perChunkOf.samplesPerChunk(uint32_t(chunk));
        const uint64_t offset = t.m_chunkOffsets[chunk - 1];
        if (offset == 0)
            return;
        const uint64_t end = std::min(samples + 1, sample + perChunk);
        if (!takeChunk(t, SampleKind::Video, 0, composition, sample, end, offset, budget))
            return;
    }
}

// One audio track, chunk by chunk while the tables give samples per chunk.
// Fixed-size samples (PCM) go as one block per chunk.
void takeAudio(const MovieTrack& t, int track, SampleBudget& budget) {
    SamplesPerChunkCursor perChunkOf(t);
    CompositionOffsetCursor unused(t);
    uint64_t sample = 1;
    for (uint64_t chunk = 1; chunk <= t.m_chunkOffsets.size(); ++chunk) {
        const uint64_t perChunk = perChunkOf.samplesPerChunk(uint32_t(chunk));
        if (perChunk == 0)
            return;
        const uint64_t chunkOffset = t.m_chunkOffsets[chunk - 1];
        if (t.m_fixedSampleSize != 0) {
            const uint64_t size = perChunk * t.m_fixedSampleSize;
            int64_t at = 0;
            const auto verdict = budget.take(chunkOffset, size, SampleKind::Audio, track, &at);
            if (verdict == SampleBudget::Verdict::Exhausted)
                return;
            if (verdict == SampleBudget::Verdict::Taken)
                FLOG(LogLevel::Info) << "QT audio samples " << track << " - " << at << " - " << size;
            continue;
        }
        if (sample > t.m_sampleSizes.size())
            return;
        // Listed sizes end the walk: no sample past them has a size.
        const uint64_t end = std::min<uint64_t>(sample + perChunk, t.m_sampleSizes.size() + 1);
        if (!takeChunk(t, SampleKind::Audio, track, unused, sample, end, chunkOffset, budget))
            return;
    }
}

}  // namespace

void reconstructFromTables(const MovieFile* movie, int64_t fileStart, RepairState& state, const ScanBuffer& input) {
    FLOG(LogLevel::Info) << "QT reconstruction...";
    const MovieTrack* first = movie && movie->m_trackCount > 0 ? &movie->m_tracks[0] : nullptr;
    if (!first || !usable(*first)) {
        FLOG(LogLevel::Error) << "invalid data - cannot reconstruct";
        return;
    }
    FLOG(LogLevel::Info) << first->m_sampleSizes.size() << "," << first->m_sampleToChunk.size() << ","
                         << first->m_chunkOffsets.size() << "," << first->m_compositionOffsets.size();
    const int64_t shift = fileStart < 0 ? 0 : fileStart;
    FLOG(LogLevel::Info) << "filestart=" << fileStart << " ofsshift=" << shift;

    const int64_t fileSize = input.fileSize();
    SampleBudget budget(uint64_t(std::max<int64_t>(fileSize, 0)), shift);
    if (movie->m_videoTrack)
        takeVideo(*movie->m_videoTrack, budget);
    for (int a = 0; a < movie->m_audioTrackCount && a < kMaxTracks && !budget.exhausted(); ++a)
        if (movie->m_audioTracks[a])
            takeAudio(*movie->m_audioTracks[a], a, budget);
    if (budget.outside() > 0)
        FLOG(LogLevel::Warning) << "QT reconstruction: " << budget.outside()
                                << " samples of the tables lie outside the input; skipped";

    // In file order the output keeps the recording's own interleaving.
    std::vector<MediaSample>& samples = budget.samples();
    std::stable_sort(samples.begin(), samples.end(),
                     [](const MediaSample& a, const MediaSample& b) { return a.offset < b.offset; });
    for (const MediaSample& s : samples) {
        if (s.isVideo())
            add_video_samples(state, input, s.offset, s.size, s.extra);
        else
            addAudioSample(state, input, s.offset, s.size, s.extra);
    }
}
