#pragma once
// Copies a byte range from one open file into another at a given offset
// without passing the bytes through the program: the kernel moves them from
// page cache to page cache (copy_file_range), or, where it cannot, through
// pread/pwrite.

#include "platform/file.h"

#include <cstdint>

namespace platform {

// Copies `count` bytes at `fromOffset` of `from` to `toOffset` of `to`. The
// files' stdio positions are left alone: flush `to` before when it has
// buffered writes, and seek it afterwards. Returns the bytes copied (fewer
// when `from` ends first or writing failed).
uint64_t copyRange(File& from, int64_t fromOffset, File& to, int64_t toOffset, uint64_t count);

}  // namespace platform
