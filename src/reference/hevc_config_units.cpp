#include "reference/hevc_config_units.h"

#include <algorithm>

std::vector<HEVC::ConfigUnit> hevcConfigUnits(const HEVCConfig& config) {
    std::vector<HEVC::ConfigUnit> units;
    const int arrays = config.m_arrayCount < kMaxHevcArrays ? config.m_arrayCount : kMaxHevcArrays;
    for (int a = 0; a < arrays; ++a) {
        const HEVCNalArray& array = config.m_arrays[a];
        const int count = array.m_nalCount < kMaxHevcNalus ? array.m_nalCount : kMaxHevcNalus;
        for (int i = 0; i < count; ++i) {
            const size_t size = std::min<size_t>(array.m_nalLength[i], array.m_nal[i].size());
            units.push_back(HEVC::ConfigUnit{array.m_nalType, array.m_nal[i].data(), size});
        }
    }
    return units;
}

unsigned hevcLengthSize(const HEVCConfig& config) {
    return (config.m_lengthSizeByte & 0x03) + 1;
}
