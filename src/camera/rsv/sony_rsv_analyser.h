#pragma once
// Sony recovery files (RSV): runs of KLV metadata groups, each followed by a
// media payload of access units and one audio block, or groups of pictures
// behind RTMD packets. The access units and audio blocks are collected during
// the scan and handed on in file order at the end, once the decoder
// configuration has been rebuilt from the parameter sets in the file.

#include "analysers/core/stream_analyser.h"
#include "camera/rsv/rsv_access_units.h"
#include "camera/rsv/rsv_parameter_sets.h"

#include <cstdint>
#include <vector>

class SonyRsvAnalyser : public StreamAnalyser {
public:
    SonyRsvAnalyser(RepairState* state, ScanInfo* info) : StreamAnalyser(state, info) {}

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    void finish(ScanBuffer& buffer) override;
    void prepare() override;
    bool accepts() override;
    std::string name() const override { return "SonyRsvAnalyser"; }

private:
    struct AudioBlock {
        uint64_t offset;
        uint32_t length;
    };

    bool klvPath(uint64_t offset, ScanBuffer& buffer);
    bool rtmdPath(uint64_t offset, ScanBuffer& buffer);
    void parsePayload(uint64_t start, uint64_t end, ScanBuffer& buffer);
    // Keeps the units (logging them), and the HEVC parameter sets in them.
    void keepUnits(const std::vector<rsv::AccessUnit>& units, const uint8_t* data, uint64_t base, const char* label);
    void rebuildConfiguration();
    void output(ScanBuffer& buffer);
    void applyPictureOrder(ScanBuffer& buffer);

    bool m_hevc = false;
    int32_t m_audioBlockSize = 0;
    uint64_t m_groupCount = 0;
    uint64_t m_payloadsWithMedia = 0;
    uint64_t m_videoOutput = 0;
    uint64_t m_audioOutput = 0;
    std::vector<rsv::AccessUnit> m_video;
    std::vector<AudioBlock> m_audio;
    rsv::ParameterSetLists m_sets;
};
