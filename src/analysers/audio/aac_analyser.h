#pragma once
// Finds raw AAC frames and MPEG audio (MP3) frames in the input and reports
// them as audio samples. Runs on its own with -aac, and is the base of the
// H.264 and HEVC analysers, which use its frame chains for the audio between
// video chunks.

#include "analysers/audio/aac_frame_chain.h"
#include "analysers/audio/frame_chain.h"
#include "analysers/core/stream_analyser.h"

#include <cstdint>
#include <string>

class ReferenceInfo;

class AACAnalyser : public StreamAnalyser {
public:
    AACAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    // With -aac: true at positions behind the last run taken whose byte is
    // the reference's audio sync byte.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    // Takes the run of MP3 or AAC frames starting here, if there is one.
    // Reports its samples itself and never asks the driver to restart.
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    bool accepts() override;
    std::string name() const override { return "AACAnalyser"; }

    // Frame chains with the reference's configuration. aacFrameChain gives
    // -1 when the decoder cannot be set up.
    int64_t aacFrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) const;
    int64_t mp3FrameChain(ScanBuffer& input, int64_t offset, int64_t count, FrameChain& chain) const;
    // The same over bytes already read (for searches that try many starts
    // inside one block).
    int64_t aacFrameChain(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) const;

    int64_t lastTakenByte() const { return m_lastTakenByte; }

protected:
    // The reference, or null when the run has none.
    const ReferenceInfo* reference() const;
    // The reference's AAC decoder configuration and the first bytes of its
    // frames; the audio sync byte.
    AacChainConfig chainConfig() const;
    uint8_t syncByte() const;

private:
    // Offset of the last byte of the run taken last: nothing at or before it
    // is looked at again. -1 before the first run.
    int64_t m_lastTakenByte = -1;
};
