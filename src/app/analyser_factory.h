#pragma once
// Creates the analysers by the names the scan driver chooses them by. An
// analyser family this build does not have yet yields null; the driver
// reports it and carries on with the others.

#include <memory>
#include <string>

class StreamAnalyser;
struct RepairState;
struct ScanInfo;

std::unique_ptr<StreamAnalyser> createAnalyser(const std::string& name, RepairState* state, ScanInfo* info);
