#include "output/repair_state.h"

#include "log/logger.h"
#include "output/payload_precopy.h"
#include "platform/file.h"
#include "qt/movie_reader.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

RepairState::RepairState() : m_video(new VideoParameters), m_audio(new AudioParameters) {}

RepairState::~RepairState() {
    m_precopy.reset();
    // A run that ends without closing its clip still gets a playable movie.
    QTClose(m_outputMovie);
    m_outputMovie = nullptr;
    m_rawVideo.close();
    m_rawAudio.close();
}

uint64_t RepairState::videoSampleCount() const { return m_samples.count(SampleKind::Video); }

uint64_t RepairState::audioSampleCount() const { return m_samples.count(SampleKind::Audio); }

void splitOutputName(const std::string& name, std::string& base, std::string& extension) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        base = name;
        extension = name;
        return;
    }
    base = name.substr(0, dot);
    extension = name.substr(dot + 1);
}

void setOutputNames(RepairState& state, const std::string& movie, const std::string& rawAudio,
                    const std::string& rawVideo) {
    state.m_requestedOutputName = movie;
    state.m_outputBase.clear();
    state.m_outputExtension.clear();
    if (!movie.empty())
        splitOutputName(movie, state.m_outputBase, state.m_outputExtension);
    state.m_rawAudioName = rawAudio;
    state.m_rawVideoName = rawVideo;
}

bool outputNameAllowed(const std::string& output, const std::string& input, const std::string& reference) {
    if (output.empty())
        return true;
    const char* what = nullptr;
    if (platform::sameFile(output, input))
        what = "input";
    else if (platform::sameFile(output, reference))
        what = "reference";
    if (!what)
        return true;
    FLOG(LogLevel::Fatal) << "output file " << output << " is the " << what
                          << " file; refusing to overwrite it";
    return false;
}

bool checkOutputNames(const RepairState& state, const std::string& input, const std::string& reference) {
    // The first clip is written to the -o name itself; later clips (-nfd)
    // are checked again when each is created.
    bool ok = outputNameAllowed(state.m_requestedOutputName, input, reference);
    ok = outputNameAllowed(state.m_rawVideoName, input, reference) && ok;
    ok = outputNameAllowed(state.m_rawAudioName, input, reference) && ok;
    return ok;
}
