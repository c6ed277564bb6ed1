#pragma once
// Apple Intermediate Codec frames: a small header with the frame's size and
// picture dimensions opens each frame.

#include "analysers/frames/frame_analyser.h"

class ICODAnalyser : public FrameAnalyser {
public:
    ICODAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // The header's two signature bytes and a picture width the recording
    // can have: the working one, or while none is known, one of the widths
    // the codec is used at.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    std::string name() const override { return "ICODAnalyser"; }

protected:
    FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) override;
    void completeParameters(const FrameHeader& frame) override;
};
