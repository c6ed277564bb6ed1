#pragma once
// Entry points of the HEVC parser: one NAL unit's payload into a parsed
// object, against the parameter sets seen so far; and a small Annex B driver
// that hands every parsed unit to registered consumers.

#include "bitstream/hevc/nal_unit.h"
#include "bitstream/hevc/parameter_sets.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace HEVC {

// Parses the payload (the bytes after the two-byte NAL header) of a unit of
// the given nal_unit_type. Returns the parsed unit, or null for types that
// make no object (reserved, unspecified, EOS, EOB, filler data). A VPS, SPS
// or PPS enters maps once it parsed. Value problems are in the unit's
// problems(); running out of data or an impossible value raises BitstreamError.
std::shared_ptr<NALUnit> parseUnit(ParameterSets& maps, const uint8_t* payload, size_t size, uint8_t nal_unit_type);

// The same for a whole NAL unit (header included); failures come back as
// text in error (and a null result) instead of an exception.
std::shared_ptr<NALUnit> parseNalUnit(ParameterSets& maps, const uint8_t* nal, size_t size, std::string* error);

class HevcParser {
public:
    class Consumer {
    public:
        virtual ~Consumer() = default;
        // unit is null when the type makes no object or the parse failed
        // (error then holds the reason). fileOffset is that of the unit's header.
        virtual void onNalUnit(const std::shared_ptr<NALUnit>& unit, uint8_t nal_unit_type, int64_t fileOffset,
                               const std::string& error) = 0;
    };

    virtual ~HevcParser() = default;
    // Parses every NAL unit of an Annex B buffer that starts at fileOffset.
    virtual void process(const uint8_t* data, size_t size, int64_t fileOffset);
    virtual void addConsumer(Consumer* consumer);  // not owned

    ParameterSets& parameterSets() { return m_maps; }

private:
    ParameterSets m_maps;
    std::vector<Consumer*> m_consumers;
};

}  // namespace HEVC
