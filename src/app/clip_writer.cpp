#include "app/clip_writer.h"

#include "output/output_writer.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/video_parameters.h"

#include <string>

void ClipWriter::write() {
    m_samplesRecovered += m_state.m_samples.size();
    m_videoRecovered += m_state.videoSampleCount();
    m_audioRecovered += m_state.audioSampleCount();
    dumpSamples(m_state);
    const std::string& created = m_state.m_lastWrittenName;
    if (!created.empty() && (m_movies.empty() || m_movies.back() != created))
        m_movies.push_back(created);
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
