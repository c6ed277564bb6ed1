#pragma once
// Real encoder output for the bitstream tests: raw Annex B streams made by
// ffmpeg (x264, x265), split into NAL units and access units, plus what
// ffprobe and ffmpeg's trace_headers filter say about them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bitstest {

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

// Syntax elements per slice from ffmpeg's trace_headers filter, in decoding
// order: each map holds the first value of each element name inside that
// slice header. sliceStart is the element that opens a slice header.
std::vector<std::map<std::string, int64_t>> traceSlices(const std::string& path, const std::string& sliceStart);

// What a sequence parameter set says about the picture, in the terms ffprobe
// reports, for codec-independent comparison.
struct PictureFacts {
    uint32_t width = 0, height = 0;
    int level = 0;
    double frameRate = 0;
    unsigned primaries = 2, transfer = 2, matrix = 2;
    bool signalTypePresent = false, fullRange = false;
};

// The facts of an H.264 or HEVC sequence parameter set (both name their
// VUI fields alike); the level is where the codecs differ.
template <typename Sps>
PictureFacts factsOf(const Sps& sps, int level) {
    PictureFacts facts;
    facts.width = sps.width();
    facts.height = sps.height();
    facts.level = level;
    facts.frameRate = sps.frameRate();
    facts.primaries = sps.vui.colour_primaries;
    facts.transfer = sps.vui.transfer_characteristics;
    facts.matrix = sps.vui.matrix_coefficients;
    facts.signalTypePresent = sps.vui.video_signal_type_present_flag;
    facts.fullRange = sps.vui.video_full_range_flag;
    return facts;
}

// Expects ffprobe's width, height, level, r_frame_rate and colour fields.
void expectMatchesProbe(const PictureFacts& facts, std::map<std::string, std::string> probe);

}  // namespace bitstest
