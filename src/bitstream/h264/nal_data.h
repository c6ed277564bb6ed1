#pragma once
// NALDATA: the diagnostic walk over an H.264 reference's samples. Each sample
// is a run of length-prefixed NAL units; every unit goes through NALDEC and is
// logged at DEBUG, and the distinct patterns of nal_unit_type per sample are
// kept and printed as the "nalseq" lines.

#include "bitstream/h264/nal_decoder.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace platform {
class File;
}

namespace H264 {

class NalData {
public:
    // At most this many distinct patterns are kept; once full, samples are no
    // longer analysed (a reference with more patterns than this is noise).
    static constexpr size_t kMaxSequences = 100;
    // Samples are read up to this size; a longer one is analysed over its start.
    static constexpr size_t kMaxSampleBytes = 8 * 1024 * 1024;

    // The reference's parameter sets (from its avcC), decoded before the first
    // sample when no SPS has been seen yet. Either may be empty.
    struct ParameterSets {
        const uint8_t* sps = nullptr;
        size_t spsSize = 0;
        const uint8_t* pps = nullptr;
        size_t ppsSize = 0;
        unsigned lengthSize = 4;  // of the length in front of each unit
    };

    // Reads one sample (offset, size) from file and analyses it.
    void seq_analyze(platform::File& file, int64_t offset, uint32_t size, const ParameterSets& reference);
    // Analyses one sample already in memory (at most kMaxSampleBytes of it).
    void seq_analyze(const uint8_t* sample, size_t size, const ParameterSets& reference);

    // "nalseq <i>: 09 06 05 " lines, then an empty line.
    void printSequences(std::ostream& out) const;
    void printSequences() const;  // to standard output

    // A sequence in the printed form: each byte as two lower-case hex digits and a blank.
    static std::string sequenceText(const std::vector<uint8_t>& sequence);

    const std::vector<std::vector<uint8_t>>& sequences() const { return m_sequences; }
    const NalDecoderState& state() const { return m_state; }

private:
    void analyse(const uint8_t* sample, size_t size, const ParameterSets& reference);

    NalDecoderState m_state;
    std::vector<std::vector<uint8_t>> m_sequences;
    std::vector<uint8_t> m_buffer;  // sample bytes read from a file, reused
    std::vector<uint8_t> m_current;
};

}  // namespace H264
