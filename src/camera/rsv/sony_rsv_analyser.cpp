#include "camera/rsv/sony_rsv_analyser.h"

#include "analysers/h264/avc1_composition_order.h"
#include "analysers/hevc/hevc_composition_order.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "camera/rsv/klv_group.h"
#include "camera/rsv/rsv_search.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>

namespace {

constexpr uint64_t kMinPayload = 16;
constexpr uint64_t kMaxPayload = 67108864;
constexpr uint64_t kMaxRtmdMedia = 134217728;
constexpr uint64_t kDelimiterWindow = 262144;
constexpr int kMaxFollowingGroups = 64;
constexpr uint64_t kMinRtmdPacket = 1024;
constexpr uint64_t kMaxRtmdPacket = 1048576;
constexpr int kMaxRtmdPackets = 257;

bool isHevcCodec(const std::string& codec) { return codec == "hvc1" || codec == "hev1"; }

std::vector<uint8_t> readWhole(ScanBuffer& buffer, uint64_t start, uint64_t end) {
    std::vector<uint8_t> data(size_t(end - start));
    data.resize(buffer.read(data.data(), int64_t(start), data.size()));
    return data;
}

}  // namespace

bool SonyRsvAnalyser::accepts() { return m_scanInfo && m_scanInfo->sonyRsvMode; }

bool SonyRsvAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    if (available < int32_t(rsv::kRtmdHeaderBytes))
        return false;
    return rsv::isGroupKey(data, size_t(available)) || rsv::isRtmdHeader(data, size_t(available));
}

void SonyRsvAnalyser::prepare() {
    m_groupCount = m_payloadsWithMedia = m_videoOutput = m_audioOutput = 0;
    m_video.clear();
    m_audio.clear();
    m_sets.clear();
    m_audioBlockSize = 0;
    VideoParameters& video = *m_repairState->m_video;
    if (video.m_codec.empty())
        video.m_codec = video.m_class;
    if (video.m_class.empty())
        video.m_class = video.m_codec;
    ReferenceInfo* ref = m_repairState->m_reference.get();
    m_hevc = isHevcCodec(video.m_codec) || (ref && isHevcCodec(ref->video().m_codec));
    if (ref && ref->isOpen()) {
        // A reference without audio has no audio chunks, whatever default
        // the chunk analysis reports for it.
        if (ref->audio().m_audioTracks > 0) {
            if (ref->layout().m_audioChunksSizeAll == 0)
                ref->analyseChunks();
            const uint32_t all = ref->layout().m_audioChunksSizeAll;
            const uint32_t one = ref->layout().m_audioChunkSize;
            m_audioBlockSize = int32_t(std::min<uint32_t>(all > 0 ? all : one, INT32_MAX));
        }
        if (ref->videoSamples().empty())
            ref->collectSamples();
    }
    FLOG(LogLevel::Notice) << "Sony RSV recovery enabled";
    if (m_audioBlockSize <= 0)
        FLOG(LogLevel::Warning) << "Sony RSV: no reference audio chunk size available; audio recovery disabled";
}

bool SonyRsvAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    const uint8_t* head = buffer.get(offset, int32_t(rsv::kRtmdHeaderBytes));
    if (rsv::isRtmdHeader(head, size_t(std::max(buffer.available(), 0))))
        return rtmdPath(uint64_t(offset), buffer);
    return klvPath(uint64_t(offset), buffer);
}

bool SonyRsvAnalyser::klvPath(uint64_t offset, ScanBuffer& buffer) {
    const uint64_t size = uint64_t(std::max<int64_t>(buffer.fileSize(), 0));
    uint64_t end = 0;
    uint64_t at = offset;
    for (int n = 0; n <= kMaxFollowingGroups; ++n) {
        const uint8_t* p = buffer.get(int64_t(at), int32_t(rsv::kGroupHeadMax));
        const uint64_t next = rsv::groupEnd(p, size_t(std::max(buffer.available(), 0)), at, size);
        if (next <= at)
            break;
        end = at = next;
    }
    if (end == 0)
        return false;
    const uint64_t following = rsv::nextGroup(buffer, end);
    if (end < following)
        parsePayload(end, following, buffer);
    ++m_groupCount;
    m_scanInfo->currentOffset = int64_t(following);
    return true;
}

