#pragma once
// -entropy N: logs the entropy of every N KiB block of the input, a quick
// picture of where media data, padding and damage lie.

#include <cstdint>
#include <string>

#include "app/scan_loop.h"

// Blocks of blockKiB * 1024 bytes; 0 (or less) ends at once.
void runEntropyMap(const std::string& inputFileName, int32_t blockKiB, const ProgressCallback& progress);
