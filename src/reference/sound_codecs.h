#pragma once
// The sound a repair can find in raw bytes: AAC, whose decoder tells where a
// frame ends; MPEG audio, whose headers do; and linear PCM, cut into chunks
// of whole sample frames. A track of any other codec (AC-3, ALAC, Opus,
// G.711, ...) has nothing the scan could follow its chunks by.

#include "qt/qt_types.h"

#include <string>

struct MovieTrack;

// The handler type a reference's sound track of such a codec is given in
// place of 'soun': its chunks still lie between the others, but it has no
// part in the sound the repair finds, and none in the timed metadata.
constexpr Fourcc kSetAsideSoundHandler = makeFourcc("xsnd");

// QuickTime's linear PCM sample descriptions: 16-bit big- and little-endian,
// 24- and 32-bit integers, 32- and 64-bit floats, and the generic ones whose
// format flags say the rest. None has framing of its own.
bool isLinearPcmCodec(const std::string& codec);

// Can the repair find this sound track's chunks?
bool isRecoverableSoundTrack(const MovieTrack& track);
