#pragma once
// The sample lists of an open movie, rebuilt from its tables: the reference's
// samples for import and verification, and the samples of any movie an
// analyser or a camera mode has opened.

#include "scan/media_sample.h"

#include <vector>

struct MovieFile;
struct MovieTrack;

// Empties both lists, then appends every sample of the movie's video track
// (offset, size, composition offset) and of its first audio track: one entry
// per sample, or one per chunk when the audio track has a fixed sample size
// (PCM). Logs the first 30 entries of each list at INFO and the completion
// line at NOTICE.
void collectMovieSamples(const MovieFile& movie, std::vector<MediaSample>& video,
                         std::vector<MediaSample>& audio);

// The first `limit` samples of any track (offset and size), without logging:
// what an analyser reads of a track the output does not carry.
std::vector<MediaSample> collectTrackSamples(const MovieTrack& track, size_t limit);
