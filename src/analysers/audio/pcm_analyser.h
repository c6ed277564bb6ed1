#pragma once
// Finds uncompressed sound (16- or 24-bit linear PCM) in the input by how it
// behaves: read as samples of the recording's format, consecutive values stay
// close on every channel and never freeze. Runs with -pcm where the reference
// shows no interleave to place the sound; where it does, the video analyser's
// interleave takes each gap's PCM and this analyser stands aside.

#include "analysers/core/stream_analyser.h"

#include <cstdint>
#include <string>

// How the sound's bytes are laid out.
struct PcmFormat {
    int bitsPerSample = 16;  // 16 or 24; anything else is never taken
    int channels = 2;
    bool littleEndian = true;
    int64_t chunkFrames = 5000;  // sample frames per audio sample reported
    int frameBytes() const { return channels * (bitsPerSample / 8); }
    // The smallest step between two samples of a channel that is no sound
    // (real signals are band-limited): 0.4 of full scale, rounded up (13108
    // for 16 bits).
    int32_t jumpLimit() const { return int32_t(((int64_t(4) << (bitsPerSample - 1)) + 9) / 10); }
    bool usable() const { return (bitsPerSample == 16 || bitsPerSample == 24) && channels >= 1; }
    // The signed value of the sample whose bytes start at `p`.
    int32_t sampleAt(const uint8_t* p) const {
        if (bitsPerSample == 16) {
            const uint16_t v = littleEndian ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
            return int16_t(v);
        }
        const uint32_t v = littleEndian ? uint32_t(p[0] | p[1] << 8 | p[2] << 16) : uint32_t(p[0] << 16 | p[1] << 8 | p[2]);
        return int32_t(v << 8) >> 8;
    }
};

struct MovieTrack;
// Are a sound track's samples little-endian, as its sample description says?
bool pcmLittleEndian(const MovieTrack& track);

// A run of sound-like sample frames from a start position.
struct PcmRun {
    int64_t frames = 0;       // frames that continue the sound
    int64_t endOffset = 0;    // first byte not taken into the run
    bool frozen = false;      // ended by values that stopped changing
    int32_t startValue = 0, stopValue = 0;
    int32_t lastDiff = 0, lastDiff2 = 0;
    double energy = 0;
};

class PCMAnalyser : public StreamAnalyser {
public:
    PCMAnalyser(RepairState* repairState, ScanInfo* scanInfo);

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    // Takes a run of at least one chunk's frames from here as one sample;
    // steers only by its resume offset and never asks the driver to restart.
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    // Always true. With -pcm it decides here whether the sound is found by its
    // runs (no layout in the reference) or left to the interleave.
    bool accepts() override;
    void prepare() override;
    std::string name() const override { return "PCMAnalyser"; }

    // The recording's PCM layout from the working audio parameters and the
    // reference's first sound track.
    PcmFormat format() const;
    // Does the reference place sound between its video chunks?
    bool referencePlacesSound() const;

private:
    PcmRun measureRun(ScanBuffer& buffer, int64_t offset, const PcmFormat& f);

    bool m_runs = false;  // finding sound by its runs
    PcmFormat m_format;
    int64_t m_resume = 0;
    // The last values taken on the first two channels: a run carries on from
    // the one before it.
    int32_t m_previous[2] = {0, 0};
};
