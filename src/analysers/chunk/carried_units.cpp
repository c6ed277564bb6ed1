#include "analysers/chunk/carried_units.h"

#include <algorithm>
#include <cstring>

void CarriedUnits::remember(const uint8_t* unit, int64_t length) {
    if (length < 1 || length > kMaxUnitBytes || m_units.size() >= kMaxUnits || contains(unit, length))
        return;
    m_units.emplace_back(unit, unit + length);
}

bool CarriedUnits::contains(const uint8_t* unit, int64_t length) const {
    return std::any_of(m_units.begin(), m_units.end(), [&](const std::vector<uint8_t>& u) {
        return int64_t(u.size()) == length && std::memcmp(u.data(), unit, size_t(length)) == 0;
    });
}
