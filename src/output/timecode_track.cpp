#include "output/timecode_track.h"

#include "log/logger.h"
#include "output/media_data_extent.h"
#include "output/repair_state.h"
#include "output/trailing_chunks.h"
#include "platform/file.h"
#include "qt/movie_reader.h"
#include "qt/movie_writer.h"
#include "qt/quicktime.h"
#include "reference/reference_info.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// A timecode sample is a 32-bit frame number (64-bit in the long form).
constexpr uint32_t kMaxTimecodeSample = 8;

bool isTimecode(const MovieTrack& t) {
    return t.m_handlerType == makeFourcc("tmcd") && t.m_sampleCount == 1 && t.m_mediaTimescale != 0 &&
           t.m_descriptionBody.m_size > 0 && t.m_chunkOffsets.size() == 1 && QTGetSampleSize(&t, 1) > 0 &&
           QTGetSampleSize(&t, 1) <= kMaxTimecodeSample;
}

// The reference's timecode track with where its sample stands: in front of
// the first chunk, or (some recorders write it when they stop) as the last
// bytes of the media data.
const MovieTrack* referenceTimecode(const ReferenceInfo& reference, const std::string& referenceFile, bool& atEnd) {
    const MovieFile* movie = reference.movie();
    if (!movie)
        return nullptr;
    const uint32_t lead = reference.layout().m_mediaDataLead;
    for (int i = 0; i < movie->m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (!isTimecode(t))
            continue;
        const uint32_t size = QTGetSampleSize(&t, 1);
        MediaDataExtent extent;
        atEnd = findMediaDataExtent(referenceFile, int64_t(t.m_chunkOffsets[0]), extent) &&
                extent.end == int64_t(t.m_chunkOffsets[0]) + size;
        if (atEnd || lead == size)
            return &t;
    }
    return nullptr;
}

// The `size` bytes right behind the input's media data header that ends
// at `at`: only there is the sample where the reference has it.
bool readBehindMediaDataHeader(const std::string& input, int64_t at, uint32_t size, uint8_t* out) {
    platform::File file;
    uint8_t header[16] = {};
    if (at < 8 || !file.open(input, platform::File::Mode::Read))
        return false;
    const bool plain = file.readAt(at - 8, header, 8) == 8 && std::memcmp(header + 4, "mdat", 4) == 0;
    const bool large = !plain && at >= 16 && file.readAt(at - 16, header, 16) == 16 &&
                       std::memcmp(header + 4, "mdat", 4) == 0 && header[0] == 0 && header[1] == 0 &&
                       header[2] == 0 && header[3] == 1;
    return (plain || large) && file.readAt(at, out, size) == size;
}

}  // namespace

void addTimecodeTrack(RepairState& state, const TrailingSample* placed) {
    MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = state.m_reference && state.m_reference->isOpen() ? state.m_reference.get() : nullptr;
    bool atEnd = false;
    const MovieTrack* source = reference ? referenceTimecode(*reference, state.m_referenceFileName, atEnd) : nullptr;
    const bool between = !source && placed && isTimecode(*placed->source);
    if (between)
        source = placed->source;
    if (!movie || !source || !movie->m_videoTrack || movie->m_videoTrack->m_mediaTimescale == 0 ||
        state.m_samples.size() == 0)
        return;
    for (int i = 0; i < movie->m_trackCount; ++i)
        if (movie->m_tracks[i].m_handlerType == makeFourcc("tmcd"))
            return;  // an earlier pass of this clip wrote it
    const uint32_t size = QTGetSampleSize(source, 1);
    uint8_t sample[kMaxTimecodeSample] = {};
    int64_t at = -1;
    if (between) {
        platform::File file;
        if (placed->size != size || !file.open(state.m_inputFileName, platform::File::Mode::Read) ||
            file.readAt(placed->offset, sample, size) != size)
            return;
        at = placed->offset;
    } else if (atEnd) {
        // Only where the input's media data ends right behind the last
        // sample found, by the timecode's size, are those bytes the timecode.
        int64_t last = 0;
        for (size_t i = 0; i < state.m_samples.size(); ++i)
            last = std::max(last, state.m_samples[i].offset + state.m_samples[i].size);
        MediaDataExtent extent;
        platform::File file;
        if (last == 0 || !findMediaDataExtent(state.m_inputFileName, last - 1, extent) || !extent.whole() ||
            extent.end != last + int64_t(size) || !file.open(state.m_inputFileName, platform::File::Mode::Read) ||
            file.readAt(last, sample, size) != size)
            return;
        at = last;
    } else {
        int64_t first = std::numeric_limits<int64_t>::max();
        for (size_t i = 0; i < state.m_samples.size(); ++i)
            first = std::min(first, state.m_samples[i].offset);
        if (first < int64_t(size) ||
            !readBehindMediaDataHeader(state.m_inputFileName, first - int64_t(size), size, sample))
            return;
        at = first - int64_t(size);
    }
    MovieTrack* track = addTrack(movie);
    if (!track)
        return;
    track->m_handlerType = source->m_handlerType;
    track->m_codec = source->m_codec;
    track->m_mediaTimescale = source->m_mediaTimescale;
    track->m_descriptionBody = source->m_descriptionBody;
    const MovieTrack& video = *movie->m_videoTrack;
    const uint64_t duration = uint64_t(video.m_mediaDuration) * source->m_mediaTimescale / video.m_mediaTimescale;
    track->m_sampleDuration = uint32_t(std::min<uint64_t>(std::max<uint64_t>(duration, 1), UINT32_MAX));
    QTAddSamples(movie, track, sample, size, 0);
    movie->m_videoTrack->m_timecodeTrackId = track->m_trackId;
    FLOG(LogLevel::Notice) << "timecode track rebuilt from the sample at " << at;
}
