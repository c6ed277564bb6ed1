#pragma once
// Avid DNxHD and DNxHR (VC-3) frames: each opens with a fixed header prefix
// and, for one compression id and picture size, is always the same number
// of bytes. The frame does not carry its length, so the reference's frame
// size is the length; a recording of other settings has other frames.

#include "analysers/frames/frame_analyser.h"

class DNxHDAnalyser : public FrameAnalyser {
public:
    DNxHDAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // The header prefix: 00 00 02 80 01 (DNxHD), 00 00 02 80 02 (DNxHD
    // 4:4:4), or DNxHR's 00 00 hh hh 03 with a header size hhhh.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    std::string name() const override { return "DNxHDAnalyser"; }

protected:
    FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) override;
    void completeParameters(const FrameHeader& frame) override;

private:
    // The compression id of the first frame taken: every later frame has it.
    uint32_t m_compressionId = 0;
};
