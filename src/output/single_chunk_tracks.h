#pragma once
// Tracks of one sample in one chunk (a timecode, Apple's one-sample 'mebx'
// tracks) that a recorder writes between two chunks of other tracks, in
// the middle of the media data. The gap search passes over their few
// bytes; the reference shows which chunk they follow and which they
// precede, so the input's bytes between the same two chunks are theirs.

#include "output/trailing_chunks.h"

#include <vector>

struct RepairState;

// The samples of the reference's one-sample tracks placed so in the input:
// right behind a run of samples of the track the reference's sample
// follows, filling the bytes up to a run of the track it precedes (of
// several such places, the one whose run count is nearest the
// reference's). Tracks in front of the first or behind the last picture or
// sound chunk are left to their own rules.
std::vector<TrailingSample> singleChunkSamples(const RepairState& state);
