#pragma once
// Turns the found samples into the repaired movie (and raw streams): creates
// the movie with the reference's brand, codecs and configuration, copies every
// sample's bytes from the input into it, and keeps the reference's video
// timing when the frame counts agree.

#include "output/repair_state.h"

#include <cstdint>

struct MovieTrack;
struct PrecopiedRun;

// Creates the clip's movie when an output name is set and none is open: the
// one the copier filled during the scan when it is this clip's, with the run
// of payload bytes in place stored in `precopied` (when given).
void ensure_created(RepairState& state, PrecopiedRun* precopied = nullptr);
// Adds the video track from the working video parameters (open movie only).
void create_video_track(RepairState& state);
// Adds one audio track per working audio track (open movie only).
void create_audio_tracks(RepairState& state);

// Append one sample's bytes to the right track of the open movie.
void dump_video_samples(RepairState& state, const uint8_t* data, uint32_t size, int32_t compositionOffset);
// audioWord selects the track when there are several; any other value means
// the block holds one chunk of every track in turn.
void dump_audio_samples(RepairState& state, const uint8_t* data, uint32_t size, int64_t inputOffset,
                        int32_t audioWord);
void dump_meta_samples(RepairState& state, const uint8_t* data, uint32_t size);

// Called by the scan between windows: starts copying the payload into the
// clip's movie once the first sample is found (when the run allows it, see
// RepairState::m_precopyAllowed), and lets the copier follow the samples.
void precopyPayload(RepairState& state);

// The whole run over the found samples: movie and tracks created, samples
// copied (up to the save portion), raw streams written, reference timing
// kept. The movie is completed when the clip is closed (reset_clip) or the
// state is destroyed.
void dumpSamples(RepairState& state);

// Replaces the output video track's time-to-sample table by the reference's
// when the samples are the reference's own (imported, as -sim does) and both
// tracks have the same number of samples. Frames found in another recording
// keep the typical frame duration: that a reference happens to hold as many
// frames says nothing about how long each of them was shown.
void preserveReferenceTiming(RepairState& state);
