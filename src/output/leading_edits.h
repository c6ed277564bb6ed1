#pragma once
// A recorder that starts one track later than the others (Apple's writers
// delay the pictures or the sound by a few hundredths of a second) says so
// with empty edits in front of the track's edit list. The repaired track
// takes the reference's: the recording was made with the same delay.

#include <cstdint>

struct MovieTrack;

// Appends to `track`'s edit list the empty edits `source`'s list opens with,
// converted from the reference's movie timescale `fromTimescale` to the
// output's `toTimescale`; returns how many.
int copyLeadingEmptyEdits(const MovieTrack& source, uint32_t fromTimescale, uint32_t toTimescale, MovieTrack& track);
