#pragma once
// Collects the payloads of consecutive samples that lie next to each other in
// memory and writes them to the output movie in one piece: a recording's
// chunk becomes one write instead of one per frame.

#include <cstdint>

struct MovieFile;
struct MovieTrack;

class PayloadSpan {
public:
    explicit PayloadSpan(MovieFile* movie) : m_movie(movie) {}
    ~PayloadSpan() { flush(); }
    PayloadSpan(const PayloadSpan&) = delete;
    PayloadSpan& operator=(const PayloadSpan&) = delete;

    // Enters the sample in the track's tables at the place its bytes will
    // take in the file and keeps `data` for the next flush: the memory must
    // stay valid and unchanged until then. False when the track refused the
    // sample (nothing kept).
    bool add(MovieTrack* track, const uint8_t* data, uint32_t size, uint32_t compositionOffset);
    // Writes what was kept; false when the file took fewer bytes.
    bool flush();

private:
    MovieFile* m_movie;
    const uint8_t* m_start = nullptr;
    uint64_t m_length = 0;
};
