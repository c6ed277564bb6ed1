#include "bitstream/hevc/hevc_utils.h"

#include "bitstream/common/nal_span.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/slice.h"
#include "bitstream/hevc/sps.h"
#include "log/logger.h"
#include "platform/file.h"

#include <algorithm>
#include <ostream>

namespace HEVC {

void HevcUtils::initialize(const std::vector<ConfigUnit>& hvcC) {
    if (m_initialized)
        return;
    m_initialized = true;
    FLOG(LogLevel::Debug) << "HevcUtils : initializing";
    size_t index = 0;
    for (const ConfigUnit& u : hvcC) {
        const uint8_t type = u.arrayType & 0x3F;
        const size_t size = std::min(u.size, kMaxConfigUnitBytes);
        if (size >= 2) {
            try {
                parseUnit(m_maps, u.data + 2, size - 2, type);
            } catch (const BitstreamError& e) {
                FLOG(LogLevel::Debug) << "HevcUtils : ref NAL " << index << " Processing failed: " << e.what();
            }
        }
        FLOG(LogLevel::Info) << "Ref NAL " << index << " nal_type=" << HevcNalTypeName(type);
        ++index;
    }
}

std::shared_ptr<SPS> HevcUtils::bestSps() const {
    if (m_maps.sps.empty()) {
        FLOG(LogLevel::Trace) << "HevcUtils - Error: best_sps is null";
        return nullptr;
    }
    return m_maps.sps.begin()->second;
}

void HevcUtils::seq_analyze(platform::File& file, int64_t offset, uint32_t size, const std::vector<ConfigUnit>& hvcC,
                            unsigned lengthSize) {
    FLOG(LogLevel::Trace) << "HEVC : seq_analyze start";
    initialize(hvcC);
    const size_t want = std::min<size_t>(size, kMaxSampleBytes);
    m_buffer.resize(want);
    const size_t got = want > 0 ? file.readAt(offset, m_buffer.data(), want) : 0;
    walk(m_buffer.data(), got, lengthSize);
}

void HevcUtils::seq_analyze(const uint8_t* sample, size_t size, const std::vector<ConfigUnit>& hvcC,
                            unsigned lengthSize) {
    FLOG(LogLevel::Trace) << "HEVC : seq_analyze start";
    initialize(hvcC);
    walk(sample, std::min(size, kMaxSampleBytes), lengthSize);
}

void HevcUtils::walk(const uint8_t* sample, size_t size, unsigned lengthSize) {
    m_units.clear();
    std::vector<uint8_t> pattern;
    bitstream::LengthPrefixedNals nals(sample, size, lengthSize);
    bitstream::NalSpan nal;
    while (nals.next(nal)) {
        UnitRecord rec;
        rec.offset = nal.offset;
        rec.size = nal.size;
        NalHeader h;
        const bool hasHeader = readNalHeader(nal.data, nal.size, h);
        rec.nal_unit_type = h.nal_unit_type;
        rec.temporal_id = h.nuh_temporal_id_plus1 > 0 ? h.nuh_temporal_id_plus1 - 1 : 0;
        pattern.push_back(h.nal_unit_type);
        std::shared_ptr<NALUnit> unit;
        if (!hasHeader) {
            rec.error = "NAL unit shorter than its header";
        } else {
            try {
                unit = parseUnit(m_maps, nal.data + 2, nal.size - 2, h.nal_unit_type);
            } catch (const BitstreamError& e) {
                rec.error = e.what();
            }
        }
        if (unit)
            rec.problems = unit->problems();
        if (auto slice = std::dynamic_pointer_cast<Slice>(unit)) {
            rec.slice_type = slice->slice_type;
            rec.pps_id = slice->slice_pic_parameter_set_id;
            rec.first_slice_segment_in_pic = slice->first_slice_segment_in_pic_flag;
            auto spsIt = slice->spsId >= 0 ? m_maps.sps.find(uint32_t(slice->spsId)) : m_maps.sps.end();
            if (spsIt != m_maps.sps.end()) {
                if (!slice->first_slice_segment_in_pic_flag && m_lastPoc != kNoPoc) {
                    rec.poc = m_lastPoc;  // later slices of a picture share its count
                } else {
                    const int64_t maxLsb = int64_t(1) << (spsIt->second->log2_max_pic_order_cnt_lsb_minus4 + 4);
                    const uint32_t t = h.nal_unit_type;
                    const uint32_t lsb = isIdr(t) ? 0 : slice->slice_pic_order_cnt_lsb;
                    int64_t msb = 0;
                    // An IRAP picture starts a new count (taken as NoRaslOutputFlag = 1).
                    if (!isIrap(t) && m_havePrev) {
                        if (lsb < m_prevPocLsb && int64_t(m_prevPocLsb - lsb) >= maxLsb / 2)
                            msb = m_prevPocMsb + maxLsb;
                        else if (lsb > m_prevPocLsb && int64_t(lsb - m_prevPocLsb) > maxLsb / 2)
                            msb = m_prevPocMsb - maxLsb;
                        else
                            msb = m_prevPocMsb;
                    }
                    rec.poc = msb + lsb;
                    m_lastPoc = rec.poc;
                    // prevTid0Pic: TemporalId 0, not RADL/RASL, not a sub-layer non-reference picture.
                    const bool subLayerNonRef = t <= 14 && (t % 2) == 0;
                    const bool radlRasl = t >= NAL_RADL_N && t <= NAL_RASL_R;
                    if (rec.temporal_id == 0 && !radlRasl && !subLayerNonRef) {
                        m_havePrev = true;
                        m_prevPocLsb = lsb;
                        m_prevPocMsb = msb;
                    }
                }
            }
        }
        if (logEnabled(LogLevel::Trace)) {
            LogLine line(LogLevel::Trace);
            line.stream() << "NAL : ofs=" << rec.offset << " len=" << rec.size
                          << " type=" << HevcNalTypeName(rec.nal_unit_type);
            if (rec.slice_type != 0xFFFFFFFFu)
                line.stream() << " slice_type=" << rec.slice_type << " pps=" << rec.pps_id;
            line.stream() << " poc=";
            if (rec.poc != kNoPoc)
                line.stream() << rec.poc;
            else
                line.stream() << "-";
            if (!rec.error.empty())
                line.stream() << " Processing failed: " << rec.error;
            else if (!rec.problems.empty())
                line.stream() << " problems: " << rec.problems;
        }
        m_units.push_back(std::move(rec));
    }
    if (m_sequences.size() < kMaxSequences &&
        std::find(m_sequences.begin(), m_sequences.end(), pattern) == m_sequences.end())
        m_sequences.push_back(pattern);
}

void HevcUtils::printSequences(std::ostream& out) const {
    for (size_t i = 0; i < m_sequences.size(); ++i)
        out << "nalseq " << i << ": " << bitstream::nalSequenceText(m_sequences[i]) << "\n";
    out << "\n";
}

}  // namespace HEVC
