#pragma once
// The closing lines on standard error, for a person rather than a script:
// each movie written with its tracks (frames or blocks, duration, codec),
// each raw stream, what -verify and -verout found, or why nothing came back,
// with the exit code. The log on standard output is not touched.

#include "output/output_verifier.h"
#include "output/reference_verifier.h"
#include "output/repair_state.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct RunVerdict {
    int exitCode = 0;
    std::vector<std::string> movies;                              // written, in clip order
    std::vector<std::pair<std::string, uint64_t>> rawStreams;     // name, bytes written
    uint64_t videoFound = 0;                                      // frames the scan found
    uint64_t audioFound = 0;                                      // audio blocks the scan found
    std::optional<VerifyCounts> verify;                           // -verify was asked for
    std::optional<OutputVerifyResult> verout;                     // -verout was asked for
    std::string veroutFile;                                       // the movie -verout read
    // Why nothing (or not everything) came back; empty when the run went well.
    std::string failure;
};

// Reads every written movie back and prints the verdict.
void printVerdict(std::ostream& out, const RunVerdict& verdict);

// Why a run found no sample, in words that point at the likely fix; imported:
// the samples were to come from the reference's own index (-sim).
std::string whyNothingWasFound(const RepairState& state, bool imported);
