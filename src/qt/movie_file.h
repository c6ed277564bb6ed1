#pragma once
// An open movie, read (mode 'r') or being written (mode 'w'): the I/O state of
// the field primitives, the movie header and up to 16 tracks held inline.

#include <string>

#include "platform/file.h"
#include "qt/movie_track.h"

constexpr int kMaxTracks = 16;
constexpr size_t kMaxFileNameBytes = 4095;

// Created by QTOpen / QTCreate and released by QTClose only: the record is
// allocated zeroed in one block whose untouched configuration slots cost no
// resident memory.
struct MovieFile {
    // I/O state of the field primitives.
    platform::File m_file;
    std::string m_fileName;   // at most kMaxFileNameBytes
    char m_mode = 'r';        // 'r' reading, 'w' writing
    uint64_t m_position = 0;  // the library's own idea of the file offset
    int32_t m_depth = -1;     // atom nesting, for trace indentation
    uint32_t m_traceMask = 0; // trace classes printed: 1 atoms/scalars, 2 tables, 4 payload
    uint64_t m_fileSize = 0;  // reader: size at open; no atom is read beyond it

    BrandRecord m_brand;
    int32_t m_trackCount = 0;
    MovieTrack m_tracks[kMaxTracks];
    MovieTrack* m_currentTrack = nullptr;  // the track opened by the last tkhd
    MovieTrack* m_videoTrack = nullptr;    // the first 'vide' track
    // Writer: the metadata tracks, by their place among the source's.
    MovieTrack* m_metaTracks[kMaxTracks] = {};
    int32_t m_audioTrackCount = 0;
    MovieTrack* m_audioTracks[kMaxTracks] = {};  // every 'soun' track, in order
    uint32_t m_layoutMode = 0;      // writer: 1 adds tapt, sgpd and audio edit lists
    uint32_t m_movieTimescale = 0;  // mvhd
    uint32_t m_movieDuration = 0;   // mvhd, movie units
    uint64_t m_mdatHeaderOffset = 0;  // writer: where the mdat header starts
    uint64_t m_mdatOffset = 0;        // first byte after the mdat header (0: none seen)
    uint64_t m_moovOffset = 0;        // first byte after the moov header (0: none seen)
    uint8_t m_videoMatrix[36] = {};   // writer: matrix for video tracks (all zero: identity)
};
