#include "camera/repi/canon_repi_analyser.h"

#include "analysers/hevc/hevc_composition_order.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "camera/repi/repi_record.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/hevc_config_units.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool CanonRepiAnalyser::accepts() {
    if (!m_scanInfo || !m_scanInfo->canonRepiMode)
        return false;
    const std::string& codec = m_repairState->m_video->m_codec;
    return codec == "hvc1" || codec == "hev1";
}

bool CanonRepiAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= 12 && repi::recordKind(data, size_t(available)) != repi::Kind::None;
}

void CanonRepiAnalyser::prepare() {
    m_videoSampleIndex = m_videoChunkCount = m_audioSampleIndex = 0;
    m_audioRecordCount = 0;
    m_audioSinceVideo = 0;
    m_sawVideoRecord = false;
    m_repairState->m_layoutMode = 1;
    ReferenceInfo* ref = m_repairState->m_reference.get();
    m_audioTracks = 1;
    if (ref) {
        m_audioTracks = std::max<uint32_t>(ref->audio().m_audioTracks, 1);
        if (ref->isOpen() && ref->videoSamples().empty())
            ref->collectSamples();
    }
    FLOG(LogLevel::Notice) << "Canon REPI recovery enabled";
}

bool CanonRepiAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    const uint8_t* header = buffer.get(offset, int32_t(repi::kHeaderBytes));
    if (buffer.available() < int32_t(repi::kHeaderBytes))
        return false;
    switch (repi::recordKind(header, size_t(buffer.available()))) {
    case repi::Kind::Video:
        // A record whose samples are lost still owns the audio behind it.
        m_sawVideoRecord = true;
        m_audioSinceVideo = 0;
        return videoRecord(uint64_t(offset), buffer);
    case repi::Kind::Audio: return audioRecord(uint64_t(offset), buffer);
    case repi::Kind::Timecode:
        m_scanInfo->currentOffset = offset + int64_t(repi::kTimecodeRecordBytes);
        return true;
    case repi::Kind::None: break;
    }
    return false;
}

int32_t CanonRepiAnalyser::compositionOffset(uint64_t sample) const {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    if (ref && !ref->videoSamples().empty())
        return ref->videoSamples()[sample % ref->videoSamples().size()].extra;
    const uint32_t d = m_repairState->m_video->m_sampleDuration;
    return sample % 3 == 0 ? int32_t(3 * (d > 0 ? d : 1000)) : 0;
}

bool CanonRepiAnalyser::videoRecord(uint64_t offset, ScanBuffer& buffer) {
    const uint8_t* header = buffer.get(int64_t(offset), int32_t(repi::kHeaderBytes));
    const uint32_t count = repi::videoSampleCount(header);
    if (count == 0)
        return false;
    std::vector<uint8_t> table(4 * size_t(count));
    if (buffer.read(table.data(), int64_t(offset + repi::kHeaderBytes), table.size()) != table.size())
        return false;
    const std::vector<uint32_t> sizes =
        repi::videoSampleSizes(table.data(), count, offset, uint64_t(std::max<int64_t>(buffer.fileSize(), 0)));
    if (sizes.empty())
        return false;
    uint64_t pos = offset + repi::kHeaderBytes + table.size();
    for (uint32_t size : sizes) {
        const int32_t composition = compositionOffset(m_videoSampleIndex);
        add_video_samples(*m_repairState, buffer, int64_t(pos), int32_t(size), composition);
        FLOG(LogLevel::Info) << "CanonRepi Video_Sample ofs=" << pos << " len=" << size
                             << " chunk=" << m_videoChunkCount << " s_idx=" << m_videoSampleIndex
                             << " c_ofs=" << composition;
        pos += size;
        ++m_videoSampleIndex;
    }
    ++m_videoChunkCount;
    m_scanInfo->currentOffset = int64_t(pos);
    return true;
}

bool CanonRepiAnalyser::audioRecord(uint64_t offset, ScanBuffer& buffer) {
    // Only a block followed by the next record is known to be whole.
    const uint64_t pcm = offset + repi::kHeaderBytes;
    uint8_t next[4];
    if (buffer.read(next, int64_t(pcm + repi::kAudioBlockBytes), 4) != 4 || std::memcmp(next, "repi", 4) != 0)
        return false;
    const uint32_t track = m_audioRecordCount % m_audioTracks;
    addAudioSample(*m_repairState, buffer, int64_t(pcm), int32_t(repi::kAudioBlockBytes),
                   m_audioTracks > 1 ? int32_t(track) : -1);
    FLOG(LogLevel::Info) << "CanonRepi Audio_Sample ofs=" << pcm << " len=" << repi::kAudioBlockBytes
                         << " a_idx=" << m_audioSampleIndex << " track=" << track;
    ++m_audioSampleIndex;
    ++m_audioRecordCount;
    ++m_audioSinceVideo;
    m_scanInfo->currentOffset = int64_t(pcm + repi::kAudioBlockBytes);
    return true;
}

void CanonRepiAnalyser::applyPictureOrder(ScanBuffer& buffer) {
    // The pictures' own order counts say when each is shown; the reference's
    // offsets fit only while its frame-type pattern happens to match.
    if (m_scanInfo->noCompositionOffsets || m_videoSampleIndex == 0)
        return;
    HEVC::ParameterSets sets;
    for (const HEVC::ConfigUnit& u : hevcConfigUnits(m_repairState->m_video->m_hevc)) {
        if (u.size < 3)
            continue;
        try {
            HEVC::parseUnit(sets, u.data + 2, u.size - 2, u.arrayType & 0x3F);
        } catch (const HEVC::BitstreamError&) {
            // A unit that does not parse names nothing the slices can use.
        }
    }
    HevcCompositionOrder order;
    if (!order.configure(sets))
        return;
    const uint32_t d = m_repairState->m_video->m_sampleDuration;
    const size_t rewritten = order.apply(buffer, m_repairState->m_samples, d > 0 ? int64_t(d) : 1);
    FLOG(LogLevel::Info) << "CanonRepi composition offsets from picture order counts: " << rewritten << " samples";
}

void CanonRepiAnalyser::finish(ScanBuffer& buffer) {
    // Only the audio records behind the last video record's own share have no
    // pictures to go with. Audio of a record whose video was lost is whole
    // and stays: the sound is the user's too.
    const uint64_t surplus = !m_sawVideoRecord ? m_audioSampleIndex
                             : m_audioSinceVideo > m_audioTracks ? m_audioSinceVideo - m_audioTracks
                                                                 : 0;
    if (surplus > 0)
        m_audioSampleIndex -= removeLastAudioSamples(*m_repairState, size_t(surplus));
    applyPictureOrder(buffer);
    FLOG(LogLevel::Notice) << "CanonRepi Video_Sample Count=" << m_videoSampleIndex;
    FLOG(LogLevel::Notice) << "CanonRepi Video_Chunk Count=" << m_videoChunkCount;
    FLOG(LogLevel::Notice) << "CanonRepi LPCM_Record Count=" << m_audioSampleIndex;
}
