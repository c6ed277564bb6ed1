#pragma once
// Writing clips is the driver's job: the movie of each clip when new clip
// detection splits the recording, and of the last clip when the scan ends.
// Counts what all clips of the run held, so the driver can tell a run that
// recovered nothing.

#include "analysers/core/clip_sink.h"

#include <cstdint>

struct RepairState;

class ClipWriter : public ClipSink {
public:
    explicit ClipWriter(RepairState& state) : m_state(state) {}

    // Writes the clip so far, prints the working parameters and starts the
    // next clip with an empty list.
    void startNextClip() override;
    // Writes the last clip and closes it; no clip follows.
    void finishLastClip();
    // Samples handed to the writer over every clip of the run.
    uint64_t samplesRecovered() const { return m_samplesRecovered; }

private:
    void write();
    void printParameters();

    RepairState& m_state;
    uint64_t m_samplesRecovered = 0;
};
