#pragma once
// Pictures timed by the sound recorded beside them. A recorder whose frame
// rate varies (a phone in the dark, a muxer that drops repeated pictures, a
// thermal camera that sends frames when it has them) makes recordings in
// which the same number of pictures lasts another time each time, so no
// frame rate read from a reference times them. Its sound is sampled at a
// fixed rate, though, and a recorder that interleaves writes the pictures
// of a stretch of time next to the sound of that stretch: the sound between
// two chunks of pictures lasts as long as the pictures of one of them.
//
// How the sound measures the pictures the reference tells, where its own
// sound gives its own pictures' mean duration: the sound behind a chunk
// (the recorder writes the pictures first) or in front of the next one
// lasts as long as the chunk; or, where chunks of each track are cut at
// other moments (ffmpeg's chunks of a set duration), how much sound comes
// before each picture grows at the pictures' pace. The first chunk's sound
// and the last's are left out, since a recording starts and stops (or is
// cut) at a different moment for each track. A reference too short to tell
// leaves it to the recording: where all three measures find its pictures
// faster or slower than the reference's, by more than the edges of its
// chunks could make them, their mean times the pictures.

#include <cstdint>
#include <vector>

struct MovieTrack;

// Agreed: the three measures' mean.
enum class SoundPaceMeasure { None, Behind, InFront, Slope, Agreed };

// A run of consecutive pictures and the seconds each of them lasts.
struct PaceStretch {
    uint64_t pictures = 0;
    double secondsPerPicture = 0;
};

// Takes a recording's pictures and sound in the order of the file and
// measures the seconds each picture lasts.
class SoundPace {
public:
    // With `stretches`, it also notes where chunks begin, a few seconds of
    // sound apart, for stretches(): a recording's own pace, not a table
    // that may claim years of sound.
    explicit SoundPace(bool stretches = false) : m_keepStarts(stretches) {}

    void picture();
    // Sound in the pace's track only (the first), in seconds.
    void sound(double seconds);
    // Seconds per picture by `measure`; 0 when fewer than three chunks of
    // pictures with sound between them, or less than a second of that
    // sound, were seen.
    double secondsPerPicture(SoundPaceMeasure measure) const;
    // Whether enough chunks came to tell which measure holds.
    bool telling() const;
    // The share of the measured pictures that one chunk of them is: how
    // far off all three measures are together where a recorder wrote one
    // chunk of sound ahead of the pictures it belongs with.
    double chunkShare() const;
    // Every picture seen, in stretches of a few seconds of sound each, each
    // timed by its own sound as `measure` pairs sound with pictures (as
    // Behind, but for InFront): where the rate changes within a recording,
    // one duration for all its pictures runs seconds ahead of the sound in
    // one half and behind it in the other. The stretches at either end take
    // their neighbour's pace: the sound behind the last chunk is cut or
    // stops at another moment, and many recorders write some sound ahead
    // of their first pictures. Empty with fewer than two stretches.
    std::vector<PaceStretch> stretches(SoundPaceMeasure measure) const;

private:
    // Where a chunk of pictures began: the pictures and the sound before
    // it, and the sound before the chunk in front of it.
    struct ChunkStart {
        uint64_t pictures;
        double sound, soundBeforePrevious;
    };
    void chunkBegins();

    uint64_t m_chunks = 0;         // chunks of pictures begun
    uint64_t m_pictures = 0;       // in all chunks
    uint64_t m_firstChunk = 0;     // pictures of the first chunk
    uint64_t m_lastChunk = 0;      // pictures of the chunk last begun
    double m_betweenChunks = 0;    // sound between the first chunk and the last
    double m_behindLast = 0;       // sound behind the chunk last begun
    double m_sound = 0;            // all sound so far
    // Sums over the pictures (numbered from 0) of their numbers and of the
    // sound in front of each, for the least-squares slope of one over the
    // other.
    double m_sumIndex = 0, m_sumIndexSquared = 0, m_sumSound = 0, m_sumIndexSound = 0;
    bool m_keepStarts = false;
    double m_previousStartSound = 0;   // sound before the chunk last begun
    std::vector<ChunkStart> m_starts;  // a few seconds apart, the first chunk's first
    ChunkStart m_lastStart{};          // the chunk last begun
    uint64_t m_chunksAtLastStart = 0;  // chunks begun when the last of m_starts was noted
};

// The measure by which the reference's own sound comes closest to its
// pictures' mean duration, within 3%; None where none does; Agreed where
// the reference has too few chunks to tell. A reference at a steady rate
// teaches a measure too: a recording from the same recorder may have been
// made at another rate.
SoundPaceMeasure learnSoundPace(const MovieTrack& video, const MovieTrack& sound);
