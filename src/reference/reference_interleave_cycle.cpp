#include "reference/reference_interleave_cycle.h"

#include "bitstream/mpeg4_audio/aac_frame_bands.h"
#include "bitstream/mpeg_audio/mpeg_audio_header.h"
#include "reference/audio_frame_duration.h"
#include "reference/sound_codecs.h"
#include "qt/movie_file.h"
#include "platform/file.h"
#include "qt/movie_reader.h"
#include "reference/track_table_cursor.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <utility>

namespace {

// The frames whose first bytes are looked at: enough to see every element
// an encoder opens its frames with.
constexpr uint32_t kHeadSamples = 2000;

const Fourcc kVide = makeFourcc("vide");
const Fourcc kSoun = makeFourcc("soun");
const Fourcc kHint = makeFourcc("hint");

// `anySize`: learnt for a track of one sample size too (timed metadata; PCM
// sound opens with anything). An AAC track's frames also show, in their
// first bytes, the bands their encoder codes.
void learnHeads(platform::File& file, const MovieTrack& track, InterleaveTrack& t, bool anySize = false) {
    const bool heads = track.m_fixedSampleSize == 0 || anySize;
    const bool mpeg = isMpegAudioTrack(track);
    const bool aac = track.m_codec == makeFourcc("mp4a") && !mpeg;
    if (!heads && !aac && !mpeg)
        return;
    SampleOffsetCursor offsets(track);
    for (uint32_t n = 1; n <= track.m_sampleCount && n <= kHeadSamples; ++n) {
        const uint64_t offset = offsets.offset(n);
        uint8_t head[4] = {};
        const int64_t got = offset == 0 || offset > uint64_t(INT64_MAX) ? 0 : file.readAt(int64_t(offset), head, 4);
        if (got < 1)
            break;
        if (heads)
            t.frameHeads.set(head[0] >> 1);
        if (mpeg && got == 4 && t.mpegSampleRate == 0) {
            if (const std::optional<bitstream::MpegAudioHeader> h = bitstream::parseMpegAudioHeader(head)) {
                t.mpegSampleRate = h->m_sampleRate;
                t.mpegChannels = h->m_channels;
            }
        }
        if (!aac)
            continue;
        if (got != 4)
            break;
        const int bands = bitstream::aacLongWindowBands(head, sizeof head);
        if (bands >= 0)
            t.longWindowBands.set(size_t(bands));
    }
}

void learnBoxKeys(platform::File& file, const MovieTrack& track, InterleaveTrack& t) {
    if (track.m_codec != makeFourcc("mebx"))
        return;
    SampleOffsetCursor offsets(track);
    bool single = true;
    uint32_t n = 1;
    for (; n <= track.m_sampleCount && n <= kHeadSamples; ++n) {
        const uint64_t offset = offsets.offset(n);
        uint8_t box[8];
        if (offset == 0 || offset > uint64_t(INT64_MAX) || file.readAt(int64_t(offset), box, 8) != 8)
            break;
        const uint32_t size = uint32_t(box[0]) << 24 | uint32_t(box[1]) << 16 | uint32_t(box[2]) << 8 | box[3];
        const uint32_t key = uint32_t(box[4]) << 24 | uint32_t(box[5]) << 16 | uint32_t(box[6]) << 8 | box[7];
        single = single && size == QTGetSampleSize(&track, n);
        if (std::find(t.boxKeys.begin(), t.boxKeys.end(), key) == t.boxKeys.end() && t.boxKeys.size() < kMaxMetadataKeys)
            t.boxKeys.push_back(key);
    }
    t.oneBoxPerSample = single && n > 1;
}

void addChunkSize(std::vector<uint32_t>& sizes, uint32_t size) {
    if (sizes.size() < kMaxMetadataChunkSizes && std::find(sizes.begin(), sizes.end(), size) == sizes.end())
        sizes.push_back(size);
}

InterleaveTrack learnTrack(const MovieTrack& track, int audioIndex, bool metadata) {
    InterleaveTrack t;
    t.audioIndex = audioIndex;
    t.codec = track.m_codec;
    if (track.m_mediaTimescale > 0)
        t.sampleSeconds = double(track.m_sampleDuration) / double(track.m_mediaTimescale);

    SamplesPerChunkCursor chunks(track);
    std::vector<uint32_t> perChunk;
    std::vector<uint32_t> chunkBytes;
    uint64_t sample = 1;
    t.minChunkBytes = UINT32_MAX;
    t.minSampleBytes = UINT32_MAX;
    // The stsz count bounds the walk: damaged tables may claim more chunks
    // than samples exist.
    for (uint32_t chunk = 1; chunk <= track.m_chunkOffsets.size() && sample <= track.m_sampleCount; ++chunk) {
        const uint32_t n = chunks.samplesPerChunk(chunk);
        if (n == 0)
            break;
        uint64_t bytes = 0;
        for (uint32_t i = 0; i < n && sample <= track.m_sampleCount; ++i, ++sample) {
            const uint32_t size = QTGetSampleSize(&track, uint32_t(sample));
            bytes += size;
            t.minSampleBytes = std::min(t.minSampleBytes, size);
            t.maxSampleBytes = std::max(t.maxSampleBytes, size);
        }
        perChunk.push_back(n);
        const uint32_t clipped = uint32_t(std::min<uint64_t>(bytes, UINT32_MAX));
        chunkBytes.push_back(clipped);
        if (metadata) {
            addChunkSize(t.chunkSizes, clipped);
            if (chunk > kOpeningMetadataChunks)
                addChunkSize(t.laterChunkSizes, clipped);
        }
        t.minChunkBytes = std::min(t.minChunkBytes, clipped);
        t.maxChunkBytes = std::max(t.maxChunkBytes, clipped);
    }
    std::sort(t.chunkSizes.begin(), t.chunkSizes.end());
    std::sort(t.laterChunkSizes.begin(), t.laterChunkSizes.end());
    if (perChunk.empty()) {
        t.minChunkBytes = t.minSampleBytes = 0;
        return t;
    }
    std::nth_element(perChunk.begin(), perChunk.begin() + ptrdiff_t(perChunk.size() / 2), perChunk.end());
    t.samplesPerChunk = perChunk[perChunk.size() / 2];
    // One chunk besides the last shows no packet, only itself.
    chunkBytes.pop_back();
    // A recording's first chunk follows no rule of the later ones.
    for (size_t i = 1; !metadata && i < chunkBytes.size(); ++i)
        if (t.wholeChunkSizes.size() < kMaxMetadataChunkSizes &&
            std::find(t.wholeChunkSizes.begin(), t.wholeChunkSizes.end(), chunkBytes[i]) == t.wholeChunkSizes.end())
            t.wholeChunkSizes.push_back(chunkBytes[i]);
    std::sort(t.wholeChunkSizes.begin(), t.wholeChunkSizes.end());
    if (chunkBytes.size() > 1)
        for (uint32_t bytes : chunkBytes)
            t.chunkGranuleBytes = std::gcd(t.chunkGranuleBytes, bytes);
    return t;
}

double learnChunkLag(const MovieTrack& video, const MovieTrack& track) {
    if (video.m_mediaTimescale == 0 || track.m_mediaTimescale == 0 || video.m_chunkOffsets.empty())
        return 0;
    // The decoding time the video has reached at the end of each video
    // chunk, on the movie's clock: a frame held at the start (a first
    // frame lasting seconds) puts the video's later frames that much later
    // in the media, and the movie's edit skips it.
    std::vector<std::pair<uint64_t, double>> written;
    SamplesPerChunkCursor videoChunks(video);
    int64_t start = 0;
    for (const EditListEntry& edit : video.m_editList)
        if (edit.m_mediaTime >= 0) {
            start = edit.m_mediaTime;
            break;
        }
    DecodeTimeCursor videoClock(video);
    for (uint32_t chunk = 1; chunk <= video.m_chunkOffsets.size(); ++chunk) {
        videoClock.advance(videoChunks.samplesPerChunk(chunk));
        written.emplace_back(video.m_chunkOffsets[chunk - 1],
                             double(int64_t(videoClock.time()) - start) / video.m_mediaTimescale);
    }
    std::sort(written.begin(), written.end());

    std::vector<double> lags;
    SamplesPerChunkCursor chunks(track);
    DecodeTimeCursor clock(track);
    for (uint32_t chunk = 1; chunk <= track.m_chunkOffsets.size() && !clock.done(); ++chunk) {
        const uint64_t offset = track.m_chunkOffsets[chunk - 1];
        auto before = std::lower_bound(written.begin(), written.end(), std::make_pair(offset, -1e300));
        const double videoBefore = before == written.begin() ? 0 : std::max(0.0, std::prev(before)->second);
        lags.push_back(videoBefore - double(clock.time()) / track.m_mediaTimescale);
        clock.advance(chunks.samplesPerChunk(chunk));
    }
    if (lags.empty())
        return 0;
    std::nth_element(lags.begin(), lags.begin() + ptrdiff_t(lags.size() / 2), lags.end());
    return lags[lags.size() / 2];
}

// The most common duration of the track's empty samples and of the others.
void learnCueDurations(const MovieTrack& track, InterleaveTrack& t) {
    if (track.m_mediaTimescale == 0 || track.m_fixedSampleSize != 0)
        return;
    std::vector<uint32_t> pauses, cues;
    size_t sample = 0;
    for (const TimeToSampleEntry& e : track.m_timeToSample)
        for (uint32_t n = 0; n < e.m_sampleCount && sample < track.m_sampleSizes.size(); ++n, ++sample)
            (track.m_sampleSizes[sample] <= 2 ? pauses : cues).push_back(e.m_duration);
    auto mostCommon = [&](std::vector<uint32_t>& v) {
        if (v.empty())
            return 0.0;
        std::sort(v.begin(), v.end());
        uint32_t best = v[0];
        size_t bestRun = 0;
        for (size_t i = 0, j = 0; i < v.size(); i = j) {
            while (j < v.size() && v[j] == v[i])
                ++j;
            if (j - i > bestRun)
                bestRun = j - i, best = v[i];
        }
        return double(best) / track.m_mediaTimescale;
    };
    t.pauseSeconds = mostCommon(pauses);
    t.cueSeconds = mostCommon(cues);
}

}  // namespace

