#pragma once
// Audio codec parameters: what the reference's first audio track contributes
// and, as the working record, the merge of command line, input and reference.

#include "qt/qt_types.h"

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

struct MovieTrack;

struct AudioParameters {
    std::string m_codec;           // the first audio track's codec fourcc as text
    uint32_t m_channels = 0;
    uint32_t m_sampleRate = 0;     // Hz
    uint32_t m_sampleSize = 0;     // bits per sample
    uint32_t m_audioTracks = 0;    // number of audio tracks in the reference
    std::vector<uint8_t> m_rawEsds;  // MPEG-4 descriptor bytes (AAC configuration), at most kMaxEsdsCopyBytes
    ESDescriptor m_esds;           // parsed esds
    H264Config m_avc;              // as stored in the track (normally empty)
    HEVCConfig m_hevc;
    uint8_t m_audioDataStart = 0;  // first byte of the reference's audio chunks
    // Every value the first byte of one of the reference's audio samples
    // takes. Raw AAC frames have no sync word, but their first byte is the
    // first syntax element's id and tag and a few bits after them, so the
    // recorder's frames begin with one of a handful of values. Which handful
    // depends on the channel layout and the content (a mono frame's first
    // byte carries the top bit of its gain), so one byte is not enough.
    std::bitset<256> m_frameFirstBytes;

    // Codec, channels, rate, sample size and configuration storage of an
    // audio track.
    void takeFromTrack(const MovieTrack& track);

    // Fill-if-unset: codec, channels, rate, sample size, track count and data
    // start where they are zero or empty; the esds when this record has none;
    // the first bytes when none are known.
    void mergeFrom(const AudioParameters& source);

    // The "audio ..." lines at NOTICE.
    void print() const;
};
