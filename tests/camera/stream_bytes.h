#pragma once
// What ffmpeg reads back from a repaired camera recording: the packets of one
// stream, concatenated, to hold against what a generator wrote.

#include "support/test_support.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cameratest {

// `map` selects the stream ("0:a:1"), `format` is the raw muxer ("data",
// "s24be"). With `ignoreEditList` the packets an edit list hides count too.
std::vector<uint8_t> streamBytes(const std::string& file, const std::string& map, const char* format,
                               bool ignoreEditList = false);

}  // namespace cameratest
