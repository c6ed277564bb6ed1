#pragma once
// The frame duration a video track's recorder ran at, read from its
// time-to-sample table: what every repaired frame is given.

#include <cstdint>

struct MovieTrack;

// The duration most frames have, unless a shorter one that enough frames
// have divides it and nearly every frame lasts a whole number of it:
// recorders that skip unchanged pictures (or drop frames in the dark) hold
// most frames two or three periods, and the period they ran at is the short
// one. A single long first frame and a short last one do
// not count; where no duration holds half the frames (a jittering clock), the
// pace of its middle frames' decode times is the rate. 0 for a track without timing.
uint32_t videoFrameDuration(const MovieTrack& track);

// Whether one duration holds nearly every frame (the first and the last
// aside): a recorder at a steady rate, whatever odd entries edits left.
bool videoRateSteady(const MovieTrack& track);
