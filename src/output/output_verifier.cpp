#include "output/output_verifier.h"

#include "log/logger.h"
#include "output/sample_collection.h"
#include "platform/file.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"
#include "reference/track_table_cursor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// Unreadable samples listed one by one; the rest are only counted.
constexpr int kMaxListedInvalidSamples = 10;
// Video and audio of one recording may differ by a few frames or audio
// blocks; beyond half a second the player visibly loses lip sync.
constexpr int64_t kMaxDurationDiffMs = 500;
// stts may round each sample's duration; a difference below this is noise.
constexpr uint64_t kMaxTimingSlack = 2;

const Fourcc kVide = makeFourcc("vide");
const Fourcc kSoun = makeFourcc("soun");

bool isMediaTrack(const MovieTrack& t) { return t.m_handlerType == kVide || t.m_handlerType == kSoun; }

int64_t durationMs(const MovieTrack& t) {
    return int64_t(std::llround(double(t.m_mediaDuration) * 1000.0 / double(t.m_mediaTimescale)));
}

// Counts readable samples and lists the first unreadable ones. Works per
// chunk for fixed-size (PCM) tracks, whose sample counts run into the
// hundreds of millions, and never walks past the listed sizes of the others,
// so a lying sample count costs nothing.
class ReadabilityCheck {
public:
    ReadabilityCheck(int64_t fileSize, OutputVerifyResult& result) : m_fileSize(uint64_t(fileSize)), m_result(result) {}

    void track(int index, const MovieTrack& track) {
        const uint64_t count = track.m_sampleCount;
        uint64_t placed = 0;
        if (track.m_fixedSampleSize != 0)
            placed = fixedSizeSamples(index, track, count);
        else
            placed = listedSamples(index, track, count);
        // Samples the tables cannot place (offset 0, size unknown).
        if (placed < count) {
            m_result.totalSamples += count - placed;
            for (uint64_t n = placed + 1; n <= count && m_listed < kMaxListedInvalidSamples; ++n)
                invalid(index, n, 0, track.m_fixedSampleSize);
        }
    }

private:
    bool fits(uint64_t offset, uint64_t size) const {
        return size > 0 && offset != 0 && offset <= m_fileSize && size <= m_fileSize - offset;
    }

    void invalid(int track, uint64_t sample, uint64_t offset, uint64_t size) {
        if (m_listed++ < kMaxListedInvalidSamples)
            FLOG(LogLevel::Warning) << "verify output invalid sample: track=" << track << " sample=" << sample
                                    << " ofs=" << offset << " size=" << size << " file_size=" << m_fileSize;
    }

    uint64_t listedSamples(int index, const MovieTrack& track, uint64_t count) {
        const uint64_t listed = std::min<uint64_t>(count, track.m_sampleSizes.size());
        SampleOffsetCursor offsets(track);
        for (uint64_t n = 1; n <= listed; ++n) {
            const uint32_t size = track.m_sampleSizes[size_t(n - 1)];
            const uint64_t offset = offsets.offset(uint32_t(n));
            ++m_result.totalSamples;
            if (fits(offset, size))
                ++m_result.readableSamples;
            else
                invalid(index, n, offset, size);
        }
        return listed;
    }

    uint64_t fixedSizeSamples(int index, const MovieTrack& track, uint64_t count) {
        const uint64_t size = track.m_fixedSampleSize;
        SamplesPerChunkCursor perChunk(track);
        uint64_t first = 1;
        for (uint64_t chunk = 1; chunk <= track.m_chunkOffsets.size() && first <= count; ++chunk) {
            const uint64_t k = std::min<uint64_t>(perChunk.samplesPerChunk(uint32_t(chunk)), count - first + 1);
            if (k == 0)
                break;
            const uint64_t start = track.m_chunkOffsets[size_t(chunk - 1)];
            // Samples of a chunk are contiguous: the first `good` fit.
            uint64_t good = 0;
            if (start != 0 && start <= m_fileSize)
                good = std::min(k, (m_fileSize - start) / size);
            m_result.totalSamples += k;
            m_result.readableSamples += good;
            for (uint64_t i = good; i < k && m_listed < kMaxListedInvalidSamples; ++i)
                invalid(index, first + i, start ? start + i * size : 0, size);
            first += k;
        }
        return first - 1;
    }

