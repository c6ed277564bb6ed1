#pragma once
// Sound that only the command line describes (-af, -ar, -ac, -ab): with no
// reference recording to learn the interleave from, the audio a recorder
// wrote between two frames is taken as linear PCM in whole sample frames.

#include <cstdint>
#include <optional>

struct RepairState;

struct PcmLayout {
    int64_t channels = 0;
    int64_t bytesPerSample = 0;
    bool littleEndian = false;
    int64_t frameBytes() const { return channels * bytesPerSample; }
};

// The layout of the working audio when it is linear PCM and no reference
// track tells anything about the sound; none otherwise. A sample size the
// command line left out is the codec's own (16 bits for twos and sowt, ...),
// a channel count it left out is stereo; both are written back to the
// working parameters, which the output's sound description is made from.
std::optional<PcmLayout> commandLinePcm(RepairState& state);
