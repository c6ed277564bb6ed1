#pragma once
// Everything the reference movie (an intact recording of the same device and
// settings) contributes to a repair: codec parameters, the configuration
// atoms copied into the repaired movie, the chunk layout and, on demand, the
// reference's own sample lists.

#include "scan/media_sample.h"
#include "qt/qt_types.h"
#include "reference/audio_parameters.h"
#include "reference/movie_parameters.h"
#include "reference/reference_bitstream_stats.h"
#include "reference/reference_chunk_layout.h"
#include "reference/reference_interleave_cycle.h"
#include "reference/video_parameters.h"

#include <memory>
#include <string>
#include <vector>

struct MovieFile;
struct MovieTrack;

class ReferenceInfo {
public:
    ReferenceInfo();
    // Closes the reference movie.
    ~ReferenceInfo();
    ReferenceInfo(const ReferenceInfo&) = delete;
    ReferenceInfo& operator=(const ReferenceInfo&) = delete;

    // Opens and condenses a movie. When it cannot be opened the record has no
    // movie and empty parameters, or the classic defaults (29.97 fps,
    // timescales 600, 2 channels of 16-bit 48 kHz audio, one audio track)
    // when useDefaults is set. Never null.
    static std::unique_ptr<ReferenceInfo> build(const std::string& fileName, bool useDefaults);

    // The parameters and chunk layout at NOTICE, then the H.264 NAL unit
    // sequences gathered from the reference samples on standard output.
    void print() const;

    // Learns the chunk layout and builds the fingerprint (see
    // ReferenceChunkAnalysis); does nothing without a movie.
    void analyseChunks();
    // Rebuilds the reference sample lists from the movie's tables.
    void collectSamples();

    // Accessors.
    bool isOpen() const { return m_movie != nullptr; }
    MovieFile* movie() const { return m_movie; }
    MovieTrack* videoTrack() const;
    // Audio track n (from 0); null when n is not below the audio track count.
    MovieTrack* audioTrack(int n) const;
    // Track n (from 0) of the movie; null when n is not below 16 or there is no movie.
    MovieTrack* track(int n) const;
    // The video track's codec storage; null without a video track.
    H264Config* videoAvcConfig() const;
    HEVCConfig* videoHevcConfig() const;
    ESDescriptor* videoEsds() const;
    // QTDump of the reference movie (nothing without one).
    void dump() const;

    VideoParameters& video() { return *m_video; }
    const VideoParameters& video() const { return *m_video; }
    AudioParameters& audio() { return *m_audio; }
    const AudioParameters& audio() const { return *m_audio; }
    MovieParameters& movieParameters() { return m_movieParameters; }
    const MovieParameters& movieParameters() const { return m_movieParameters; }
    // The colour block taken from the HEVC sequence parameter set when the
    // reference has no colr atom (m_present is 0 otherwise).
    const ColourInfo& colourOverride() const { return m_colourOverride; }
    ReferenceChunkLayout& layout() { return m_layout; }
    const ReferenceChunkLayout& layout() const { return m_layout; }
    std::vector<MediaSample>& videoSamples() { return m_videoSamples; }
    const std::vector<MediaSample>& videoSamples() const { return m_videoSamples; }
    std::vector<MediaSample>& audioSamples() { return m_audioSamples; }
    const std::vector<MediaSample>& audioSamples() const { return m_audioSamples; }
    // The sound tracks' chunks, learnt when the movie is opened.
    const ReferenceInterleaveCycle& interleaveCycle() const { return m_cycle; }
    ReferenceBitstreamStats& bitstreamStats() { return m_bitstreamStats; }
    const ReferenceBitstreamStats& bitstreamStats() const { return m_bitstreamStats; }

private:
    void takeFromMovie();
    // Sound tracks of codecs the scan cannot find leave the movie's list
    // of sound tracks.
    void setAsideUnrecoverableSound();
    void deriveHevcColour();

    MovieFile* m_movie = nullptr;  // owned; released with QTClose
    // Heap records: the codec storage of each is several hundred KiB.
    std::unique_ptr<VideoParameters> m_video;
    std::unique_ptr<AudioParameters> m_audio;
    MovieParameters m_movieParameters;
    ColourInfo m_colourOverride;
    ReferenceChunkLayout m_layout;
    std::vector<MediaSample> m_videoSamples;
    std::vector<MediaSample> m_audioSamples;
    ReferenceBitstreamStats m_bitstreamStats;
    ReferenceInterleaveCycle m_cycle;
};
