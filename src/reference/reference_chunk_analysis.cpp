#include "reference/reference_chunk_analysis.h"

#include "log/logger.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/config_bytes.h"
#include "reference/hex_text.h"
#include "reference/reference_info.h"
#include "reference/track_table_cursor.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace {

// The chunk after the last one of the file: no real offset lies beyond it.
constexpr uint64_t kOpenEnd = uint64_t(std::numeric_limits<int64_t>::max());
// Bytes shown of each end of a chunk and the start of a video sample.
constexpr size_t kChunkEdgeBytes = 8;
constexpr size_t kSampleHeadBytes = 32;
constexpr size_t kSampleTailBytes = 8;
// More than this in front of the first chunk is not a few left-out frames.
constexpr uint64_t kMaxUnlistedLead = 65536;
// A record in front of every chunk is a few bytes; alignment to sectors
// would give gaps of all lengths. It must stand between this many chunks at
// least, and all but one in this many.
constexpr int64_t kMaxChunkPad = 64;
constexpr uint64_t kMinChunkPads = 8;
constexpr uint64_t kPadExceptions = 20;
// The bytes of so many of them are read.
constexpr uint64_t kPadsRead = 256;

const Fourcc kVide = makeFourcc("vide");
const Fourcc kSoun = makeFourcc("soun");

// Per-track walk state: the next chunk and sample to take.
struct TrackWalk {
    MovieTrack* track = nullptr;
    uint32_t nextChunk = 1;
    uint64_t nextSample = 1;
    std::unique_ptr<SamplesPerChunkCursor> perChunk;
    std::unique_ptr<CompositionOffsetCursor> composition;

    bool hasChunk() const { return nextChunk <= track->m_chunkOffsets.size(); }
    uint64_t chunkOffset() const { return track->m_chunkOffsets[nextChunk - 1]; }
};

// Which walk holds the chunk with the lowest offset; -1 when none has chunks
// left. Equal offsets go to the lower track index.
int nextChunkOwner(const std::vector<TrackWalk>& walks) {
    int best = -1;
    for (size_t i = 0; i < walks.size(); ++i) {
        if (!walks[i].hasChunk())
            continue;
        if (best < 0 || walks[i].chunkOffset() < walks[size_t(best)].chunkOffset())
            best = int(i);
    }
    return best;
}

std::string text(Fourcc f) {
    return f == 0 ? std::string() : fourccString(f);
}

}  // namespace

std::string ReferenceChunkAnalysis::hexAt(uint64_t offset, size_t count) {
    uint8_t buffer[kSampleHeadBytes];
    if (count > sizeof(buffer) || offset > kOpenEnd)
        return std::string();
    const size_t got = m_file.readAt(int64_t(offset), buffer, count);
    return hexText(buffer, got);
}

void ReferenceChunkAnalysis::notePadBytes(uint64_t offset, size_t count, std::vector<int16_t>& bytes) {
    uint8_t buffer[kMaxChunkPad];
    if (count > sizeof(buffer) || offset > kOpenEnd || m_file.readAt(int64_t(offset), buffer, count) != count)
        return;
    const bool first = bytes.empty();
    bytes.resize(count, -1);
    for (size_t i = 0; i < count; ++i)
        if (first)
            bytes[i] = buffer[i];
        else if (bytes[i] != buffer[i])
            bytes[i] = -1;
}

