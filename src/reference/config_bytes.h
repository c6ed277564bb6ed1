#pragma once
// The stored avcC and hvcC records as the bytes of their atom payloads, the
// form in which the fingerprint shows them (the in-memory records have fixed
// slots and padding that say nothing about the configuration).

#include "qt/qt_types.h"

#include <cstdint>
#include <vector>

// Empty when the record holds nothing (no version byte and no parameter sets).
std::vector<uint8_t> avcConfigBytes(const H264Config& config);
std::vector<uint8_t> hevcConfigBytes(const HEVCConfig& config);
