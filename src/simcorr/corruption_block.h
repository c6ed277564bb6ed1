#pragma once
// One damaged range of the simulated corruption: every byte in
// [offset, offset + size) of the input is replaced by a value derived from
// the block seed and the byte's distance from the block start.

#include <cstdint>

struct CorruptionBlock {
    uint64_t offset = 0;  // file offset of the first damaged byte
    uint32_t size = 0;    // damaged bytes
    uint64_t seed = 0;    // block seed feeding the byte generator
};
