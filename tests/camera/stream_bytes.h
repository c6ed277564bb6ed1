#pragma once
// Running the binary on a camera recording; what ffmpeg reads back from the
// repaired movie (streamBytes) is held against what a generator wrote.

#include "support/test_support.h"

#include <string>
#include <vector>

namespace cameratest {

using testsupport::streamBytes;

struct Repaired {
    std::string log;  // standard output and error
    int exitCode = -1;
    std::string output;
};

// Writes `damaged` as `inName` into a fresh scratch folder for `test` and runs
// framend -i <it> -ref <ref> -o out.mov <flags>.
Repaired repair(const std::string& test, const std::string& ref, const std::vector<uint8_t>& damaged,
                const std::string& inName, const std::string& flags);

}  // namespace cameratest
