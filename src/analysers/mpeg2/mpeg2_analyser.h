#pragma once
// Finds MPEG-2 video (XDCAM, HDV and other "MPG2" recordings): each picture
// with the sequence and group headers in front of it, and the audio the
// recorder wrote behind it. Composition offsets come from the temporal
// references; I pictures are the random-access points.

#include "analysers/picture/picture_run_analyser.h"

class MPEG2Analyser : public PictureRunAnalyser {
public:
    MPEG2Analyser(RepairState* repairState, ScanInfo* scanInfo) : PictureRunAnalyser(repairState, scanInfo, "MPEG2") {}
    std::string name() const override { return "MPEG2Analyser"; }
    void prepare() override;

protected:
    Code classify(const uint8_t* p, int64_t n, Picture& picture) override;
    void displayOrder(const std::vector<Picture>& pictures, bool cutShort,
                      std::vector<int64_t>& display) const override;
    // A picture's last slice starts in its last macroblock row.
    bool lastCodeMayEndPicture(const uint8_t* p, int64_t n) const override;
    const char* videoClass() const override { return "MPG2"; }

private:
    bool m_groupPending = false;  // a group of pictures header since the last picture
    bool m_groupClosed = false;   // that header's closed_gop flag
    // The reference is a QuickTime movie: there an I picture is a sync
    // sample only when no picture of the group in front is shown after it.
    bool m_quickTime = false;
    uint8_t m_lastSliceRow = 0;   // the row of the current picture's last slice
    bool m_sequenceSeen = false;  // a sequence header of the recording's size was met
};
