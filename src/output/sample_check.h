#pragma once
// -check: compares the audio sample just written with the reference's sample
// of the same number, and pauses for the user on a mismatch.

#include "output/repair_state.h"

#include <cstdint>

struct MovieTrack;

// `output` is the track the sample went to, `referenceTrack` the index of the
// reference audio track to compare with, `inputOffset` where the sample was
// read from the input.
void checkAudioSample(const RepairState& state, const MovieTrack* output, int referenceTrack, int64_t inputOffset);

// Waits for one character on standard input, but only when it is a terminal:
// a run fed from a pipe, a file or nothing must never block here.
void pauseForUser();
