#pragma once
// DV and DVCPRO frames: a frame is a fixed number of DIF sequences of 12,000
// bytes, each opening with a header block that carries its sequence number.

#include "analysers/frames/frame_analyser.h"

class DVCAnalyser : public FrameAnalyser {
public:
    DVCAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // The header block of a frame's first DIF sequence.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    std::string name() const override { return "DVCAnalyser"; }

protected:
    FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) override;
    void completeParameters(const FrameHeader& frame) override;
};
