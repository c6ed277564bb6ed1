#pragma once
// Access units in a media payload of a Sony recovery file: length-prefixed
// NAL units, each access unit opened by a length-prefixed delimiter.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rsv {

struct AccessUnit {
    uint64_t start = 0;
    uint64_t end = 0;  // behind the last whole NAL unit taken
    bool key = false;
    uint32_t nals = 0;
};

// Position of the first access unit delimiter at or after `from`, or `size`.
size_t nextDelimiter(const uint8_t* data, size_t size, size_t from, bool hevc);

// The access units of the payload (file offset `base`): split at every
// delimiter, each walked NAL unit by NAL unit until something that cannot
// belong to it. Units without picture data are dropped.
std::vector<AccessUnit> accessUnits(const uint8_t* data, size_t size, uint64_t base, bool hevc);

}  // namespace rsv
