#include "output/sample_collection.h"

#include "scan/scan_buffer.h"
#include "log/logger.h"
#include "output/payload_precopy.h"
#include "platform/file.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

// A sample can never be as large as the file it sits in. The size is taken
// as signed and compared unsigned, so negative sizes fail as well.
bool sizeFits(int32_t size, int64_t bound) {
    return uint64_t(int64_t(size)) < uint64_t(bound < 0 ? 0 : bound);
}

// Appends one sample after the size check; `who` names the operation in the
// log. A scan of a huge input must not end in an exception: a sample that
// cannot be stored is reported and dropped, and the scan goes on.
bool append(RepairState& state, int64_t bound, const char* who, int64_t offset, int32_t size, SampleKind kind,
            int32_t extra) {
    if (!sizeFits(size, bound)) {
        FLOG(LogLevel::Error) << who << ": invalid size (" << size << ")";
        return false;
    }
    MediaSample sample;
    sample.offset = offset;
    sample.size = size;
    sample.kind = kind;
    sample.extra = extra;
    if (!state.m_samples.push_back(sample)) {
        FLOG(LogLevel::Error) << who << ": out of memory";
        return false;
    }
    return true;
}

bool appendVideo(RepairState& state, int64_t bound, int64_t offset, int32_t size, int32_t compositionOffset) {
    FLOG(LogLevel::Debug) << "add_video_samples";
    if (!append(state, bound, "add_video_samples", offset, size, SampleKind::Video,
                state.m_ignoreCompositionOffsets ? 0 : compositionOffset))
        return false;
    state.m_totalVideoSize += uint64_t(size);
    return true;
}

bool appendAudio(RepairState& state, int64_t bound, int64_t offset, int32_t size, int32_t audioWord) {
    if (!append(state, bound, "addAudioSample", offset, size, SampleKind::Audio, audioWord))
        return false;
    state.m_totalAudioSize += uint64_t(size);
    return true;
}

}  // namespace

bool add_video_samples(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size,
                       int32_t compositionOffset) {
    return appendVideo(state, reader.fileSize(), offset, size, compositionOffset);
}

bool addAudioSample(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size, int32_t audioWord) {
    return appendAudio(state, reader.fileSize(), offset, size, audioWord);
}

bool addMetaSample(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size, int32_t metaTrack) {
    return append(state, reader.fileSize(), "addMetaSample", offset, size, SampleKind::Meta, metaTrack);
}

size_t removeLastAudioSamples(RepairState& state, size_t count) {
    size_t removed = 0;
    MediaSample sample;
    while (removed < count && state.m_samples.removeLast(SampleKind::Audio, &sample)) {
        state.m_totalAudioSize -= std::min(uint64_t(sample.size), state.m_totalAudioSize);
        ++removed;
    }
    return removed;
}

void printTotals(const RepairState& state) {
    FLOG(LogLevel::Info) << "total video size: " << state.m_totalVideoSize;
    FLOG(LogLevel::Info) << "total audio size: " << state.m_totalAudioSize;
}

void reset_clip(RepairState& state, bool startNewList) {
    FLOG(LogLevel::Debug) << "reset_clip";
    state.m_precopy.reset();
    if (state.m_outputMovie) {
        printTotals(state);
        QTClose(state.m_outputMovie);
        state.m_outputMovie = nullptr;
        ++state.m_clipNumber;
    }
    // The first clip goes to the name the user gave; only a recording split
    // into several clips (-nfd) gets numbered names for the later ones.
    state.m_outputName.clear();
    if (!state.m_outputBase.empty()) {
        if (state.m_clipNumber == 0)
            state.m_outputName = state.m_requestedOutputName;
        else if (state.m_outputBase == state.m_outputExtension)  // no dot in the name
            state.m_outputName = state.m_outputBase + "_" + std::to_string(state.m_clipNumber);
        else
            state.m_outputName =
                state.m_outputBase + "_" + std::to_string(state.m_clipNumber) + "." + state.m_outputExtension;
    }
    state.m_totalVideoSize = 0;
    state.m_totalAudioSize = 0;
    if (startNewList)
        state.m_samples.clear();
}

void nextClip(RepairState& state) {
    reset_clip(state, true);
    FLOG(LogLevel::Info) << "next clip: " << state.m_outputName;
}

void importReferenceSamples(RepairState& state) {
    FLOG(LogLevel::Notice) << "importing reffile samples...";
    state.m_samplesFromReference = true;
    const ReferenceInfo* reference = state.m_reference.get();
    // The import runs outside a scan: the reference's own samples are
    // checked against the size of the file they come from.
    int64_t bound = std::numeric_limits<int64_t>::max();
    if (reference && reference->movie()) {
        const int64_t size = platform::fileSize(reference->movie()->m_fileName);
        if (size > 0)
            bound = size;
    }
    const size_t videoCount = reference ? reference->videoSamples().size() : 0;
    FLOG(LogLevel::Notice) << "importing video samples: " << videoCount;
    // The reference's sync sample table says which of its pictures are
    // random-access points (no table: all of them, as for any other track
    // whose pictures nobody looked at).
    const MovieTrack* track = reference ? reference->videoTrack() : nullptr;
    const bool syncKnown = track && track->m_syncKnown;
    size_t nextSync = 0;
    uint32_t number = 0;
    if (reference)
        for (const MediaSample& s : reference->videoSamples()) {
            ++number;
            if (!appendVideo(state, bound, s.offset, s.size, s.extra) || !syncKnown)
                continue;
            while (nextSync < track->m_syncSamples.size() && track->m_syncSamples[nextSync] < number)
                ++nextSync;
            const bool sync = nextSync < track->m_syncSamples.size() && track->m_syncSamples[nextSync] == number;
            state.m_samples.setSync(state.m_samples.size() - 1, sync ? SyncState::Sync : SyncState::NotSync);
        }
    const size_t audioCount = reference ? reference->audioSamples().size() : 0;
    FLOG(LogLevel::Notice) << "importing audio samples: " << audioCount;
    if (reference)
        for (const MediaSample& s : reference->audioSamples())
            appendAudio(state, bound, s.offset, s.size, s.extra);
}
