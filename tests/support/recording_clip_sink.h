#pragma once
// The driver's side of new clip detection, for analyser tests: records the
// number of samples of each clip that ends and starts the next clip as the
// driver does, without writing anything.

#include "analysers/core/clip_sink.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"

#include <cstddef>
#include <vector>

namespace outtest {

class RecordingClipSink : public ClipSink {
public:
    explicit RecordingClipSink(RepairState& state) : m_state(state) {}
    void startNextClip() override {
        clipSizes.push_back(m_state.m_samples.size());
        nextClip(m_state);
    }
    std::vector<size_t> clipSizes;

private:
    RepairState& m_state;
};

}  // namespace outtest
