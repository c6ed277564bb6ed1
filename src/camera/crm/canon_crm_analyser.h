#pragma once
// Canon CRM recordings in the ordinary scan: takes each run of video samples
// that starts with the CRM marker as a video chunk, and the bytes between
// chunks as one audio run split evenly over the audio tracks. Used when the
// container rebuild cannot run or fails.

#include "analysers/core/stream_analyser.h"

#include <cstdint>

class CanonCrmAnalyser : public StreamAnalyser {
public:
    CanonCrmAnalyser(RepairState* state, ScanInfo* info) : StreamAnalyser(state, info) {}

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    void finish(ScanBuffer& buffer) override;
    void prepare() override;
    bool accepts() override;
    std::string name() const override { return "CanonCrmAnalyser"; }

    // Bytes of one track's share of an audio run of `length` bytes, or 0 when
    // the run cannot be split over the tracks.
    uint64_t perTrackLength(uint64_t length) const;

private:
    void addAudioRun(ScanBuffer& buffer, uint64_t offset, uint64_t length);
    // Bytes of the valid sample at `offset`, or 0.
    uint64_t sampleAt(ScanBuffer& buffer, int64_t offset) const;

    uint64_t m_videoSampleIndex = 0;
    uint64_t m_videoChunkCount = 0;
    uint64_t m_audioRunCount = 0;
    uint64_t m_audioStart = 0;
    int32_t m_tracks = 1;
    int32_t m_bytesPerSample = 2;
    int32_t m_refChunkPerTrack = 0;
    int32_t m_refChunkAllTracks = 0;
};