    uint64_t m_fileSize;
    OutputVerifyResult& m_result;
    int m_listed = 0;
};

void checkReadability(const MovieFile& movie, int64_t fileSize, OutputVerifyResult& result) {
    ReadabilityCheck check(fileSize, result);
    for (int i = 0; i < movie.m_trackCount; ++i)
        if (isMediaTrack(movie.m_tracks[i]))
            check.track(i, movie.m_tracks[i]);
}

class FormatComparison {
public:
    template <typename T>
    void item(const char* name, const T& ref, const T& out) {
        ++m_compared;
        if (ref == out) {
            ++m_preserved;
            return;
        }
        FLOG(LogLevel::Warning) << "verify output format warning: " << name << " differs ref=" << ref << " out=" << out;
    }
    // Parameter sets of one kind: each reference set must be at the same
    // position in the output.
    void sets(const char* label, const std::vector<std::vector<uint8_t>>& ref,
              const std::vector<std::vector<uint8_t>>& out) {
        ++m_compared;
        size_t matched = 0;
        for (size_t i = 0; i < std::min(ref.size(), out.size()); ++i)
            matched += ref[i] == out[i];
        if (matched == ref.size() && ref.size() == out.size()) {
            ++m_preserved;
            return;
        }
        FLOG(LogLevel::Warning) << "verify output format warning: " << label << " differs ref=" << ref.size()
                                << " out_match=" << matched;
    }
    uint32_t compared() const { return m_compared; }
    uint32_t preserved() const { return m_preserved; }

private:
    uint32_t m_compared = 0;
    uint32_t m_preserved = 0;
};

using Sets = std::vector<std::vector<uint8_t>>;

Sets avcSets(const H264Config& c, bool pps) {
    Sets sets;
    const int n = pps ? c.ppsCount() : std::min(c.spsCount(), kMaxParameterSets);
    for (int i = 0; i < n; ++i) {
        const uint8_t* p = pps ? c.m_pps[i] : c.m_sps[i];
        const size_t len = pps ? std::min<size_t>(c.m_ppsLength[i], kMaxPpsBytes)
                               : std::min<size_t>(c.m_spsLength[i], kMaxSpsBytes);
        sets.emplace_back(p, p + len);
    }
    return sets;
}

Sets hevcSets(const HEVCConfig& c, int nalType) {
    Sets sets;
    for (int a = 0; a < std::min<int>(c.m_arrayCount, kMaxHevcArrays); ++a) {
        const HEVCNalArray& array = c.m_arrays[a];
        if ((array.m_nalType & 0x3F) != nalType)
            continue;
        for (int n = 0; n < std::min<int>(array.m_nalCount, kMaxHevcNalus); ++n) {
            const size_t len = std::min<size_t>(array.m_nalLength[n], array.m_nal[n].size());
            sets.emplace_back(array.m_nal[n].data(), array.m_nal[n].data() + len);
        }
    }
    return sets;
}

