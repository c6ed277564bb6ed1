#pragma once
// Pictures whose order counts say they are shown for more than one frame
// (a recorder that changes its frame rate, pictures lost in between), or
// whose sound times them stretch by stretch, keep that time in the output:
// the video track gets a time-to-sample table of its own instead of one
// duration for every sample.

struct RepairState;

// Replaces the output video track's time-to-sample table by the found video
// samples' durations when any of them has one and the track holds exactly
// the samples of this dump. Call once every sample is written.
void applyPictureDurations(RepairState& state);