void SonyRsvAnalyser::keepUnits(const std::vector<rsv::AccessUnit>& units, const uint8_t* data, uint64_t base,
                                const char* label) {
    for (const rsv::AccessUnit& u : units) {
        FLOG(LogLevel::Info) << label << " ofs=" << u.start << " len=" << u.end - u.start << " s_idx=" << m_video.size()
                             << " nals=" << u.nals << " key=" << int(u.key);
        m_video.push_back(u);
        // H.264 recordings carry their parameter sets as side data; a stream
        // that also has them in band still plays when the side data is lost.
        rsv::collectUnits(data + (u.start - base), size_t(u.end - u.start), m_hevc, m_sets);
    }
}

void SonyRsvAnalyser::parsePayload(uint64_t start, uint64_t end, ScanBuffer& buffer) {
    const uint64_t size = end - start;
    if (size < kMinPayload || size > kMaxPayload)
        return;
    const std::vector<uint8_t> data = readWhole(buffer, start, end);
    if (data.size() != size)
        return;
    if (!m_hevc)
        rsv::collectSideData(data.data(), data.size(), m_sets);
    const size_t window = size_t(std::min<uint64_t>(size, kDelimiterWindow + 6));
    if (rsv::nextDelimiter(data.data(), window, 0, m_hevc) >= std::min<uint64_t>(size, kDelimiterWindow))
        return;
    const std::vector<rsv::AccessUnit> units = rsv::accessUnits(data.data(), data.size(), start, m_hevc);
    if (units.empty())
        return;
    keepUnits(units, data.data(), start, "SonyRSV Video_Sample");
    ++m_payloadsWithMedia;
    if (m_audioBlockSize <= 0)
        return;
    // The audio block ends where the RTMD packet header of the next run begins.
    const uint64_t tail = size < rsv::kRunHeaderBytes ? end : end - rsv::kRunHeaderBytes;
    const uint64_t lastEnd = units.back().end;
    const uint64_t a = uint64_t(m_audioBlockSize);
    if (tail < a || tail - a < lastEnd || tail - a < start) {
        if (lastEnd < tail)
            FLOG(LogLevel::Info) << "SonyRSV Audio_Sample skipped ofs_candidate=" << int64_t(tail) - int64_t(a)
                                 << " len=" << a << " physical_tail=" << tail;
        return;
    }
    m_audio.push_back({tail - a, uint32_t(a)});
    FLOG(LogLevel::Info) << "SonyRSV Audio_Sample ofs=" << tail - a << " len=" << a
                         << " gap_after_video=" << tail - a - lastEnd << " a_idx=" << m_audio.size() - 1;
}

