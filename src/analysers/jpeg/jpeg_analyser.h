#pragma once
// Motion JPEG frames: one JPEG image each, from its start-of-image marker
// through its end-of-image marker, followed marker segment by marker segment
// (lengths from the segments themselves) and through the entropy-coded data
// of each scan. An interlaced frame of Motion-JPEG format A is two such
// images, the first telling where the second begins.

#include "analysers/frames/frame_analyser.h"

class JPEGAnalyser : public FrameAnalyser {
public:
    JPEGAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // A start-of-image marker followed by another marker.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    std::string name() const override { return "JPEGAnalyser"; }

protected:
    FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) override;
    void completeParameters(const FrameHeader& frame) override;
};
