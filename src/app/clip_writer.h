#pragma once
// Writing clips is the driver's job: the movie of each clip when new clip
// detection splits the recording, and of the last clip when the scan ends.
// Counts what all clips of the run held and keeps the names of the movies
// written, so the driver can tell the user what came back.

#include "analysers/core/clip_sink.h"

#include <cstdint>
#include <string>
#include <vector>

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
    // Video frames and audio blocks of the clips already written.
    uint64_t videoRecovered() const { return m_videoRecovered; }
    uint64_t audioRecovered() const { return m_audioRecovered; }
    // The movie files created, in the order of their clips.
    const std::vector<std::string>& moviesWritten() const { return m_movies; }

private:
    void write();
    void printParameters();

    RepairState& m_state;
    uint64_t m_samplesRecovered = 0;
    uint64_t m_videoRecovered = 0;
    uint64_t m_audioRecovered = 0;
    std::vector<std::string> m_movies;
};
