#pragma once
// Real encoder output for the bitstream tests: raw Annex B streams made by
// ffmpeg (x264, x265), split into NAL units and access units.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bitstest {

// A stream ffmpeg makes: its fixture name and recipe.
struct Fixture {
    const char* name;
    const char* args;
};

struct Stream {
    std::string path;
    std::vector<uint8_t> bytes;
    // NAL units as offsets into bytes (header included, start codes excluded).
    struct Nal {
        size_t offset;
        size_t size;
    };
    std::vector<Nal> nals;
    const uint8_t* data(const Nal& n) const { return bytes.data() + n.offset; }
};

// Makes (or reuses) the fixture and loads it; empty path when ffmpeg failed.
Stream loadStream(const std::string& name, const std::string& ffmpegArgs);

// Calls f(data, length) with every prefix (up to 400 bytes, where headers
// and parameter sets lie) of the first 12 units, each in a heap block of
// exactly its size, so AddressSanitizer builds catch any over-read.
template <typename F>
void forEachPrefix(const Stream& s, F&& f) {
    for (size_t i = 0; i < s.nals.size() && i < 12; ++i)
        for (size_t len = 0; len <= s.nals[i].size && len <= 400; ++len) {
            std::unique_ptr<uint8_t[]> p(new uint8_t[len ? len : 1]);
            std::copy(s.data(s.nals[i]), s.data(s.nals[i]) + len, p.get());
            f(p.get(), len);
        }
}

// Access units as MP4 samples: every unit of one access unit (a new one
// starts at each access unit delimiter), parameter sets left out unless
// keepParameterSets, each unit behind a 4-byte big-endian length.
std::vector<std::vector<uint8_t>> lengthPrefixedSamples(const Stream& s, bool hevc, bool keepParameterSets = false);

}  // namespace bitstest
