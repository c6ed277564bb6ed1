#pragma once
// Reading a QuickTime / MP4 movie into a MovieFile, per-sample lookups on its
// tables, and the printed summary.

#include <cstdint>
#include <string>

#include "qt/movie_file.h"

// Opens a movie for reading; with parse the whole atom tree is walked at once.
// Prints "QTOpen: cannot open file: ..." and returns null on failure.
MovieFile* QTOpen(const std::string& fileName, uint32_t traceMask, bool parse);

// Walks the atoms from the current position over length bytes (with
// skipHeader the first child starts 8 bytes in, after the parent's header).
void parseContainer(MovieFile* file, uint64_t length, bool skipHeader);

// Parses the one atom that starts at offset with its handler (tables go into
// the current track). Used to collect loose table atoms. False when no header
// could be read there.
bool QTParseAtom(MovieFile* file, uint64_t offset);

// Appends an empty track and makes it current; null (with a message) when all
// 16 are in use.
MovieTrack* addTrack(MovieFile* file);

// Prints the movie summary; nothing for a null file.
void QTDump(const MovieFile* file);

// Closes and releases a movie; a movie being written is completed first.
// False when completing a written movie failed. Accepts null.
bool QTClose(MovieFile* file);

// Per-sample lookups; samples and chunks are numbered from 1; 0 = unknown.
uint32_t QTGetSampleSize(const MovieTrack* track, uint32_t sample);
uint64_t QTGetSampleOffset(const MovieTrack* track, uint32_t sample);
uint32_t QTGetSamplesPerChunk(const MovieTrack* track, uint32_t chunk);
uint32_t QTGetCompositionOffset(const MovieTrack* track, uint32_t sample);
double QTGetFrameRate(const MovieTrack* track);