// Does each sound track write at most one chunk between two video chunks,
// in nearly all of the movie's gaps?
bool learnOneChunkPerGap(const MovieFile& movie, const MovieTrack* video) {
    if (!video)
        return false;
    std::vector<std::pair<uint64_t, int>> chunks;  // offset, track (-1: video)
    for (uint64_t offset : video->m_chunkOffsets)
        chunks.emplace_back(offset, -1);
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i)
        if (movie.m_tracks[i].m_handlerType == kSoun)
            for (uint64_t offset : movie.m_tracks[i].m_chunkOffsets)
                chunks.emplace_back(offset, i);
    std::sort(chunks.begin(), chunks.end());
    size_t gaps = 0, single = 0, gapsSeen = 0;
    std::vector<int> seen;
    bool repeated = false;
    for (const auto& [offset, track] : chunks) {
        if (track < 0) {
            // The first gap of a recording is often irregular.
            if (!seen.empty() && ++gapsSeen > 1) {
                ++gaps;
                single += repeated ? 0 : 1;
            }
            seen.clear();
            repeated = false;
            continue;
        }
        repeated = repeated || std::find(seen.begin(), seen.end(), track) != seen.end();
        seen.push_back(track);
    }
    // The sound behind the last video chunk is the tracks' last flush: a
    // short reference may have no other gap to show how they are written.
    if (!seen.empty() && gapsSeen > 0) {
        ++gaps;
        single += repeated ? 0 : 1;
    }
    return gaps > 0 && 10 * single >= 9 * gaps;
}