void ReferenceChunkAnalysis::run() {
    FLOG(LogLevel::Notice) << "---------reffile analyse (chunks)----------";
    MovieFile* movie = m_info.movie();
    if (!movie)
        return;
    if (!m_file.open(m_info.movieParameters().m_fileName, platform::File::Mode::Read)) {
        FLOG(LogLevel::Error) << "error opening reffile";
        return;
    }
    FLOG(LogLevel::Info) << "trkcount=" << movie->m_trackCount;

    const int trackCount = movie->m_trackCount < kMaxTracks ? movie->m_trackCount : kMaxTracks;
    std::vector<TrackWalk> walks(size_t(trackCount > 0 ? trackCount : 0));
    for (size_t i = 0; i < walks.size(); ++i) {
        walks[i].track = &movie->m_tracks[i];
        walks[i].perChunk.reset(new SamplesPerChunkCursor(*walks[i].track));
        walks[i].composition.reset(new CompositionOffsetCursor(*walks[i].track));
    }

    ReferenceChunkLayout& layout = m_info.layout();
    AudioParameters& audio = m_info.audio();
    const VideoParameters& video = m_info.video();
    const bool feedSequences = logEnabled(LogLevel::Debug) && (video.m_class == "avc1" || video.m_class == "hvc1");
    const uint32_t audioTracks = audio.m_audioTracks;

    bool videoChunkSeen = false;
    bool videoGapSeen = false;
    uint32_t audioRun = 0;         // audio chunks counted in the current cycle
    uint64_t audioRunBytes = 0;    // their bytes
    uint64_t audioRunBytesMax = 0;
    bool audioChunkSeen = false;
    uint64_t lastAudioChunk = 0;   // where the last audio chunk starts
    uint32_t cycleSeen = 0;        // bit per track seen since the cycle began
    uint64_t cycleBytes = 0;
    uint64_t firstChunk = kOpenEnd;  // where the media data's first chunk starts
    bool leadOfSingles = true;       // only single-chunk tracks so far
    // The bytes between one chunk and the next: the first such gap, and how
    // many gaps were that long or not.
    int64_t pad = -1;
    uint64_t padsAlike = 0, padsOther = 0;

    for (int owner = nextChunkOwner(walks); owner >= 0;) {
        TrackWalk& walk = walks[size_t(owner)];
        MovieTrack& track = *walk.track;
        const uint32_t chunkNumber = walk.nextChunk;
        const uint64_t start = walk.chunkOffset();
        ++walk.nextChunk;

        // The chunk may use the room up to the next chunk of any track.
        uint64_t limit = kOpenEnd;
        for (const TrackWalk& w : walks)
            if (w.hasChunk() && w.chunkOffset() > start && w.chunkOffset() < limit)
                limit = w.chunkOffset();

        const uint32_t perChunk = walk.perChunk->samplesPerChunk(chunkNumber);
        const bool isVideo = track.m_handlerType == kVide;
        const bool mainTrack = isVideo || track.m_handlerType == kSoun;
        if (firstChunk == kOpenEnd && mainTrack && movie->m_mdatOffset > 0 && start > movie->m_mdatOffset &&
            start - movie->m_mdatOffset <= kMaxUnlistedLead)
            layout.m_mediaDataUnlisted = uint32_t(start - movie->m_mdatOffset);
        firstChunk = std::min(firstChunk, start);
        if (!videoChunkSeen && !audioChunkSeen) {
            if (mainTrack && leadOfSingles && start - firstChunk <= std::numeric_limits<uint32_t>::max())
                layout.m_mediaDataLead = uint32_t(start - firstChunk);
            else if (!mainTrack && track.m_chunkOffsets.size() != 1)
                leadOfSingles = false;
        }
        uint64_t position = start;
        uint32_t taken = 0;
        uint64_t bytes = 0;
        const bool equalSizes = !isVideo && track.m_fixedSampleSize;
        if (equalSizes) {
            // PCM: hours of audio are hundreds of millions of equal samples;
            // count how many fit instead of walking them one by one.
            const uint64_t left = walk.nextSample <= track.m_sampleCount
                                      ? uint64_t(track.m_sampleCount) - walk.nextSample + 1
                                      : 0;
            uint64_t fit = std::min<uint64_t>(perChunk, left);
            fit = std::min<uint64_t>(fit, (limit - start) / track.m_fixedSampleSize);
            taken = uint32_t(fit);
            bytes = fit * track.m_fixedSampleSize;
            position = start + bytes;
        }
        for (uint32_t i = 0; i < perChunk && !equalSizes; ++i) {
            const uint64_t n = walk.nextSample + i;
            // Samples beyond the size table do not exist, however many the
            // sample-to-chunk table claims.
            if (n > track.m_sampleCount || position >= limit)
                break;
            const uint32_t size = QTGetSampleSize(&track, uint32_t(n));
            if (size > limit - position)
                break;
            if (isVideo) {
                if (logEnabled(LogLevel::Debug)) {
                    const uint32_t compositionOffset = walk.composition->compositionOffset(uint32_t(n));
                    const size_t head = size < kSampleHeadBytes ? size : kSampleHeadBytes;
                    const size_t tail = size < kSampleTailBytes ? size : kSampleTailBytes;
                    FLOG(LogLevel::Debug) << "SAMPLE  ofs " << position << ", sample " << n << ", size=" << size
                                          << ", compofs=" << compositionOffset << "  " << hexAt(position, head)
                                          << " - " << hexAt(position + size - tail, tail);
                }
                if (feedSequences)
                    m_info.bitstreamStats().analyseSample(m_file, position, size, video);
                if (size > layout.m_videoSampleSizeMax)
                    layout.m_videoSampleSizeMax = size;
                if (layout.m_videoSampleSizeMin == 0 || size < layout.m_videoSampleSizeMin)
                    layout.m_videoSampleSizeMin = size;
            }
            position += size;
            bytes += size;
            ++taken;
        }
        // Sample numbering follows the tables even where the walk stopped
        // early, so the next chunk starts with its own first sample.
        walk.nextSample += perChunk;

        // The last chunk of the file has no measurable gap.
        const bool gapKnown = limit != kOpenEnd;
        const int64_t gap = gapKnown ? int64_t(limit - position) : -1;
        // Only chunks whose samples all fit say what lies behind them.
        if (gap >= 0 && taken == perChunk) {
            if (pad < 0)
                pad = gap;
            (gap == pad ? padsAlike : padsOther) += 1;
            if (gap == pad && pad > 0 && pad <= kMaxChunkPad && padsAlike <= kPadsRead)
                notePadBytes(position, size_t(pad), layout.m_chunkPadBytes);
        }

        // Interleave cycle: it ends when the next chunk belongs to a track
        // that already had a chunk in it, other than this one.
        cycleSeen |= 1u << owner;
        cycleBytes += bytes;
        const int next = nextChunkOwner(walks);
        uint64_t cycleTotal = 0;
        if (next >= 0 && next != owner && (cycleSeen & (1u << next))) {
            cycleTotal = cycleBytes;
            cycleSeen = 0;
            cycleBytes = 0;
        }

        if (track.m_handlerType == kSoun) {
            if (audioRun == audioTracks) {
                audioRun = 0;
                audioRunBytes = 0;
                layout.m_audioChunksStopGap = 0;
            }
            if (audioRun < audioTracks) {
                layout.m_audioChunkSize = uint32_t(bytes);
                if (layout.m_audioChunksStopGap == 0 && gap >= 0)
                    layout.m_audioChunksStopGap = uint32_t(gap);
                layout.m_audioSamplesPerChunk = taken;
                audioRunBytes += bytes;
                if (audioRunBytes > audioRunBytesMax)
                    audioRunBytesMax = audioRunBytes;
                ++audioRun;
            }
            audioChunkSeen = true;
            lastAudioChunk = start;
        } else if (isVideo) {
            if (!videoChunkSeen)
                layout.m_videoSamplesPerChunk = taken;
            videoChunkSeen = true;
            if (!videoGapSeen && gap >= 0) {
                layout.m_videoChunksStopGap = uint32_t(gap);
                videoGapSeen = true;
            }
        }

        if (logEnabled(LogLevel::Info)) {
            char numbers[256];
            std::snprintf(numbers, sizeof(numbers),
                          "CHUNK  start=%10llu  stop=%10llu  scnt=%6u  ssz=%8llu  avail=%8llu  stopgap=%8lld  "
                          "alltrksz=%8llu  track=%d (%s)  ",
                          (unsigned long long)start, (unsigned long long)limit, taken, (unsigned long long)bytes,
                          (unsigned long long)(limit - start), (long long)gap, (unsigned long long)cycleTotal, owner,
                          text(track.m_handlerType).c_str());
            const uint64_t tailStart = limit >= kChunkEdgeBytes ? limit - kChunkEdgeBytes : 0;
            FLOG(LogLevel::Info) << numbers << hexAt(start, kChunkEdgeBytes) << " - "
                                 << (gapKnown ? hexAt(tailStart, kChunkEdgeBytes) : std::string());
        }
        owner = next;
    }

    if (audioChunkSeen) {
        uint8_t first = 0;
        if (m_file.readAt(int64_t(lastAudioChunk), &first, 1) == 1)
            audio.m_audioDataStart = first;
    }
    m_file.close();
    layout.m_audioChunksSizeAll = audioRunBytesMax ? uint32_t(audioRunBytesMax) : kDefaultAudioChunksSizeAll;
    const bool padFixed = std::any_of(layout.m_chunkPadBytes.begin(), layout.m_chunkPadBytes.end(),
                                      [](int16_t b) { return b >= 0; });
    if (pad > 0 && pad <= kMaxChunkPad && padsAlike >= kMinChunkPads && padsOther * kPadExceptions <= padsAlike &&
        padFixed) {
        layout.m_chunkPad = uint32_t(pad);
        FLOG(LogLevel::Info) << "every chunk is followed by " << pad << " bytes of no track";
    } else {
        layout.m_chunkPadBytes.clear();
    }
    layout.m_fingerprint = fingerprint(m_info);
    FLOG(LogLevel::Notice) << "---------reffile analyse complete----------";
}

std::string ReferenceChunkAnalysis::fingerprint(const ReferenceInfo& info) {
    const VideoParameters& video = info.video();
    const std::vector<uint8_t> avc = avcConfigBytes(video.m_avc);
    const std::vector<uint8_t> hevc = hevcConfigBytes(video.m_hevc);
    std::string text = "v=1";
    text += "&vcls=" + video.m_class;
    text += "&vcod=" + video.m_codec;
    text += "&acod=" + info.audio().m_codec;
    text += "&vdim=" + std::to_string(video.m_width) + "," + std::to_string(video.m_height);
    text += "&esd=" + hexText(video.m_rawEsds.data(), video.m_rawEsds.size());
    text += "&avcc=" + hexText(avc.data(), avc.size());
    text += "&hvcc=" + hexText(hevc.data(), hevc.size());
    return text;
}
