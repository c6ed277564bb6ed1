#pragma once
// Finds MPEG-4 Visual video (mp4v): each VOP with the headers in front of
// it, and the audio the recorder wrote behind it. Composition offsets come
// from the order of the B-VOPs.

#include "analysers/picture/picture_run_analyser.h"

class MP4VAnalyser : public PictureRunAnalyser {
public:
    MP4VAnalyser(RepairState* repairState, ScanInfo* scanInfo) : PictureRunAnalyser(repairState, scanInfo, "mp4v") {}
    std::string name() const override { return "MP4VAnalyser"; }
    void prepare() override;

protected:
    Code classify(const uint8_t* p, int64_t n, Picture& picture) override;
    void displayOrder(const std::vector<Picture>& pictures, bool cutShort,
                      std::vector<int64_t>& display) const override;
    const char* videoClass() const override { return "mp4v"; }

private:
    // Without a reference or -vf saying the stream is MPEG-4 Visual (the
    // fallback set), VOPs count only behind a video object layer header:
    // four bytes of a VOP start code turn up in other codecs' data and in
    // quiet PCM.
    bool m_needLayer = false;
    bool m_layerSeen = false;
};
