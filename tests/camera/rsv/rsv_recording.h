#pragma once
// Builds Sony recovery files (RSV) in memory from real encoder output: x264
// or x265 access units (with delimiters) as length-prefixed NAL units, in
// KLV-grouped payloads behind RTMD run headers, or behind runs of RTMD
// packets, each group followed by one block of 16-bit PCM.

#include <cstdint>
#include <string>
#include <vector>

namespace rsvtest {

using Bytes = std::vector<uint8_t>;

// 1 s of 320x240 25 fps test pattern: its access units, length-prefixed,
// the first SPS and (H.264) PPS. scalingLists: x265 with its own quantiser
// scaling lists, which make the SPS longer than 1 KB.
struct Encoded {
    std::vector<Bytes> units;
    Bytes sps, pps;
    std::string elementary;  // the encoder's own Annex B file
};
Encoded encode(bool hevc, bool scalingLists = false);

// A reference movie of the same encoder settings with 16-bit stereo PCM,
// and the audio block size framend takes from it.
std::string referenceMovie(bool hevc);
uint32_t referenceAudioBlock(const std::string& reference);

enum class Layout { Klv, Rtmd };

struct RsvRecording {
    Bytes file;
    std::vector<Bytes> units;  // in file order
    std::vector<Bytes> audio;  // in file order
    std::vector<uint64_t> groupStarts;  // file offset of each group
    std::vector<size_t> firstUnit;      // index of each group's first access unit
};

// bigGroup: bytes of metadata in one more KLV group of each run (so that
// runs reach across the scan's windows).
RsvRecording makeRsv(const Encoded& video, Layout layout, uint32_t audioBlock, size_t unitsPerGroup = 5,
                     uint32_t bigGroup = 0);

Bytes concat(const std::vector<Bytes>& parts, size_t from = 0, size_t to = SIZE_MAX);

}  // namespace rsvtest
