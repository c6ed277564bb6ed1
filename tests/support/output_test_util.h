#pragma once
// Shared by the tests above the output layer: a repair state set up from an
// intact reference.

#include "output/repair_state.h"
#include "support/log_capture.h"
#include "support/test_media.h"

#include <memory>
#include <string>

namespace outtest {

using testmedia::h264AacMp4;
using testmedia::hevcAacMp4;
using testmedia::proresPcmMov;
using testsupport::LogCapture;

// A repair state as the driver leaves it before the scan: reference built and
// analysed, its samples collected, working parameters merged from it, input
// and reference the given file, the first clip named after `output` (which
// may be empty: no movie output).
std::unique_ptr<RepairState> stateFromReference(const std::string& reference, const std::string& output);

}  // namespace outtest
