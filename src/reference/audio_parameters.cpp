#include "reference/audio_parameters.h"

#include "log/logger.h"
#include "qt/movie_track.h"
#include "reference/video_parameters.h"

void AudioParameters::takeFromTrack(const MovieTrack& track) {
    m_codec = track.m_codec == 0 ? std::string() : fourccString(track.m_codec);
    m_channels = track.m_audioChannels;
    // A sound description holds the rate in 16 bits: above 65535 Hz (AAC at
    // 88.2 or 96 kHz) it says 0, and the media timescale is the rate.
    m_sampleRate = track.m_audioSampleRate > 0 ? track.m_audioSampleRate : track.m_mediaTimescale;
    m_sampleSize = track.m_audioSampleSize;
    copyRawEsds(track.m_esds, m_rawEsds);
    m_esds = track.m_esds;
    m_avc = track.m_avc;
    m_hevc = track.m_hevc;
}

void AudioParameters::mergeFrom(const AudioParameters& source) {
    if (m_codec.empty())
        m_codec = source.m_codec;
    if (m_channels == 0)
        m_channels = source.m_channels;
    if (m_sampleRate == 0)
        m_sampleRate = source.m_sampleRate;
    if (m_sampleSize == 0)
        m_sampleSize = source.m_sampleSize;
    if (m_audioTracks == 0)
        m_audioTracks = source.m_audioTracks;
    if (m_audioDataStart == 0)
        m_audioDataStart = source.m_audioDataStart;
    if (m_frameFirstBytes.none())
        m_frameFirstBytes = source.m_frameFirstBytes;
    if (m_rawEsds.empty()) {
        m_rawEsds = source.m_rawEsds;
        m_esds = source.m_esds;
    }
}

void AudioParameters::print() const {
    FLOG(LogLevel::Notice) << "audio codec       : " << m_codec;
    FLOG(LogLevel::Notice) << "audio channels    : " << m_channels;
    FLOG(LogLevel::Notice) << "audio sample rate : " << m_sampleRate;
    FLOG(LogLevel::Notice) << "audio sample size : " << m_sampleSize;
    FLOG(LogLevel::Notice) << "audio tracks      : " << m_audioTracks;
}
