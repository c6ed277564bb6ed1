#pragma once
// One track of a movie being read or written: description, codec configuration
// storage and the complete sample tables.

#include "qt/qt_types.h"

struct MovieTrack {
    uint32_t m_trackId = 0;          // from tkhd; initially index + 1
    uint32_t m_width = 0;            // pixels (tkhd, replaced by the video description when non-zero)
    uint32_t m_height = 0;
    uint32_t m_sampleCount = 0;      // stsz entry count (writer: samples added)
    uint32_t m_sampleDuration = 0;   // media units per sample: the stts duration most samples have
    uint32_t m_mediaTimescale = 0;   // mdhd
    uint32_t m_mediaDuration = 0;    // mdhd, media units
    uint32_t m_trackDuration = 0;    // tkhd, movie units
    Fourcc m_codec = 0;              // data format of the first sample description
    uint32_t m_fixedSampleSize = 0;  // stsz; 0 = sizes listed per sample
    uint16_t m_audioChannels = 0;
    // Hz, whole part. Not 16 bits like the version-0 description field:
    // 88.2, 96 and 192 kHz recordings carry their rate in the version-2
    // description, and a truncated rate would retime their sound.
    uint32_t m_audioSampleRate = 0;
    uint16_t m_audioSampleSize = 0;  // bits per sample
    uint16_t m_endianness = 0;       // enda code, or derived for version-2 lpcm; 0 = none
    uint32_t m_lpcmFlags = 0;        // version-2 lpcm format flags
    bool m_pcmcLittleEndian = false; // an ISO 'ipcm' entry's 'pcmC' says little-endian
    uint32_t m_pixelAspect[2] = {};  // pasp hSpacing, vSpacing
    uint32_t m_cleanAperture[8] = {};  // clap: width N/D, height N/D, horiz off N/D, vert off N/D
    H264Config m_avc;
    ESDescriptor m_esds;
    HEVCConfig m_hevc;
    ColourInfo m_colour;
    ExtraAtom m_extraAtom;
    // The sample description after its data reference index, for tracks
    // whose description the library does not interpret (timed metadata such
    // as 'mebx' keys): a writer copies it as it is.
    ExtraAtom m_descriptionBody;
    Fourcc m_handlerType = 0;        // 'vide', 'soun', 'meta', ...
    uint8_t m_matrix[36] = {};       // tkhd

    GrowableTable<uint32_t> m_sampleSizes;
    GrowableTable<uint64_t> m_chunkOffsets;  // absolute file offsets
    GrowableTable<SampleToChunkEntry> m_sampleToChunk;
    GrowableTable<TimeToSampleEntry> m_timeToSample;
    GrowableTable<CompositionOffsetEntry> m_compositionOffsets;
    GrowableTable<EditListEntry> m_editList;
    // stss: the numbers (from 1, ascending) of the samples a decoder may
    // start at. Only meaningful with m_syncKnown: a movie without the table
    // declares every sample one, which is what a track whose pictures were
    // never looked at keeps.
    GrowableTable<uint32_t> m_syncSamples;
    bool m_syncKnown = false;

    // Where the last lookups ended, so that walking a track's samples in order
    // costs one step per sample instead of a walk from the table start.
    struct LookupCursor {
        size_t m_entry = 0;         // table entry reached
        uint64_t m_chunk = 0;       // stsc: chunk reached (0: cursor unset)
        uint64_t m_firstSample = 0; // first sample of that chunk / of that ctts entry
    };
    mutable LookupCursor m_offsetCursor;
    mutable LookupCursor m_compositionCursor;

    // Writer only: the chunk being written.
    uint32_t m_chunkSamples = 0;
    uint32_t m_chunkBytes = 0;
    // Writer only: the timecode track this track refers to ('tref'/'tmcd'),
    // 0 for none. Editors read a video track's start timecode through it.
    uint32_t m_timecodeTrackId = 0;
};
