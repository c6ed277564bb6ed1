#pragma once
// What new clip detection asks of the driver when it decides that a new
// recording starts: write out the clip collected so far and start the next.
// Analysers only decide; writing movies stays with the driver.

class ClipSink {
public:
    virtual ~ClipSink() = default;
    // Writes the current clip's movie, prints the working parameters and
    // starts the next clip with an empty found-sample list.
    virtual void startNextClip() = 0;
};
