#include "reference/reference_sample_collector.h"

#include "log/logger.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/track_table_cursor.h"

#include <cstdint>
#include <limits>

namespace {

// Only the start of each list is logged: enough to see the layout without
// one line per sample of a long recording.
constexpr size_t kLoggedSamples = 30;

void collectVideo(const MovieTrack& track, std::vector<MediaSample>& video) {
    SampleOffsetCursor offsets(track);
    CompositionOffsetCursor composition(track);
    // The stsz count bounds the walk: a damaged sample-to-chunk table may
    // claim billions of fixed-size samples that no file holds.
    for (uint32_t n = 1; n <= track.m_sampleCount; ++n) {
        const uint64_t offset = offsets.offset(n);
        if (offset == 0 || offset > uint64_t(std::numeric_limits<int64_t>::max()))
            break;
        MediaSample s;
        s.offset = int64_t(offset);
        s.size = int32_t(QTGetSampleSize(&track, n));
        s.kind = SampleKind::Video;
        s.extra = int32_t(composition.compositionOffset(n));
        video.push_back(s);
        if (video.size() <= kLoggedSamples) {
            FLOG(LogLevel::Info) << "QT video sample " << s.offset << " size " << s.size << " compofs " << s.extra;
        }
    }
}

void logAudio(const std::vector<MediaSample>& audio) {
    if (audio.size() <= kLoggedSamples) {
        FLOG(LogLevel::Info) << "QT audio sample " << audio.back().offset << " size " << audio.back().size;
    }
}

void collectAudio(const MovieTrack& track, std::vector<MediaSample>& audio) {
    SampleOffsetCursor offsets(track);
    SamplesPerChunkCursor chunks(track);
    uint64_t sample = 1;
    for (uint32_t chunk = 1;; ++chunk) {
        const uint32_t perChunk = chunks.samplesPerChunk(chunk);
        if (perChunk == 0 || sample > track.m_sampleCount)
            return;
        // A fixed size alone does not make PCM: a constant-bitrate MP3 track
        // lists one size for all its frames too, but each of its samples
        // lasts a frame (1152 ticks), where a PCM sample lasts one.
        if (track.m_fixedSampleSize && track.m_sampleDuration <= 1) {
            // PCM: one entry per chunk; a chunk the sample list cannot hold
            // (more bytes than a sample size can say) ends the list.
            const uint64_t offset = offsets.offset(uint32_t(sample));
            const uint64_t bytes = uint64_t(track.m_fixedSampleSize) * perChunk;
            if (offset == 0 || offset > uint64_t(std::numeric_limits<int64_t>::max()) ||
                bytes > uint64_t(std::numeric_limits<int32_t>::max()))
                return;
            audio.push_back(MediaSample{int64_t(offset), int32_t(bytes), SampleKind::Audio});
            logAudio(audio);
            sample += perChunk;
            continue;
        }
        for (uint32_t i = 0; i < perChunk; ++i, ++sample) {
            if (sample > track.m_sampleCount)
                return;
            const uint64_t offset = offsets.offset(uint32_t(sample));
            if (offset == 0 || offset > uint64_t(std::numeric_limits<int64_t>::max()))
                return;
            audio.push_back(MediaSample{int64_t(offset), int32_t(QTGetSampleSize(&track, uint32_t(sample))), SampleKind::Audio});
            logAudio(audio);
        }
    }
}

}  // namespace

void collectMovieSamples(const MovieFile& movie, std::vector<MediaSample>& video,
                         std::vector<MediaSample>& audio) {
    video.clear();
    audio.clear();
    if (movie.m_videoTrack && movie.m_videoTrack->m_sampleCount > 0)
        collectVideo(*movie.m_videoTrack, video);
    if (movie.m_audioTrackCount > 0 && movie.m_audioTracks[0] && movie.m_audioTracks[0]->m_sampleCount > 0)
        collectAudio(*movie.m_audioTracks[0], audio);
    FLOG(LogLevel::Notice) << "---------reffile collect samples complete (output may be incomplete!)----------";
}

std::vector<MediaSample> collectTrackSamples(const MovieTrack& track, size_t limit) {
    std::vector<MediaSample> samples;
    SampleOffsetCursor offsets(track);
    for (uint32_t n = 1; n <= track.m_sampleCount && samples.size() < limit; ++n) {
        const uint64_t offset = offsets.offset(n);
        if (offset == 0 || offset > uint64_t(std::numeric_limits<int64_t>::max()))
            break;
        samples.push_back(MediaSample{int64_t(offset), int32_t(QTGetSampleSize(&track, n)), SampleKind::Video});
    }
    return samples;
}
