#pragma once
// How long each compressed audio frame of a track lasts: what every repaired
// frame is given.

#include <cstdint>

struct MovieTrack;

// Does the track hold MPEG audio (MP3 and its kin), stored as '.mp3' or as
// 'mp4a' with an MPEG-1/2 audio object type?
bool isMpegAudioTrack(const MovieTrack& track);

// In units of `timescale` (the repaired track's, its sample rate). AAC: the
// frame length its AudioSpecificConfig declares (1024 or 960, 512 or 480 for
// the low-delay types) at the rate it declares, whatever the track's
// time-to-sample table says.
// MPEG audio: 1152, 576 or 384 samples, where the duration most of its
// samples have is within 1% of one of them.
// Other codecs: the duration most of the track's samples have, converted
// from its media timescale. 0 when the track says nothing usable.
uint32_t audioFrameDuration(const MovieTrack& track, uint32_t timescale);
