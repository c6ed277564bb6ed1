#include "reference/hevc_colour.h"

#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/sps.h"
#include "reference/hevc_config_units.h"

#include <exception>

namespace {

// The two-byte HEVC NAL unit header in front of every parameter set.
constexpr size_t kNalHeaderBytes = 2;
// The low 6 bits of an hvcC array's type byte are its NAL_unit_type.
constexpr uint8_t kArrayTypeMask = 0x3F;
// colr's full-range byte: the flag in the top bit.
constexpr uint8_t kFullRangeByte = 0x80;

}  // namespace

bool colourFromHevcConfig(const HEVCConfig& config, ColourInfo& colour) {
    HEVC::ParameterSets maps;
    for (const HEVC::ConfigUnit& unit : hevcConfigUnits(config)) {
        if (unit.size <= kNalHeaderBytes)
            continue;
        std::shared_ptr<HEVC::NALUnit> parsed;
        try {
            parsed = HEVC::parseUnit(maps, unit.data + kNalHeaderBytes, unit.size - kNalHeaderBytes,
                                     uint8_t(unit.arrayType & kArrayTypeMask));
        } catch (const std::exception&) {
            continue;  // a damaged unit says nothing; the next one may
        }
        auto sps = std::dynamic_pointer_cast<HEVC::SPS>(parsed);
        if (!sps || !sps->vui_parameters_present_flag || !sps->vui.colour_description_present_flag)
            continue;
        colour = ColourInfo();
        colour.m_present = 1;
        colour.m_type = makeFourcc("nclx");
        colour.m_primaries = sps->vui.colour_primaries;
        colour.m_transfer = sps->vui.transfer_characteristics;
        colour.m_matrix = sps->vui.matrix_coefficients;
        colour.m_fullRange = sps->vui.video_full_range_flag ? kFullRangeByte : 0;
        colour.m_fullRangePresent = sps->vui.video_signal_type_present_flag ? 1 : 0;
        return true;
    }
    return false;
}