bool SonyRsvAnalyser::rtmdPath(uint64_t offset, ScanBuffer& buffer) {
    const uint64_t size = uint64_t(std::max<int64_t>(buffer.fileSize(), 0));
    {
        const uint8_t* p = buffer.get(int64_t(offset + rsv::kRunHeaderBytes), int32_t(rsv::kKeyBytes));
        if (rsv::isGroupKey(p, size_t(std::max(buffer.available(), 0))))
            return klvPath(offset + rsv::kRunHeaderBytes, buffer);
    }
    if (size <= offset + 11)
        return false;
    const uint64_t packet = rsv::nextRtmd(buffer, offset + rsv::kRtmdHeaderBytes) - offset;
    if (packet < kMinRtmdPacket || packet > kMaxRtmdPacket)
        return false;
    int packets = 0;
    while (packets < kMaxRtmdPackets) {
        const uint64_t at = offset + uint64_t(packets) * packet;
        const uint8_t* p = buffer.get(int64_t(at), int32_t(rsv::kRtmdHeaderBytes));
        if (at >= size || !rsv::isRtmdHeader(p, size_t(std::max(buffer.available(), 0))))
            break;
        ++packets;
    }
    const uint64_t media = offset + uint64_t(packets) * packet;
    if (media >= size)
        return false;
    const uint64_t mediaEnd = rsv::nextRtmd(buffer, media + 1);
    if (mediaEnd - media < 6 || mediaEnd - media > kMaxRtmdMedia)
        return false;
    const std::vector<uint8_t> data = readWhole(buffer, media, mediaEnd);
    if (rsv::nextDelimiter(data.data(), data.size(), 0, m_hevc) >= data.size())
        return false;
    const std::vector<rsv::AccessUnit> units = rsv::accessUnits(data.data(), data.size(), media, m_hevc);
    keepUnits(units, data.data(), media, "SonyRSV RTMD Video_Sample");
    if (!units.empty())
        ++m_payloadsWithMedia;
    // Here the audio block follows the last picture directly.
    if (m_audioBlockSize > 0 && !units.empty() && mediaEnd - units.back().end >= uint64_t(m_audioBlockSize)) {
        m_audio.push_back({units.back().end, uint32_t(m_audioBlockSize)});
        FLOG(LogLevel::Info) << "SonyRSV RTMD Audio_Sample ofs=" << units.back().end << " len=" << m_audioBlockSize
                             << " a_idx=" << m_audio.size() - 1;
    }
    ++m_groupCount;
    m_scanInfo->currentOffset = int64_t(mediaEnd);
    FLOG(LogLevel::Info) << "SonyRSV RTMD GOP ofs=" << offset << " packet_size=" << packet << " packets=" << packets
                         << " next=" << mediaEnd;
    return true;
}

void SonyRsvAnalyser::rebuildConfiguration() {
    VideoParameters& video = *m_repairState->m_video;
    const bool keep = m_scanInfo->referencePriority;
    if (m_hevc) {
        if (keep) {
            FLOG(LogLevel::Notice) << "SonyRSV keeping reference hvcC because -refprio is set";
        } else if (rsv::buildHevcConfig(m_sets, video.m_hevc)) {
            FLOG(LogLevel::Notice) << "SonyRSV hvcC from RSV samples: VPS=" << m_sets.hevcVps.size()
                                   << " SPS=" << m_sets.hevcSps.size() << " PPS=" << m_sets.hevcPps.size();
        } else {
            FLOG(LogLevel::Notice) << "SonyRSV hvcC: RSV VPS/SPS/PPS not found; keeping existing hvcC";
        }
        return;
    }
    if (keep) {
        FLOG(LogLevel::Notice) << "SonyRSV keeping reference avcC because -refprio is set";
    } else if (rsv::buildAvcConfig(m_sets, video.m_avc)) {
        FLOG(LogLevel::Notice) << "SonyRSV avcC from RSV side-data: SPS=" << m_sets.avcSps.size()
                               << " PPS=" << m_sets.avcPps.size();
    } else {
        FLOG(LogLevel::Notice) << "SonyRSV avcC: RSV SPS/PPS not found; keeping reference avcC";
    }
}

