#pragma once
// A recording cut short mid-file ends with the start of a picture: whole
// units of it, then one whose length runs past the last byte. Those bytes
// are neither a frame (the picture cannot be decoded whole) nor sound; the
// audio in front of them ends where they begin.

#include "analysers/chunk/learned_sample_codec.h"

#include <cstdint>

// Where such a picture begins in the `n` bytes at `data`, which run to the
// end of the input: the first position from which length-prefixed units
// follow one another up to a last one that runs past the end, declaring at
// most `maxUnit` bytes, and that the codec takes for one whole picture once
// that last unit is cut to the bytes there are, or whose whole units are
// all parameter sets the reference's samples carried (the cut fell in front
// of the first slice). `n` when none does.
int64_t cutPictureStart(const LearnedSampleCodec& codec, const uint8_t* data, int64_t n, int64_t maxUnit);
