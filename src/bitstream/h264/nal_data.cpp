#include "bitstream/h264/nal_data.h"

#include "bitstream/common/nal_span.h"
#include "log/logger.h"
#include "platform/file.h"

#include <algorithm>
#include <iostream>

namespace H264 {

void NalData::seq_analyze(platform::File& file, int64_t offset, uint32_t size, const ParameterSets& reference) {
    FLOG(LogLevel::Debug) << "NALDATA : seq_analyze start ";
    if (m_sequences.size() >= kMaxSequences)
        return;
    const size_t want = std::min<size_t>(size, kMaxSampleBytes);
    m_buffer.resize(want);
    const size_t got = want > 0 ? file.readAt(offset, m_buffer.data(), want) : 0;
    // Already logged the start line; analyse without logging it twice.
    analyse(m_buffer.data(), got, reference);
}

void NalData::seq_analyze(const uint8_t* sample, size_t size, const ParameterSets& reference) {
    FLOG(LogLevel::Debug) << "NALDATA : seq_analyze start ";
    if (m_sequences.size() >= kMaxSequences)
        return;
    analyse(sample, std::min(size, kMaxSampleBytes), reference);
}

void NalData::analyse(const uint8_t* sample, size_t size, const ParameterSets& reference) {
    if (m_state.profile_idc == 0) {
        if (reference.sps && reference.spsSize > 0)
            NALDEC(m_state, reference.sps, reference.spsSize);
        if (reference.pps && reference.ppsSize > 0)
            NALDEC(m_state, reference.pps, reference.ppsSize);
    }

    m_current.clear();
    bitstream::LengthPrefixedNals walk(sample, size, reference.lengthSize);
    bitstream::NalSpan nal;
    while (walk.next(nal)) {
        NALDEC(m_state, nal.data, nal.size);
        FLOG(LogLevel::Debug) << "NALDATA : type " << int(m_state.nal_unit_type) << " length = " << nal.size
                              << " frame_num = " << m_state.frame_num << " poc = " << m_state.pic_order_cnt_lsb;
        m_current.push_back(nal.size > 0 ? static_cast<uint8_t>(nal.data[0] & 0x1F) : 0);
    }
    FLOG(LogLevel::Debug) << "NALDATA : nalseq=" << sequenceText(m_current) << " end";
    if (std::find(m_sequences.begin(), m_sequences.end(), m_current) == m_sequences.end())
        m_sequences.push_back(m_current);
}

std::string NalData::sequenceText(const std::vector<uint8_t>& sequence) {
    return bitstream::nalSequenceText(sequence);
}

void NalData::printSequences(std::ostream& out) const {
    for (size_t i = 0; i < m_sequences.size(); ++i)
        out << "nalseq " << i << ": " << sequenceText(m_sequences[i]) << "\n";
    out << "\n";
}

void NalData::printSequences() const {
    printSequences(std::cout);
    std::cout.flush();
}

}  // namespace H264
