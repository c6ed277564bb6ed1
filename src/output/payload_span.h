#pragma once
// Collects the payloads of consecutive samples that lie next to each other
// and writes them to the output movie in one piece: a recording's chunk
// becomes one write instead of one per frame. With a source file the bytes
// are copied from the input by the kernel and never read by the program.

#include <cstdint>
#include <vector>

struct MovieFile;
struct MovieTrack;

namespace platform {
class File;
}

// Input bytes already copied into the movie: each piece's `length` bytes
// at file offset `output` are the input's at `input`.
struct PrecopiedRun {
    struct Piece {
        int64_t input = 0;
        uint64_t output = 0;
        uint64_t length = 0;
    };
    std::vector<Piece> pieces;  // by output offset, none overlapping

    // How many of the `size` bytes that go to `position` from the input at
    // `inputOffset` are in place already, counted from the first.
    uint64_t covers(uint64_t position, int64_t inputOffset, uint64_t size) const;
};

class PayloadSpan {
public:
    // `source` (may be null) is the input the samples' offsets refer to;
    // copies from it skip what `precopied` already put in place.
    PayloadSpan(MovieFile* movie, platform::File* source, const PrecopiedRun& precopied = PrecopiedRun())
        : m_movie(movie), m_source(source), m_precopied(precopied) {}
    ~PayloadSpan() { flush(); }
    PayloadSpan(const PayloadSpan&) = delete;
    PayloadSpan& operator=(const PayloadSpan&) = delete;

    // Enters the sample in the track's tables at the place its bytes will
    // take in the file. The bytes are the source's at `inputOffset` when
    // there is a source and `data` is null, else `data`'s, which must then
    // stay valid and unchanged until the next flush. False when the track
    // refused the sample (nothing kept).
    bool add(MovieTrack* track, const uint8_t* data, int64_t inputOffset, uint32_t size, uint32_t compositionOffset);
    // Writes what was kept; false when the file took fewer bytes.
    bool flush();

private:
    MovieFile* m_movie;
    platform::File* m_source;
    PrecopiedRun m_precopied;
    const uint8_t* m_start = nullptr;  // null: the kept bytes are the source's
    int64_t m_sourceStart = 0;
    uint64_t m_length = 0;
};