void compareFormat(const MovieFile& ref, const MovieFile& out, OutputVerifyResult& result) {
    FormatComparison cmp;
    const MovieTrack* rv = ref.m_videoTrack;
    const MovieTrack* ov = out.m_videoTrack;
    cmp.item("video track presence", int(rv != nullptr), int(ov != nullptr));
    if (rv && ov) {
        cmp.item("video codec", fourccString(rv->m_codec), fourccString(ov->m_codec));
        cmp.item("video width", rv->m_width, ov->m_width);
        cmp.item("video height", rv->m_height, ov->m_height);
        cmp.item("video media timescale", rv->m_mediaTimescale, ov->m_mediaTimescale);
        cmp.item("video sample duration", rv->m_sampleDuration, ov->m_sampleDuration);
        if (rv->m_codec == makeFourcc("avc1") && ov->m_codec == makeFourcc("avc1")) {
            cmp.sets("avcC SPS", avcSets(rv->m_avc, false), avcSets(ov->m_avc, false));
            cmp.sets("avcC PPS", avcSets(rv->m_avc, true), avcSets(ov->m_avc, true));
        } else if (rv->m_codec == makeFourcc("hvc1") && ov->m_codec == makeFourcc("hvc1")) {
            cmp.sets("hvcC VPS", hevcSets(rv->m_hevc, 32), hevcSets(ov->m_hevc, 32));
            cmp.sets("hvcC SPS", hevcSets(rv->m_hevc, 33), hevcSets(ov->m_hevc, 33));
            cmp.sets("hvcC PPS", hevcSets(rv->m_hevc, 34), hevcSets(ov->m_hevc, 34));
        }
    }
    cmp.item("audio track count", ref.m_audioTrackCount, out.m_audioTrackCount);
    for (int i = 0; i < std::min(ref.m_audioTrackCount, out.m_audioTrackCount); ++i) {
        const MovieTrack& ra = *ref.m_audioTracks[i];
        const MovieTrack& oa = *out.m_audioTracks[i];
        cmp.item("audio codec", fourccString(ra.m_codec), fourccString(oa.m_codec));
        cmp.item("audio channels", ra.m_audioChannels, oa.m_audioChannels);
        cmp.item("audio sample rate", ra.m_audioSampleRate, oa.m_audioSampleRate);
        cmp.item("audio sample bits", ra.m_audioSampleSize, oa.m_audioSampleSize);
        cmp.item("audio fixed sample size", ra.m_fixedSampleSize, oa.m_fixedSampleSize);
        if (ra.m_codec == makeFourcc("lpcm") || oa.m_codec == makeFourcc("lpcm")) {
            cmp.item("audio lpcm endian", ra.m_endianness, oa.m_endianness);
            cmp.item("audio lpcm flags", ra.m_lpcmFlags, oa.m_lpcmFlags);
        }
    }
    result.formatCompared = cmp.compared();
    result.formatPreserved = cmp.preserved();
    FLOG(LogLevel::Notice) << "verify output format: "
                           << (cmp.compared() == cmp.preserved() ? "passed" : "warning")
                           << " preserved=" << cmp.preserved() << "/" << cmp.compared();
}

void checkTiming(const MovieFile& movie, OutputVerifyResult& result) {
    uint32_t checks = 0, passed = 0;
    auto count = [&](bool ok) {
        ++checks;
        passed += ok;
        return ok;
    };
    for (int i = 0; i < movie.m_trackCount; ++i) {
        const MovieTrack& t = movie.m_tracks[i];
        if (!isMediaTrack(t))
            continue;
        uint64_t sttsSamples = 0, sttsDuration = 0;
        for (const TimeToSampleEntry& e : t.m_timeToSample) {
            sttsSamples += e.m_sampleCount;
            sttsDuration += uint64_t(e.m_sampleCount) * e.m_duration;
        }
        const bool sttsCountOk = t.m_timeToSample.empty() ? t.m_sampleCount == 0 : sttsSamples == t.m_sampleCount;
        if (!count(sttsCountOk))
            FLOG(LogLevel::Warning) << "verify output timing warning: stts sample count mismatch track=" << i
                                    << " stts=" << sttsSamples << " samples=" << t.m_sampleCount;
        const uint64_t diff = sttsDuration > t.m_mediaDuration ? sttsDuration - t.m_mediaDuration
                                                               : t.m_mediaDuration - sttsDuration;
        if (!count(diff < kMaxTimingSlack))
            FLOG(LogLevel::Warning) << "verify output timing warning: stts duration mismatch track=" << i
                                    << " stts_duration=" << sttsDuration << " media_duration=" << t.m_mediaDuration;
        if (!t.m_compositionOffsets.empty()) {
            uint64_t cttsSamples = 0;
            for (const CompositionOffsetEntry& e : t.m_compositionOffsets)
                cttsSamples += e.m_sampleCount;
            if (!count(cttsSamples == t.m_sampleCount))
                FLOG(LogLevel::Warning) << "verify output timing warning: ctts sample count mismatch track=" << i
                                        << " ctts=" << cttsSamples << " samples=" << t.m_sampleCount;
        }
        size_t entry = 0;
        for (const TimeToSampleEntry& e : t.m_timeToSample) {
            ++entry;
            if (!count(e.m_sampleCount != 0 && e.m_duration != 0))
                FLOG(LogLevel::Warning) << "verify output timing warning: empty stts entry track=" << i
                                        << " entry=" << entry;
        }
    }
    result.timingChecks = checks;
    result.timingPassed = passed;
    FLOG(LogLevel::Notice) << "verify output timing: " << (checks == passed ? "passed" : "warning")
                           << " checks=" << passed << "/" << checks;
}

}  // namespace

