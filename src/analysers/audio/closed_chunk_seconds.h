#pragma once
// How long a recorder's chunks of one track last, from a movie's tables.

struct MovieTrack;

// Seconds the track's longest chunk lasts, its last chunk aside (where the
// recording ended, not where the recorder would have closed it); 0 for a
// track of one chunk.
double closedChunkSeconds(const MovieTrack& track);