namespace {

// Do the sound chunks of one gap last about as long as each other, in
// nearly all the gaps (but the first) that hold chunks of several tracks?
bool learnChunksShareTime(const MovieFile& movie, const MovieTrack* video) {
    // Chunks of one flush differ by a frame or two of rounding, packets of
    // two rates by their ratio.
    constexpr double kSameSpan = 1.5;
    if (!video)
        return false;
    struct Chunk {
        uint64_t offset;
        int track;  // -1: video
        double seconds;
    };
    std::vector<Chunk> chunks;
    for (uint64_t offset : video->m_chunkOffsets)
        chunks.push_back({offset, -1, 0});
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        if (track.m_handlerType != kSoun || track.m_mediaTimescale == 0)
            continue;
        const double sample = double(track.m_sampleDuration) / double(track.m_mediaTimescale);
        SamplesPerChunkCursor perChunk(track);
        for (uint32_t c = 1; c <= track.m_chunkOffsets.size(); ++c)
            chunks.push_back({track.m_chunkOffsets[c - 1], i, perChunk.samplesPerChunk(c) * sample});
    }
    std::sort(chunks.begin(), chunks.end(), [](const Chunk& x, const Chunk& y) { return x.offset < y.offset; });
    size_t gaps = 0, shared = 0, videoChunks = 0;
    std::map<int, double> span;
    auto close = [&] {
        if (span.size() > 1 && videoChunks > 1) {
            double lo = span.begin()->second, hi = lo;
            for (const auto& [track, seconds] : span) {
                lo = std::min(lo, seconds);
                hi = std::max(hi, seconds);
            }
            ++gaps;
            shared += hi <= kSameSpan * lo ? 1 : 0;
        }
        span.clear();
    };
    for (const Chunk& c : chunks) {
        if (c.track < 0) {
            close();
            ++videoChunks;
            continue;
        }
        span[c.track] += c.seconds;
    }
    close();
    // Without a gap that shows it, a recorder flushing its tracks together
    // is assumed.
    return 10 * shared >= 9 * gaps;
}

