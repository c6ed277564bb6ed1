#pragma once
// Repaired pictures timed by their sound, for recorders whose frame rate
// varies (see reference/sound_pace.h): the pictures of such a recording
// last what the sound between its chunks of pictures says, where the
// reference's frame rate would stretch or squeeze them against the sound.

struct RepairState;

// Gives the clip's new video track the frame duration that the found sound
// gives the found pictures, where it times them better than the
// reference's rate: only for a reference whose sound times its own
// pictures, and only where the two differ by more than a jittering clock's
// estimate or a sound track cut at chunk edges would. Where the rate
// changes within the recording, each found picture gets the duration of
// its stretch of sound instead. The found pictures' composition offsets
// are rewritten to match. Call once the tracks are created, before any
// sample is written.
void paceVideoBySound(RepairState& state);
