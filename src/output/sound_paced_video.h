#pragma once
// Repaired pictures timed by their sound, for recorders whose frame rate
// varies (see reference/sound_pace.h): the pictures of such a recording
// last what the sound between its chunks of pictures says, where the
// reference's frame rate would stretch or squeeze them against the sound.

#include <cstdint>

struct RepairState;

// The frame duration, in the output video track's units, that the found
// sound gives the found pictures; 0 to keep the track's own. Only for a
// reference whose sound times its own pictures, and only where the two
// differ by more than a jittering clock's estimate or a sound track cut at
// chunk edges would.
uint32_t soundPacedFrameDuration(const RepairState& state);

// A composition offset counted in frames of `from` units, counted in frames
// of `to` units.
int32_t rescaledCompositionOffset(int32_t offset, uint32_t from, uint32_t to);
