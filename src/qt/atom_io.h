#pragma once
// Two-way field primitives: in mode 'r' they read and decode a field, in mode
// 'w' they encode and write it, and either way they print one trace line when
// the trace class is in the file's mask and a label is given.

#include <cstdint>

#include "qt/movie_file.h"

namespace qt {

// Trace classes.
constexpr uint32_t kTraceAtoms = 1;    // atom headers, fourcc labels, scalar fields
constexpr uint32_t kTraceTables = 2;   // table entries, opaque payloads
constexpr uint32_t kTracePayload = 4;  // media payload written by QTAddSamples

bool rw(MovieFile* f, uint8_t* buffer, uint32_t count, const char* label, uint32_t traceClass);
bool rw8(MovieFile* f, uint8_t* value, const char* label, uint32_t traceClass);
bool rw16be(MovieFile* f, uint16_t* value, const char* label, uint32_t traceClass);
bool rw32be(MovieFile* f, uint32_t* value, const char* label, uint32_t traceClass);
bool rw64be(MovieFile* f, uint64_t* value, const char* label, uint32_t traceClass);
bool rwfix16(MovieFile* f, double* value, const char* label, uint32_t traceClass);
bool rwfix32(MovieFile* f, double* value, const char* label, uint32_t traceClass);
bool rw64float(MovieFile* f, double* value, const char* label, uint32_t traceClass);
// MPEG-4 descriptor length (mode 'r' only): up to 4 bytes of 7 bits each.
int32_t readdescrsz(MovieFile* f, const char* label, uint32_t traceClass);
// A fourcc: four raw bytes, traced like rw.
bool rwfourcc(MovieFile* f, Fourcc* value, const char* label, uint32_t traceClass);

// Prints the "[xxxx]" line for an atom type (class 1).
void traceFourcc(MovieFile* f, Fourcc fourcc);

// Moves the library position (and the file) to an absolute offset.
bool seekTo(MovieFile* f, uint64_t offset);

// Writer: patches the size of the atom that began at atomStart to reach the
// current position (32-bit at atomStart, or 64-bit at atomStart + 8), then
// returns to the current position.
bool patchSize(MovieFile* f, uint64_t atomStart, bool size64, const char* label);

}  // namespace qt
