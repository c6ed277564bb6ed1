#pragma once
// Sequential lookups in a track's sample tables. The container library's
// QTGetSampleOffset, QTGetSamplesPerChunk and QTGetCompositionOffset start
// from the first table entry on every call; walking a long recording sample
// by sample with them is quadratic. These cursors give the same answers for
// non-decreasing sample or chunk numbers in constant amortised time.

#include <cstddef>
#include <cstdint>

struct MovieTrack;

// QTGetSampleOffset for sample numbers 1, 2, ... (non-decreasing).
class SampleOffsetCursor {
public:
    explicit SampleOffsetCursor(const MovieTrack& track);
    // The sample's file offset, or 0 when the tables cannot place it.
    uint64_t offset(uint32_t sample);

private:
    const MovieTrack& m_track;
    size_t m_entry = 0;          // sample-to-chunk entry in force
    uint64_t m_chunk = 0;        // chunk number (from 1) holding m_first
    uint64_t m_first = 1;        // first sample number of that chunk
    uint64_t m_perChunk = 0;     // samples per chunk of the entry in force
    uint64_t m_walkSample = 0;   // listed sizes summed up to (excluding) this sample
    uint64_t m_walkOffset = 0;   // offset of m_walkSample
    bool m_walkValid = false;    // false once a listed size in this chunk was 0 or missing
};

// QTGetSamplesPerChunk for chunk numbers 1, 2, ... (non-decreasing).
class SamplesPerChunkCursor {
public:
    explicit SamplesPerChunkCursor(const MovieTrack& track) : m_track(track) {}
    uint32_t samplesPerChunk(uint32_t chunk);

private:
    const MovieTrack& m_track;
    size_t m_entry = 0;
};

// QTGetCompositionOffset for sample numbers 1, 2, ... (non-decreasing).
class CompositionOffsetCursor {
public:
    explicit CompositionOffsetCursor(const MovieTrack& track) : m_track(track) {}
    uint32_t compositionOffset(uint32_t sample);

private:
    const MovieTrack& m_track;
    size_t m_entry = 0;
    uint64_t m_reached = 0;  // running total of sample counts up to and including m_entry
    bool m_started = false;
};

// The decoding time reached after the first samples of a track, walked
// forward a number of samples at a time.
class DecodeTimeCursor {
public:
    explicit DecodeTimeCursor(const MovieTrack& track);
    // Moves on by `samples` samples, or to the table's end.
    void advance(uint32_t samples);
    uint64_t time() const { return m_time; }
    // True once the table holds no further sample.
    bool done() const;

private:
    const MovieTrack& m_track;
    size_t m_entry = 0;
    uint32_t m_left = 0;  // samples left in m_entry
    uint64_t m_time = 0;
};
