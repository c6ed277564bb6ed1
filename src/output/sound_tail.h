#pragma once
// An audio encoder ends on whole frames, so the last one or two frames of a
// recording hold silence beyond the sound; phones and Apple's writers end
// the sound track's edit before them. A repaired track that holds the
// recording's last sound ends its edit the same way.

struct RepairState;

// Ends each sound track's edit where the reference's edit ends relative to
// its last frame, when that leaves out less than three of its frames and
// the track's end is all there: the input's media data is whole, or (one
// sound track) the data behind the track's last sample is more than twice
// what the reference writes between two chunks of it, so no chunk of it
// was cut off. Where the reference's sound stops with its pictures instead,
// ends it with the repaired pictures, when the input's media data is whole
// and no more of the sound runs past them than the reference's does and a
// frame. Call once every sample is written. Does nothing otherwise.
void trimSoundTails(RepairState& state);
