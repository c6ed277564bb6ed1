#pragma once
// Canon REPI recordings: HEVC video and PCM audio as a sequence of "repi"
// records. Video records give their samples' sizes up front; audio records
// hold one fixed block of PCM; timecode records are skipped.

#include "analysers/core/stream_analyser.h"

#include <cstdint>

class CanonRepiAnalyser : public StreamAnalyser {
public:
    CanonRepiAnalyser(RepairState* state, ScanInfo* info) : StreamAnalyser(state, info) {}

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    void finish(ScanBuffer& buffer) override;
    void prepare() override;
    bool accepts() override;
    std::string name() const override { return "CanonRepiAnalyser"; }

private:
    bool videoRecord(uint64_t offset, ScanBuffer& buffer);
    bool audioRecord(uint64_t offset, ScanBuffer& buffer);
    int32_t compositionOffset(uint64_t sample) const;
    void applyPictureOrder(ScanBuffer& buffer);

    uint64_t m_videoSampleIndex = 0;
    uint64_t m_videoChunkCount = 0;
    uint64_t m_audioSampleIndex = 0;
    uint32_t m_audioRecordCount = 0;
    // Audio records since the last video record header, whole or damaged.
    uint64_t m_audioSinceVideo = 0;
    bool m_sawVideoRecord = false;
    uint32_t m_audioTracks = 1;
};
