#pragma once
// A QuickTime timecode track ('tmcd') holds one sample, the number of the
// recording's first frame, and ffmpeg and many cameras write it in front of
// the first chunk of the media data; some recorders write it when they stop,
// as the media data's last bytes. The recording's own sample stands at the
// same place, so the repaired movie gets its own start timecode back.

struct RepairState;
struct TrailingSample;

// Adds a timecode track like the reference's, with the input's sample, when
// the reference has one in front of its first chunk and the input shows a
// media data header right in front of those bytes, or the reference's ends
// its media data and the input's media data, whole, ends that many bytes
// behind the last sample found, or, with `placed`, the timecode sample
// found between two chunks of the input. Call once the video is
// written: the sample lasts the whole movie. Does nothing otherwise.
void addTimecodeTrack(RepairState& state, const TrailingSample* placed = nullptr);
