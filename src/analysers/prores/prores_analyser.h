#pragma once
// Apple ProRes frames: each begins with its own size and the tag "icpf", so
// a frame is recognised by the tag and taken whole.

#include "analysers/frames/frame_analyser.h"

class ProResAnalyser : public FrameAnalyser {
public:
    ProResAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // "icpf" four bytes in.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    std::string name() const override { return "ProResAnalyser"; }

protected:
    FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) override;
    void completeParameters(const FrameHeader& frame) override;
};