void SonyRsvAnalyser::output(ScanBuffer& buffer) {
    const ReferenceInfo* ref = m_repairState->m_reference.get();
    const std::vector<MediaSample>* refSamples = ref ? &ref->videoSamples() : nullptr;
    size_t nextAudio = 0;
    auto addAudioUpTo = [&](uint64_t limit) {
        for (; nextAudio < m_audio.size() && m_audio[nextAudio].offset <= limit; ++nextAudio) {
            const AudioBlock& a = m_audio[nextAudio];
            if (!addAudioSample(*m_repairState, buffer, int64_t(a.offset), int32_t(a.length), -1))
                continue;
            FLOG(LogLevel::Info) << "SonyRSV Audio_Output ofs=" << a.offset << " len=" << a.length
                                 << " a_idx=" << m_audioOutput;
            ++m_audioOutput;
        }
    };
    for (size_t i = 0; i < m_video.size(); ++i) {
        const rsv::AccessUnit& u = m_video[i];
        int32_t composition = 0;
        if (refSamples && !refSamples->empty())
            composition = (*refSamples)[i % refSamples->size()].extra;
        const int32_t size = int32_t(std::min<uint64_t>(u.end - u.start, INT32_MAX));
        if (add_video_samples(*m_repairState, buffer, int64_t(u.start), size, composition)) {
            FLOG(LogLevel::Info) << "SonyRSV Video_Output ofs=" << u.start << " len=" << size
                                 << " s_idx=" << m_videoOutput << " rsv_idx=" << i << " c_ofs=" << composition;
            ++m_videoOutput;
        }
        addAudioUpTo(u.end);
    }
    addAudioUpTo(UINT64_MAX);
}

void SonyRsvAnalyser::applyPictureOrder(ScanBuffer& buffer) {
    // The pictures' own order counts say when each is shown; the reference's
    // offsets fit only while its frame-type pattern happens to match.
    if (m_scanInfo->noCompositionOffsets || m_video.empty())
        return;
    const VideoParameters& video = *m_repairState->m_video;
    const int64_t duration = video.m_sampleDuration > 0 ? int64_t(video.m_sampleDuration) : 1;
    size_t rewritten = 0;
    if (m_hevc) {
        HEVC::ParameterSets sets;
        for (const auto* list : {&m_sets.hevcVps, &m_sets.hevcSps, &m_sets.hevcPps})
            for (const rsv::Unit& u : *list) {
                if (u.size() < 3)
                    continue;
                try {
                    HEVC::parseUnit(sets, u.data() + 2, u.size() - 2, (u[0] >> 1) & 0x3F);
                } catch (const HEVC::BitstreamError&) {
                    // A unit that does not parse names nothing the slices can use.
                }
            }
        HevcCompositionOrder order;
        if (order.configure(sets))
            rewritten = order.apply(buffer, m_repairState->m_samples, duration);
    } else {
        Avc1CompositionOrder order;
        if (order.configure(video.m_avc))
            rewritten = order.apply(buffer, m_repairState->m_samples, duration);
    }
    FLOG(LogLevel::Info) << "SonyRSV composition offsets from picture order counts: " << rewritten << " samples";
}

void SonyRsvAnalyser::finish(ScanBuffer& buffer) {
    FLOG(LogLevel::Notice) << "SonyRSV keeping parsed video samples; RSV index used for diagnostics only";
    rebuildConfiguration();
    output(buffer);
    applyPictureOrder(buffer);
    FLOG(LogLevel::Notice) << "SonyRSV KLV_Group Count=" << m_groupCount;
    FLOG(LogLevel::Notice) << "SonyRSV Payload_With_Media Count=" << m_payloadsWithMedia;
    FLOG(LogLevel::Notice) << "SonyRSV Video_Found Count=" << m_video.size();
    FLOG(LogLevel::Notice) << "SonyRSV Video_Index Count=" << 0;
    FLOG(LogLevel::Notice) << "SonyRSV Video_Skipped Count=" << 0;
    FLOG(LogLevel::Notice) << "SonyRSV Video_Size_Mismatch Count=" << 0;
    FLOG(LogLevel::Notice) << "SonyRSV Video_Sample Count=" << m_videoOutput;
    FLOG(LogLevel::Notice) << "SonyRSV Audio_Found Count=" << m_audio.size();
    FLOG(LogLevel::Notice) << "SonyRSV Audio_Sample Count=" << m_audioOutput;
}