// Calls f(chunk number from 1, file offset, bytes, samples) for each chunk
// of `track` its sample table fills. Equal samples (PCM: hours of them) are
// counted, not walked.
template <typename F>
void forEachChunk(const MovieTrack& track, F f) {
    SamplesPerChunkCursor perChunk(track);
    uint64_t sample = 1;
    for (uint32_t chunk = 1; chunk <= track.m_chunkOffsets.size() && sample <= track.m_sampleCount; ++chunk) {
        const uint32_t n = perChunk.samplesPerChunk(chunk);
        if (n == 0)
            break;
        const uint64_t taken = std::min<uint64_t>(n, uint64_t(track.m_sampleCount) - sample + 1);
        uint64_t bytes = taken * track.m_fixedSampleSize;
        for (uint64_t k = 0; !track.m_fixedSampleSize && k < taken; ++k)
            bytes += QTGetSampleSize(&track, uint32_t(sample + k));
        sample += taken;
        f(chunk, track.m_chunkOffsets[chunk - 1], bytes, n);
    }
}

// The most sound bytes the movie holds between two video chunks (or in
// front of the first, or behind the last), and the same but for those in
// front of the second video chunk (a muxer may hold back seconds of sound
// behind the first pictures).
struct SoundGaps {
    uint64_t largest = 0, largestLater = 0;
};
SoundGaps learnLargestSoundGaps(const MovieFile& movie, const MovieTrack* video) {
    SoundGaps out;
    if (!video)
        return out;
    std::vector<std::pair<uint64_t, uint64_t>> chunks;  // offset, sound bytes (video: UINT64_MAX)
    for (uint64_t offset : video->m_chunkOffsets)
        chunks.emplace_back(offset, UINT64_MAX);
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        if (track.m_handlerType != kSoun)
            continue;
        forEachChunk(track, [&](uint32_t, uint64_t offset, uint64_t bytes, uint32_t) {
            chunks.emplace_back(offset, bytes);
        });
    }
    std::sort(chunks.begin(), chunks.end());
    uint64_t run = 0;
    size_t pictureChunks = 0;
    for (const auto& [offset, bytes] : chunks) {
        if (bytes == UINT64_MAX) {
            ++pictureChunks;
            run = 0;
            continue;
        }
        run += bytes;
        out.largest = std::max(out.largest, run);
        if (pictureChunks >= 2)
            out.largestLater = std::max(out.largestLater, run);
    }
    return out;
}

