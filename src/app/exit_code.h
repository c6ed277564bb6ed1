#pragma once
// The process exit codes (README, usage section, lists them for users).

namespace exit_code {

constexpr int kSuccess = 0;
// A bad command line, an input that cannot be opened, an output name that
// would overwrite an input, simulated damage that cannot be set up.
constexpr int kFailure = 1;
// The working video codec has no analyser in this build.
constexpr int kNoAnalyser = 2;
// The scan found no sample, so no output was written.
constexpr int kNothingRecovered = 3;

}  // namespace exit_code
