#pragma once
// New clip detection (-nfd): finds no samples itself, but when atom
// signatures of a new recording keep turning up with no sample found in
// between, has the driver write out the clip collected so far and start the
// next one.

#include "analysers/core/stream_analyser.h"

class ClipSink;

#include <cstdint>

// A clip shorter than this is taken for stray atom signatures inside media
// data rather than a recording of its own.
constexpr uint64_t kMinClipSamples = 30;
// Signatures met without any new sample before the current clip is closed;
// a real recording start shows several (ftyp, mdat, the moov tables).
constexpr uint32_t kClipSignatureHits = 5;

class MDATAnalyser : public StreamAnalyser {
public:
    // `clips` (not owned, may be null: then no clip is ever split) is where
    // the analyser asks for the next clip.
    MDATAnalyser(RepairState* state, ScanInfo* info, ClipSink* clips)
        : StreamAnalyser(state, info), m_clips(clips) {}

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    bool accepts() override;
    std::string name() const override { return "MDATAnalyser"; }

private:
    // Does the signature at `offset` name a whole file type atom that
    // another top-level atom follows?
    bool opensRecording(int64_t offset, ScanBuffer& buffer) const;

    ClipSink* m_clips;
    uint64_t m_lastSampleCount = 0;
    // The position last looked at: the scan offers a position again after a
    // hit, and one signature must count once.
    int64_t m_lastOffset = -1;
    uint32_t m_hits = 0;
    bool m_enabled = false;
};
