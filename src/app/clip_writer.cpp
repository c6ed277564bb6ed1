#include "app/clip_writer.h"

#include "output/output_writer.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/video_parameters.h"

void ClipWriter::write() {
    m_samplesRecovered += m_state.m_samples.size();
    dumpSamples(m_state);
}

void ClipWriter::printParameters() {
    m_state.m_video->print();
    m_state.m_audio->print();
}

void ClipWriter::startNextClip() {
    write();
    printParameters();
    nextClip(m_state);
}

void ClipWriter::finishLastClip() {
    write();
    reset_clip(m_state, false);
    printParameters();
}
