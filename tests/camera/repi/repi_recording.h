#pragma once
// Builds Canon REPI recordings in memory: timecode records, video records
// (size table, then x265 access units as length-prefixed NAL units) and
// records of 46080 bytes of 16-bit stereo PCM.

#include "camera/rsv/rsv_recording.h"

#include <cstdint>
#include <vector>

namespace repitest {

using rsvtest::Bytes;

struct RepiRecording {
    Bytes file;
    std::vector<Bytes> samples;  // video, in file order
    std::vector<Bytes> audio;    // PCM blocks, in file order
    std::vector<uint64_t> videoRecords;  // file offsets
};

// One video record of `perRecord` samples then `audioPerRecord` audio
// records, until the samples run out; `extraAudio` more audio records at the
// end; a closing timecode record.
RepiRecording makeRepi(const std::vector<Bytes>& units, size_t perRecord, size_t extraAudio,
                       size_t audioPerRecord = 1);

}  // namespace repitest