// The sound chunks of the first gap that holds any, merged per track run:
// in front of the first video chunk, or else between the first two.
std::vector<GapChunk> learnFirstGap(const MovieFile& movie, const MovieTrack* video) {
    std::vector<GapChunk> gap;
    if (!video || video->m_chunkOffsets.empty())
        return gap;
    std::vector<uint64_t> videoChunks(video->m_chunkOffsets.begin(), video->m_chunkOffsets.end());
    std::sort(videoChunks.begin(), videoChunks.end());
    // The gap is the one behind the video chunk the first sound follows: a
    // muxer may write two video chunks before any sound. A reference shorter
    // than two chunks of video still shows the sound in front of its first:
    // that is the gap to learn from, and only that.
    uint64_t firstSound = UINT64_MAX;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i)
        if (movie.m_tracks[i].m_handlerType == kSoun)
            for (uint64_t offset : movie.m_tracks[i].m_chunkOffsets)
                firstSound = std::min(firstSound, offset);
    size_t k = 0;
    while (k + 1 < videoChunks.size() && videoChunks[k + 1] < firstSound)
        ++k;
    const uint64_t from = videoChunks[k], to = k + 1 < videoChunks.size() ? videoChunks[k + 1] : from;
    struct Piece {
        uint64_t offset;
        int audioIndex;  // -1: another track
        uint64_t bytes;
        uint64_t samples;
        bool last;
    };
    std::vector<Piece> pieces;
    int audioIndex = 0;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        const int index = track.m_handlerType == kSoun ? audioIndex++ : -1;
        // A track of one chunk (a timecode) takes no part in the interleave.
        if (&track == video || track.m_handlerType == kHint || (index < 0 && track.m_chunkOffsets.size() < 2))
            continue;
        forEachChunk(track, [&](uint32_t chunk, uint64_t offset, uint64_t bytes, uint32_t n) {
            if (offset < to)
                pieces.push_back({offset, index, bytes, n, chunk == track.m_chunkOffsets.size()});
        });
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& x, const Piece& y) { return x.offset < y.offset; });
    const bool soundFirst = std::any_of(pieces.begin(), pieces.end(),
                                        [&](const Piece& p) { return p.offset < from && p.audioIndex >= 0; });
    for (const Piece& p : pieces) {
        if (soundFirst ? p.offset > from : p.offset < from)
            continue;
        // Captions or other metadata between the sound chunks take no part
        // in the sound's order.
        if (p.audioIndex < 0)
            continue;
        if (!gap.empty() && gap.back().audioIndex == p.audioIndex) {
            gap.back().bytes += p.bytes;
            gap.back().samples += p.samples;
            gap.back().open = p.last;
        } else {
            gap.push_back({p.audioIndex, p.bytes, p.samples, p.last});
        }
    }
    return gap;
}

