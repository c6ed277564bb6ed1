#pragma once
// The records of a Canon REPI recording: a 20-byte header starting "repi"
// with the record kind at bytes 8-11; video records carry a table of sample
// sizes (u32 little-endian) and the samples, audio records a fixed block of
// PCM, timecode records 68 bytes in all.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace repi {

constexpr size_t kHeaderBytes = 20;
constexpr uint32_t kAudioBlockBytes = 46080;
constexpr uint64_t kTimecodeRecordBytes = 68;
constexpr uint32_t kMaxSamples = 120;
constexpr uint32_t kMaxSampleBytes = 20000000;

enum class Kind { None, Video, Audio, Timecode };

// The kind of the record starting at p (at least 12 bytes needed).
Kind recordKind(const uint8_t* p, size_t available);

inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Sample count of a video record header; 0 when out of range.
uint32_t videoSampleCount(const uint8_t* header);

// Sample sizes from the size table; empty when one is out of range or the
// record (which starts at `start`) would end beyond `fileSize`.
std::vector<uint32_t> videoSampleSizes(const uint8_t* table, uint32_t count, uint64_t start, uint64_t fileSize);

}  // namespace repi