OutputVerifyResult verifyOutput(RepairState& state) {
    OutputVerifyResult result;
    if (state.m_outputBase.empty()) {
        FLOG(LogLevel::Notice) << "verify output container: skipped (no output file)";
        return result;
    }
    if (state.m_lastWrittenName.empty()) {
        FLOG(LogLevel::Notice) << "verify output container: skipped (no written output file)";
        return result;
    }
    // The moov is written when the movie is closed.
    if (state.m_outputMovie)
        reset_clip(state, false);
    const std::string name = state.m_lastWrittenName;
    int64_t fileSize = -1;
    {
        platform::File file;
        if (file.open(name, platform::File::Mode::Read))
            fileSize = file.size();
    }
    if (fileSize <= 0) {
        FLOG(LogLevel::Warning) << "verify output container: failed file=" << name << " reason=empty_or_unreadable";
        return result;
    }
    MovieFile* movie = QTOpen(name, 0, true);
    if (!movie) {
        FLOG(LogLevel::Warning) << "verify output container: failed file=" << name << " reason=parse_failed";
        return result;
    }
    result.checked = true;

    int64_t videoMs = 0, audioMs = 0;
    for (int i = 0; i < movie->m_trackCount; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (!isMediaTrack(t) || t.m_mediaTimescale == 0)
            continue;
        if (t.m_handlerType == kVide && &t == movie->m_videoTrack)
            videoMs = durationMs(t);
        else if (t.m_handlerType == kSoun)
            audioMs = std::max(audioMs, durationMs(t));
    }
    checkReadability(*movie, fileSize, result);
    result.containerPassed = result.readableSamples == result.totalSamples;
    FLOG(LogLevel::Notice) << "verify output container: " << (result.containerPassed ? "passed" : "failed")
                           << " file=" << name;
    FLOG(LogLevel::Notice) << "verify output samples readable: " << result.readableSamples << " of "
                           << result.totalSamples;

    const ReferenceInfo* reference = state.m_reference.get();
    if (reference && reference->movie())
        compareFormat(*reference->movie(), *movie, result);
    else
        FLOG(LogLevel::Notice) << "verify output format: skipped (no reference)";

    checkTiming(*movie, result);

    result.videoMs = videoMs;
    result.audioMs = audioMs;
    const int64_t diff = std::llabs(videoMs - audioMs);
    FLOG(LogLevel::Notice) << "verify output duration: video=" << videoMs << "ms audio=" << audioMs
                           << "ms diff=" << diff << "ms";
    if (videoMs > 0 && audioMs > 0 && diff > kMaxDurationDiffMs)
        FLOG(LogLevel::Warning) << "verify output duration warning: video/audio diff exceeds 500ms";
    QTClose(movie);
    FLOG(LogLevel::Notice) << "verify output complete";
    return result;
}