// Did the muxer order the sound chunks by times on a clock of milliseconds?
// An encoder clock of milliseconds gives each packet a time rounded to one,
// which the muxer turns back into the track's own ticks: chunks of two
// tracks less than half a millisecond apart then follow each other in an
// order their true times contradict. Yes when the file order contradicts
// the true times and never the rounded ones (equal times: the lower track
// first).
bool learnMillisecondOrder(const MovieFile& movie) {
    struct Start {
        uint64_t offset;
        int track;
        int64_t ticks;  // the chunk's first sample, in the track's timescale
        int64_t scale;
    };
    std::vector<Start> starts;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        if (track.m_handlerType != kSoun || track.m_mediaTimescale == 0)
            continue;
        int64_t samples = 0;
        forEachChunk(track, [&](uint32_t, uint64_t offset, uint64_t, uint32_t n) {
            starts.push_back({offset, i, samples * int64_t(track.m_sampleDuration), int64_t(track.m_mediaTimescale)});
            samples += n;
        });
    }
    std::sort(starts.begin(), starts.end(), [](const Start& x, const Start& y) { return x.offset < y.offset; });
    auto onMilliseconds = [](const Start& s) {
        const int64_t ms = (2 * s.ticks * 1000 + s.scale) / (2 * s.scale);
        return Start{s.offset, s.track, (2 * ms * s.scale + 1000) / 2000, s.scale};
    };
    // Does b, written right behind a, come no earlier?
    auto inOrder = [](const Start& a, const Start& b) {
        const int64_t x = a.ticks * b.scale, y = b.ticks * a.scale;
        return x < y || (x == y && a.track < b.track);
    };
    size_t exact = 0, rounded = 0;
    for (size_t k = 1; k < starts.size(); ++k) {
        if (starts[k - 1].track == starts[k].track)
            continue;
        exact += inOrder(starts[k - 1], starts[k]) ? 0 : 1;
        rounded += inOrder(onMilliseconds(starts[k - 1]), onMilliseconds(starts[k])) ? 0 : 1;
    }
    return exact > 0 && rounded == 0;
}

// For each timed-metadata track, the one whose chunks start where more than
// half of its own chunks end.
void learnTouchingFollowers(const MovieFile& movie, std::vector<InterleaveTrack>& metadata) {
    std::map<uint64_t, int> starts;  // chunk offset -> metadata track
    for (size_t m = 0; m < metadata.size(); ++m)
        for (uint64_t offset : movie.m_tracks[metadata[m].trackIndex].m_chunkOffsets)
            starts.emplace(offset, int(m));
    for (size_t m = 0; m < metadata.size(); ++m) {
        const MovieTrack& track = movie.m_tracks[metadata[m].trackIndex];
        std::vector<size_t> touching(metadata.size(), 0);
        size_t counted = 0;
        forEachChunk(track, [&](uint32_t, uint64_t offset, uint64_t bytes, uint32_t) {
            ++counted;
            const auto next = starts.find(offset + bytes);
            if (next != starts.end() && next->second != int(m))
                ++touching[size_t(next->second)];
        });
        for (size_t u = 0; u < metadata.size(); ++u)
            if (2 * touching[u] > counted)
                metadata[m].touchingFollower = int(u);
    }
}

// Is the track's last sample an empty caption (a bare 2-byte length) that
// lies behind the last chunk of every other track?
bool learnEndsAtPictures(const MovieTrack& track, const MovieTrack* video) {
    if (!video || video->m_chunkOffsets.empty() || track.m_chunkOffsets.empty())
        return false;
    std::vector<uint64_t> pictures(video->m_chunkOffsets.begin(), video->m_chunkOffsets.end());
    std::sort(pictures.begin(), pictures.end());
    SamplesPerChunkCursor chunks(track);
    uint64_t sample = 1;
    for (uint32_t chunk = 1; chunk <= track.m_chunkOffsets.size() && sample <= track.m_sampleCount; ++chunk) {
        const uint32_t n = chunks.samplesPerChunk(chunk);
        if (n == 0)
            return false;
        uint64_t end = track.m_chunkOffsets[chunk - 1];
        for (uint32_t i = 0; i < n && sample <= track.m_sampleCount; ++i, ++sample)
            end += QTGetSampleSize(&track, uint32_t(sample));
        // The closing empty cue lies behind everything.
        if (sample > track.m_sampleCount && chunk == track.m_chunkOffsets.size())
            break;
        if (!std::binary_search(pictures.begin(), pictures.end(), end))
            return false;
    }
    return true;
}

