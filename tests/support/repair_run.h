#pragma once
// End to end through the binary: a movie made by ffmpeg loses its index (or
// more), framend repairs it with an intact reference, and ffmpeg's packet
// checksums tell how much of what survived the damage came back.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace repairrun {

using Bytes = std::vector<uint8_t>;

// The movie's bytes in front of its moov: what a recorder leaves when it
// stops before writing the index. With keep below 1, only that share of the
// media data's payload (to a thousandth): a recorder that stopped mid-write.
Bytes withoutIndex(const std::string& file, double keep = 1);

// ffmpeg's complaints on decoding the whole file, without the addresses that
// change from run to run; empty for a clean decode.
std::string decodeErrors(const std::string& file);

// The movie without its leading file type atom, its chunk offsets moved with
// the data: what still cameras that write no ftyp leave.
Bytes withoutFileType(const std::string& file);

// Bytes from a fixed generator: input in which nothing can be found.
Bytes noise(size_t size, uint32_t seed);

// One packet of framemd5 (edit lists ignored: they only shift the timeline).
struct Packet {
    int stream = -1;
    int64_t dts = 0, pts = 0;
    double seconds = 0;  // how long it lasts
    std::string md5;
};
std::vector<Packet> packets(const std::string& file);
// The md5s of one stream's packets in decode order: from packets(), and with
// the streams `map` selects mapped on their own (edit lists kept: "2", "a",
// "s"), for streams ffmpeg would not pick by default (a second sound track).
std::vector<std::string> checksums(const std::string& file, int stream);
std::vector<std::string> mappedChecksums(const std::string& file, const std::string& map);
// How many packets each stream of the file holds.
std::map<int, size_t> packetCounts(const std::string& file);

// Surviving original packets of one stream found in the repaired one, in order.
struct Recall {
    size_t alive = 0, recovered = 0, inPresentationOrder = 0;
    // Recovered packets the movie's sync sample tables (not a parser) call
    // random-access points in the original, and those both movies agree on.
    size_t syncs = 0, syncAgreed = 0;
    double lasted = 0;    // seconds the recovered packets last in the original
    double repaired = 0;  // seconds the repaired stream lasts
    double percent() const { return alive ? 100.0 * double(recovered) / double(alive) : 100.0; }
    // The repaired stream lasts what its packets lasted in the original, to 1%.
    bool timed() const { return repaired > 0.99 * lasted && repaired < 1.01 * lasted; }
};
std::ostream& operator<<(std::ostream& os, const Recall& r);

struct Outcome {
    int exitCode = -1;
    std::string log;     // standard output
    std::string errors;  // standard error
    std::string repaired;
    Recall video, audio;  // streams 0 and 1
};

// Runs the binary with the given (quoted) arguments, standard error kept
// apart in `dir`; only exitCode, log and errors are filled.
Outcome run(const std::string& arguments, const std::string& dir);

// Writes `damaged` as `input` into a fresh scratch folder for `test` and runs
// framend -i <it> -ref <reference> -o <output> <options> there (-ref left out
// for an empty reference); exitCode, log, errors and repaired are filled.
Outcome repairBytes(const std::string& test, const std::string& reference, const Bytes& damaged,
                    const std::string& input, const std::string& options, const std::string& output = "out.mov");

// Writes `damaged` into a fresh scratch folder for `test`, runs
// framend -i <it> -ref <reference> -o repaired<ext> <options> and scores the
// (first clip of the) result against `original` (the reference when empty).
// An empty `reference` runs without one (-ref left out), scored against
// `original`.
Outcome repair(const std::string& test, const std::string& reference, const Bytes& damaged,
               const std::string& options = "", std::string original = "");

// A movie ffmpeg makes for a test: its fixture name and the ffmpeg arguments
// (inputs included); without arguments, a movie kept under tests/ (a
// recording ffmpeg does not make the same way each time).
struct Recording {
    std::string file, args = "";
};

// What a case checks beyond the share of surviving packets that come back.
enum Check : unsigned {
    Order = 1,       // recovered pictures keep their presentation order
    Counts = 2,      // as many packets per stream as the original: nothing else came in
    Clean = 4,       // ffmpeg decodes the repair without a complaint
    Timed = 8,       // the video lasts what its recovered packets lasted
    Identical = 16,  // packet for packet the original, timestamps included
    SoundTimed = 32, // the sound lasts what its recovered packets lasted
    SoundExact = 64, // the sound's packets are the original's, in order
    NoFileType = 128,  // the recording also lost its leading ftyp (and is its own reference)
    NoReference = 256, // repaired without -ref: what the options say is all there is
    TracksExact = 512, // every sound track, each mapped on its own, gets all its packets back
    Sync = 1024,       // the recovered pictures are sync samples where they were in the original
};

// One regression: a recording loses its index (and, with keep below 1, the
// end of its media data), is repaired with a reference and judged.
struct Case {
    std::string name;
    Recording original;
    Recording reference = {};  // no file: the recording is its own reference
    unsigned checks = 0;
    size_t videoPackets = 0;                // surviving video packets, when not 0
    double minVideo = 100, minAudio = 100;  // percent of the surviving packets
    double keep = 1;
    std::string options = "";
};
inline void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
inline std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// Makes, damages, repairs and judges one case; the outcome, for checks of its own.
Outcome expectRepaired(const Case& c);

class Cases : public ::testing::TestWithParam<Case> {};

}  // namespace repairrun
