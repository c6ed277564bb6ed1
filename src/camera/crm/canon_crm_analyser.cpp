#include "camera/crm/canon_crm_analyser.h"

#include "camera/crm/crm_sample_format.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

bool CanonCrmAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= int32_t(crm::kSampleHeaderBytes) && crm::isMarker(data);
}

int32_t CanonCrmAnalyser::findCandidate(int64_t, const uint8_t* data, int32_t count, int32_t available) {
    for (int32_t i = 0; i < count;) {
        const void* hit = std::memchr(data + i, crm::kSampleMarker[0], size_t(count - i));
        if (!hit)
            return count;
        i = int32_t(static_cast<const uint8_t*>(hit) - data);
        if (available - i >= int32_t(crm::kSampleHeaderBytes) && crm::isMarker(data + i))
            return i;
        ++i;
    }
    return count;
}

bool CanonCrmAnalyser::accepts() { return m_scanInfo && m_scanInfo->canonCrmMode; }

void CanonCrmAnalyser::prepare() {
    m_videoSampleIndex = m_videoChunkCount = m_audioRunCount = 0;
    m_audioStart = uint64_t(std::max<int64_t>(m_scanInfo->currentOffset, 0));
    m_repairState->m_layoutMode = 0;
    ReferenceInfo* ref = m_repairState->m_reference.get();
    if (ref) {
        const AudioParameters& audio = ref->audio();
        m_tracks = int32_t(std::max<uint32_t>(audio.m_audioTracks, 1));
        m_bytesPerSample = int32_t(std::max<uint32_t>(audio.m_sampleSize / 8 * std::max<uint32_t>(audio.m_channels, 1), 1));
        if (ref->isOpen() && ref->layout().m_audioChunksSizeAll == 0)
            ref->analyseChunks();
        m_refChunkPerTrack = int32_t(std::min<uint32_t>(ref->layout().m_audioChunkSize, INT32_MAX));
        m_refChunkAllTracks = int32_t(std::min<uint32_t>(ref->layout().m_audioChunksSizeAll, INT32_MAX));
    }
    FLOG(LogLevel::Notice) << "Canon CRM payload recovery enabled";
    FLOG(LogLevel::Notice) << "Canon CRM audio layout: tracks=" << m_tracks << " bytes_per_sample=" << m_bytesPerSample
                           << " ref_chunk_per_track=" << m_refChunkPerTrack
                           << " ref_chunk_all_tracks=" << m_refChunkAllTracks;
}

uint64_t CanonCrmAnalyser::perTrackLength(uint64_t length) const {
    if (m_tracks <= 1)
        return length;
    if (m_refChunkAllTracks > 0 && uint64_t(m_refChunkAllTracks) == length && m_refChunkPerTrack > 0)
        return uint64_t(m_refChunkPerTrack);
    if (length % uint64_t(m_tracks) != 0)
        return 0;
    const uint64_t share = length / uint64_t(m_tracks);
    if (m_bytesPerSample >= 2 && share % uint64_t(m_bytesPerSample) != 0)
        return 0;
    return share;
}

void CanonCrmAnalyser::addAudioRun(ScanBuffer& buffer, uint64_t offset, uint64_t length) {
    if (length < 1)
        return;
    const uint64_t share = perTrackLength(length);
    // One audio sample is at most a signed 32-bit size.
    if (share < 1 || share > uint64_t(INT32_MAX)) {
        FLOG(LogLevel::Warning) << "Canon CRM audio run not added: ofs=" << offset << " len=" << length
                                << " tracks=" << m_tracks << " bytes_per_sample=" << m_bytesPerSample;
        return;
    }
    if (length < share)
        return;
    uint64_t end = offset;
    for (int32_t t = 0; t < m_tracks; ++t) {
        if (t > 0 && end + share > offset + length)
            break;
        const int32_t word = m_tracks == 1 ? -1 : t;
        addAudioSample(*m_repairState, buffer, int64_t(end), int32_t(share), word);
        FLOG(LogLevel::Info) << "CanonCRM Audio_Run ofs=" << end << " len=" << share << " run=" << m_audioRunCount
                             << " track=" << t;
        end += share;
    }
    if (end == offset + length)
        ++m_audioRunCount;
    else
        FLOG(LogLevel::Warning) << "Canon CRM audio run has trailing bytes: ofs=" << end
                                << " remaining=" << offset + length - end;
}

uint64_t CanonCrmAnalyser::sampleAt(ScanBuffer& buffer, int64_t offset) const {
    // Through the window: a stretch full of false markers must not cost a
    // file read each.
    const uint8_t* header = buffer.get(offset, int32_t(crm::kSampleHeaderBytes));
    if (buffer.available() < int32_t(crm::kSampleHeaderBytes))
        return 0;
    return crm::validSampleBytes(header, uint64_t(offset), uint64_t(buffer.fileSize()));
}

bool CanonCrmAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    // A marker inside audio is only taken once its sample header holds up;
    // otherwise the gap in front of it would be recorded now and again at the
    // next real chunk.
    if (sampleAt(buffer, offset) == 0)
        return false;
    if (m_audioStart < uint64_t(offset))
        addAudioRun(buffer, m_audioStart, uint64_t(offset) - m_audioStart);
    // Audio before the first chunk is taken now or never: the next gap starts
    // where this chunk ends.
    m_audioStart = uint64_t(offset);

    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<MediaSample>* refSamples = ref ? &ref->videoSamples() : nullptr;
    uint64_t pos = uint64_t(offset);
    uint64_t taken = 0;
    for (;;) {
        const uint64_t bytes = sampleAt(buffer, int64_t(pos));
        if (bytes == 0)
            break;
        int32_t composition = 0;
        if (refSamples && !refSamples->empty())
            composition = (*refSamples)[m_videoSampleIndex % refSamples->size()].extra;
        add_video_samples(*m_repairState, buffer, int64_t(pos), int32_t(bytes), composition);
        FLOG(LogLevel::Info) << "CanonCRM Video_Sample ofs=" << pos << " len=" << bytes
                             << " chunk=" << m_videoChunkCount << " s_idx=" << m_videoSampleIndex
                             << " c_ofs=" << composition;
        ++m_videoSampleIndex;
        ++taken;
        pos += bytes;
    }
    if (taken == 0)
        return false;
    ++m_videoChunkCount;
    m_audioStart = pos;
    m_scanInfo->currentOffset = int64_t(pos);
    return true;
}

void CanonCrmAnalyser::finish(ScanBuffer& buffer) {
    const uint64_t size = uint64_t(std::max<int64_t>(buffer.fileSize(), 0));
    if (m_videoChunkCount > 0 && m_audioStart < size)
        addAudioRun(buffer, m_audioStart, size - m_audioStart);
    FLOG(LogLevel::Notice) << "CanonCRM Video_Sample Count=" << m_videoSampleIndex;
    FLOG(LogLevel::Notice) << "CanonCRM Video_Chunk Count=" << m_videoChunkCount;
    FLOG(LogLevel::Notice) << "CanonCRM Audio_Run Count=" << m_audioRunCount;
}
