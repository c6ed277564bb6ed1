#pragma once
// Recorders that stop write their last metadata (Apple's one-sample 'mebx'
// tracks, a sensor's last reading) behind the last picture and sound, as
// the media data's last bytes. Between two pictures no such chunk stands,
// so the gap search never meets them. Where the input's media data ends as
// many bytes behind its last picture or sound as the reference's does, the
// bytes there are laid out like the reference's.

#include <cstdint>
#include <vector>

struct RepairState;
struct MovieFile;
struct MovieTrack;

struct TrailingSample {
    int64_t offset = 0;  // in the input
    uint32_t size = 0;
    const MovieTrack* source = nullptr;  // the reference's track
    int metadataIndex = -1;  // among the reference's interleaved metadata tracks; -1: a track of one chunk
};

// One chunk of a reference track.
struct RefChunk {
    uint64_t offset = 0;
    uint64_t bytes = 0;
    uint32_t firstSample = 0;  // 1-based
    uint32_t samples = 0;
    int track = -1;
};
// Every chunk of every track of `movie`, in file order.
std::vector<RefChunk> referenceChunks(const MovieFile& movie);

// The samples of the reference's metadata chunks (and chunks of a second
// video track) behind its last chunk of the first video track or sound,
// placed in the input behind the video or sound sample that ends as far in
// front of its media data's end (`from`: that sample's end; -1 when nothing
// is placed). Whatever the scan found there gives way: the gap search reads
// metadata chunks back to back as one, the chunk search a still as a
// picture. Empty unless the input's media data is whole; timecode tracks
// are left to their own rebuilding.
std::vector<TrailingSample> trailingSamples(const RepairState& state, int64_t& from);
