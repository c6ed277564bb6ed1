#include "reference/reference_info.h"

#include "log/logger.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/hevc_colour.h"
#include "reference/reference_chunk_analysis.h"
#include "reference/reference_sample_bytes.h"
#include "reference/reference_sample_collector.h"
#include "reference/sound_codecs.h"

#include <climits>

namespace {

// What a run without a usable reference assumes when asked for defaults:
// NTSC video and 48 kHz 16-bit stereo audio, the commonest camera settings.
constexpr float kDefaultFps = 29.97f;
constexpr uint32_t kDefaultMovieTimescale = 600;
constexpr uint32_t kDefaultAudioChannels = 2;
constexpr uint32_t kDefaultAudioSampleRate = 48000;
constexpr uint32_t kDefaultAudioSampleSize = 16;

}  // namespace

ReferenceInfo::ReferenceInfo() : m_video(new VideoParameters), m_audio(new AudioParameters) {}

ReferenceInfo::~ReferenceInfo() {
    QTClose(m_movie);
}

std::unique_ptr<ReferenceInfo> ReferenceInfo::build(const std::string& fileName, bool useDefaults) {
    std::unique_ptr<ReferenceInfo> info(new ReferenceInfo());
    info->m_movie = QTOpen(fileName, 0, true);
    if (info->m_movie) {
        info->takeFromMovie();
        info->m_movieParameters.m_fileName = fileName;
    } else if (useDefaults) {
        info->m_video->m_fps = kDefaultFps;
        info->m_video->m_timescale = kDefaultVideoTimescale;
        info->m_video->m_timescaleIsDefault = true;
        info->m_movieParameters.m_timescale = kDefaultMovieTimescale;
        info->m_audio->m_channels = kDefaultAudioChannels;
        info->m_audio->m_sampleRate = kDefaultAudioSampleRate;
        info->m_audio->m_sampleSize = kDefaultAudioSampleSize;
        info->m_audio->m_audioTracks = 1;
    }
    info->m_video->m_class = videoClassForCodec(info->m_video->m_codec, info->m_video->m_esds.m_objectType);
    return info;
}

void ReferenceInfo::setAsideUnrecoverableSound() {
    // Such a track's chunks are left where they lie, as bytes no track
    // explains: taken for a track of its own, they would be filled with
    // another track's frames, and the output would carry a track its
    // players cannot read.
    MovieFile& movie = *m_movie;
    int kept = 0;
    for (int i = 0; i < movie.m_audioTrackCount && i < kMaxTracks; ++i) {
        MovieTrack* track = movie.m_audioTracks[i];
        if (!track || isRecoverableSoundTrack(*track)) {
            movie.m_audioTracks[kept++] = track;
            continue;
        }
        FLOG(LogLevel::Warning) << "reference sound track " << track->m_trackId << " ('"
                                << fourccText(track->m_codec)
                                << "'): its codec's frames cannot be found, the track is left out";
        track->m_handlerType = kSetAsideSoundHandler;
    }
    for (int i = kept; i < movie.m_audioTrackCount && i < kMaxTracks; ++i)
        movie.m_audioTracks[i] = nullptr;
    movie.m_audioTrackCount = kept;
}

void ReferenceInfo::takeFromMovie() {
    setAsideUnrecoverableSound();
    MovieFile& movie = *m_movie;
    if (MovieTrack* audio = audioTrack(0))
        m_audio->takeFromTrack(*audio);
    if (MovieTrack* video = movie.m_videoTrack) {
        m_video->takeFromTrack(*video);
        deriveHevcColour();
    }
    m_audio->m_audioTracks = uint32_t(movie.m_audioTrackCount);
    m_cycle.learn(movie);
    m_movieParameters.m_brand = movie.m_brand;
    m_movieParameters.m_trackCount = uint32_t(movie.m_trackCount);
    m_movieParameters.m_timescale = movie.m_movieTimescale;
}

void ReferenceInfo::deriveHevcColour() {
    MovieTrack& video = *m_movie->m_videoTrack;
    if (video.m_colour.m_present || video.m_hevc.m_arrayCount == 0)
        return;
    ColourInfo colour;
    if (!colourFromHevcConfig(video.m_hevc, colour))
        return;
    // The repaired movie gets a colr atom saying what the stream signals, so
    // players that ignore the VUI show the same colours.
    m_colourOverride = colour;
    video.m_colour = colour;
    m_video->m_colour = colour;
}

void ReferenceInfo::print() const {
    m_video->print();
    m_audio->print();
    FLOG(LogLevel::Notice) << "fingerprint: " << m_layout.m_fingerprint;
    FLOG(LogLevel::Notice) << "video sample size max   : " << m_layout.m_videoSampleSizeMax;
    FLOG(LogLevel::Notice) << "video sample size min   : " << m_layout.m_videoSampleSizeMin;
    FLOG(LogLevel::Notice) << "video samples per chunk : " << m_layout.m_videoSamplesPerChunk;
    FLOG(LogLevel::Notice) << "video chunks stop gap   : " << m_layout.m_videoChunksStopGap;
    FLOG(LogLevel::Notice) << "audio samples per chunk : " << m_layout.m_audioSamplesPerChunk;
    FLOG(LogLevel::Notice) << "audio chunks stop gap   : " << m_layout.m_audioChunksStopGap;
    FLOG(LogLevel::Notice) << "audio chunks size all   : " << m_layout.m_audioChunksSizeAll;
    FLOG(LogLevel::Notice) << "audio data start        : " << unsigned(m_audio->m_audioDataStart);
    m_bitstreamStats.printNalSequences();
}

void ReferenceInfo::analyseChunks() {
    if (m_movie)
        ReferenceChunkAnalysis(*this).run();
}

void ReferenceInfo::collectSamples() {
    if (!m_movie)
        return;
    collectMovieSamples(*m_movie, m_videoSamples, m_audioSamples);
    m_audio->m_frameFirstBytes.reset();
    visitReferenceFirstBytes(m_movieParameters.m_fileName, m_audioSamples,
                             [this](uint8_t first) { m_audio->m_frameFirstBytes.set(first); });
}

MovieTrack* ReferenceInfo::videoTrack() const {
    return m_movie ? m_movie->m_videoTrack : nullptr;
}

MovieTrack* ReferenceInfo::audioTrack(int n) const {
    if (!m_movie || n < 0 || n >= m_movie->m_audioTrackCount || n >= kMaxTracks)
        return nullptr;
    return m_movie->m_audioTracks[n];
}

MovieTrack* ReferenceInfo::track(int n) const {
    if (!m_movie || n < 0 || n >= kMaxTracks)
        return nullptr;
    return &m_movie->m_tracks[n];
}

H264Config* ReferenceInfo::videoAvcConfig() const {
    MovieTrack* t = videoTrack();
    return t ? &t->m_avc : nullptr;
}

HEVCConfig* ReferenceInfo::videoHevcConfig() const {
    MovieTrack* t = videoTrack();
    return t ? &t->m_hevc : nullptr;
}

ESDescriptor* ReferenceInfo::videoEsds() const {
    MovieTrack* t = videoTrack();
    return t ? &t->m_esds : nullptr;
}

void ReferenceInfo::dump() const {
    QTDump(m_movie);
}
