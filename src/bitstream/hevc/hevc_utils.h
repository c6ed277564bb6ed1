#pragma once
// HevcUtils: the diagnostic walk over an HEVC reference's samples. Primed once
// with the parameter sets of the reference's hvcC, it parses every
// length-prefixed NAL unit of a sample, derives the picture order count of each
// slice from the previous one, and logs one TRACE line per unit. It also keeps
// the distinct NAL-type patterns of the samples, printable as "nalseq" lines
// like the H.264 ones.

#include "bitstream/hevc/hvcc_units.h"
#include "bitstream/hevc/parameter_sets.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class File;
}

namespace HEVC {

class SPS;

class HevcUtils {
public:
    static constexpr size_t kMaxSequences = 100;             // distinct patterns kept
    static constexpr size_t kMaxSampleBytes = 8 * 1024 * 1024;  // a longer sample is walked over its start
    static constexpr size_t kMaxConfigUnitBytes = 1024;        // hvcC units are parsed up to this size
    static constexpr int64_t kNoPoc = std::numeric_limits<int64_t>::min();

    // What the walk found in one unit of the last sample.
    struct UnitRecord {
        size_t offset = 0;  // of the unit's header in the sample
        size_t size = 0;
        uint8_t nal_unit_type = 0;
        uint8_t temporal_id = 0;
        uint32_t slice_type = 0xFFFFFFFFu;  // slices only
        uint32_t pps_id = 0;               // slices only
        bool first_slice_segment_in_pic = false;
        int64_t poc = kNoPoc;  // slices only
        std::string problems;  // value problems of the unit
        std::string error;     // set when the parse failed
    };

    // Runs once (later calls do nothing): parses the hvcC units into the
    // parameter set maps and logs each at INFO.
    void initialize(const std::vector<ConfigUnit>& hvcC);
    bool initialized() const { return m_initialized; }

    // The SPS the walk uses: the lowest-numbered known one.
    std::shared_ptr<SPS> bestSps() const;

    // Reads one sample from file and walks it.
    void seq_analyze(platform::File& file, int64_t offset, uint32_t size, const std::vector<ConfigUnit>& hvcC,
                     unsigned lengthSize = 4);
    // Walks one sample already in memory.
    void seq_analyze(const uint8_t* sample, size_t size, const std::vector<ConfigUnit>& hvcC, unsigned lengthSize = 4);

    const std::vector<UnitRecord>& lastSample() const { return m_units; }
    const std::vector<std::vector<uint8_t>>& sequences() const { return m_sequences; }
    void printSequences(std::ostream& out) const;
    ParameterSets& parameterSets() { return m_maps; }

private:
    void walk(const uint8_t* sample, size_t size, unsigned lengthSize);

    bool m_initialized = false;
    ParameterSets m_maps;
    std::vector<UnitRecord> m_units;
    std::vector<std::vector<uint8_t>> m_sequences;
    std::vector<uint8_t> m_buffer;
    // Picture order count state (H.265 8.3.1): the previous TemporalId 0
    // reference picture's lsb and msb.
    bool m_havePrev = false;
    uint32_t m_prevPocLsb = 0;
    int64_t m_prevPocMsb = 0;
    int64_t m_lastPoc = kNoPoc;
};

}  // namespace HEVC
