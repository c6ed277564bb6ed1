#pragma once
// Walks the input window by window and offers every byte position to the
// active analysers: check() everywhere, analyse() where a check fired.

#include <cstdint>
#include <functional>
#include <vector>

class ScanBuffer;
class StreamAnalyser;
struct ScanInfo;

// Called a few times a second with the percentage reached; returns true when
// the user asked to stop.
using ProgressCallback = std::function<bool(double percent)>;

// Constants of the window walk.
constexpr int32_t kWindowMinimum = 8192;  // bytes asked of every window
constexpr int32_t kWindowOverlap = 5000;  // lets a structure cut by a window end be seen whole in the next
constexpr int32_t kWindowTail = 32;       // fewer bytes than this beyond the overlap: the window is probed whole

// Runs prepare, the windows from info.currentOffset, and finish on every
// active analyser. The stop offset and the cancel request end the scan
// normally. `afterWindow` (may be empty) is called behind every window.
void runScanLoop(ScanBuffer& buffer, ScanInfo& info, const std::vector<StreamAnalyser*>& active,
                 const ProgressCallback& progress, const std::function<void()>& afterWindow = {});

// "progress ofs=" line at NOTICE; shared with the entropy map.
void logProgress(int64_t offset, double percent);
