#pragma once
// Collecting found samples: the two operations every analyser reports its
// frames and audio blocks through, clip changes, and the import of the
// reference movie's own samples.

#include "output/repair_state.h"

#include <cstddef>
#include <cstdint>

class ScanBuffer;

// Appends one video frame. Rejected (logged at ERROR) unless the size is below
// the reader's file size; negative sizes are rejected too. The composition
// offset is stored as 0 when composition offsets are ignored. True when the
// sample was taken.
bool add_video_samples(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size,
                       int32_t compositionOffset);

// Appends one audio block with the caller's word (an audio track index, or
// -1 for "interleaved / unknown"). Same size check as for video; true when
// the sample was taken.
bool addAudioSample(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size, int32_t audioWord);

// Appends one timed-metadata sample; `metaTrack` is the metadata track's
// position among the reference's metadata tracks. True when taken.
bool addMetaSample(RepairState& state, const ScanBuffer& reader, int64_t offset, int32_t size, int32_t metaTrack);

// Removes up to `count` audio samples from the end of the current clip's
// list (whatever lies between them) and takes their bytes off the audio
// total. Returns how many were removed.
size_t removeLastAudioSamples(RepairState& state, size_t count);

// Closes the current clip's movie (logging its totals) and names the next
// clip's file; with startNewList the found samples are dropped as well.
void reset_clip(RepairState& state, bool startNewList);

// reset_clip with a new list, then "next clip: " and the new name.
void nextClip(RepairState& state);

// Adds the reference movie's video and audio sample lists as if the scan had
// found them (for -sim and for measuring the analysers against an intact
// file). Does nothing without a reference.
void importReferenceSamples(RepairState& state);

// "total video size: " and "total audio size: " of the current clip.
void printTotals(const RepairState& state);