bool learnClosesMediaData(const MovieFile& movie, int trackIndex) {
    const MovieTrack& track = movie.m_tracks[trackIndex];
    if (track.m_fixedSampleSize != 0 || track.m_sampleCount == 0 ||
        track.m_sampleSizes.size() != track.m_sampleCount || track.m_sampleSizes.back() != 2)
        return false;
    SampleOffsetCursor offsets(track);
    const uint64_t last = offsets.offset(track.m_sampleCount);
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& other = movie.m_tracks[i];
        if (i != trackIndex && other.m_sampleCount > 0 && !other.m_chunkOffsets.empty() &&
            other.m_chunkOffsets.back() >= last)
            return false;
    }
    return last > 0;
}

}  // namespace

void ReferenceInterleaveCycle::learn(const MovieFile& movie) {
    m_firstGap.clear();
    m_audio.clear();
    m_metadata.clear();
    m_singleSamples.clear();
    m_oneChunkPerGap = false;
    m_chunksShareTime = false;
    m_largestSoundGap = 0;
    m_largestLaterSoundGap = 0;
    m_setAsideChunkBytes = 0;
    m_millisecondOrder = false;
    platform::File file;
    const bool readable = file.open(movie.m_fileName, platform::File::Mode::Read);
    int audioIndex = 0;
    const MovieTrack* video = nullptr;
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks && !video; ++i)
        if (movie.m_tracks[i].m_handlerType == kVide)
            video = &movie.m_tracks[i];
    for (int i = 0; i < movie.m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& track = movie.m_tracks[i];
        const bool sound = track.m_handlerType == kSoun;
        const int index = sound ? audioIndex++ : -1;
        if (track.m_handlerType == kVide || track.m_sampleCount == 0 || track.m_chunkOffsets.empty())
            continue;
        if (track.m_handlerType == kSetAsideSoundHandler) {
            m_setAsideChunkBytes += learnTrack(track, -1, false).maxChunkBytes;
        } else if (sound) {
            m_audio.push_back(learnTrack(track, index, false));
            m_audio.back().trackIndex = i;
            if (readable)
                learnHeads(file, track, m_audio.back());
        } else if (track.m_handlerType != kHint && track.m_chunkOffsets.size() == 1 && track.m_sampleCount == 1) {
            if (video && !video->m_chunkOffsets.empty() && track.m_chunkOffsets[0] > video->m_chunkOffsets[0] &&
                track.m_chunkOffsets[0] < video->m_chunkOffsets[video->m_chunkOffsets.size() - 1]) {
                m_singleSamples.push_back(learnTrack(track, -1, true));
                m_singleSamples.back().trackIndex = i;
                if (readable)
                    learnHeads(file, track, m_singleSamples.back(), true);
            }
        } else if (track.m_handlerType != kHint && track.m_chunkOffsets.size() > 1) {
            // A track of one chunk (a timecode track's single sample) takes
            // no part in the interleave.
            m_metadata.push_back(learnTrack(track, -1, true));
            m_metadata.back().trackIndex = i;
            if (video)
                m_metadata.back().chunkLagSeconds = learnChunkLag(*video, track);
            if (track.m_codec == makeFourcc("tx3g") || track.m_codec == makeFourcc("text")) {
                learnCueDurations(track, m_metadata.back());
                m_metadata.back().closesMediaData = learnClosesMediaData(movie, i);
                m_metadata.back().endsAtPictures = learnEndsAtPictures(track, video);
            }
            if (readable) {
                learnBoxKeys(file, track, m_metadata.back());
                learnHeads(file, track, m_metadata.back(), true);
            }
        }
    }
    learnTouchingFollowers(movie, m_metadata);
    m_oneChunkPerGap = learnOneChunkPerGap(movie, video);
    m_chunksShareTime = learnChunksShareTime(movie, video);
    const SoundGaps gaps = learnLargestSoundGaps(movie, video);
    m_largestSoundGap = gaps.largest;
    m_largestLaterSoundGap = gaps.largestLater;
    m_millisecondOrder = m_audio.size() > 1 && learnMillisecondOrder(movie);
    if (m_audio.size() > 1)
        m_firstGap = learnFirstGap(movie, video);
}
