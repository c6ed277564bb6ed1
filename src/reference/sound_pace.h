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
// leaves it to the recording: where all three measures agree on it, its
// sound between chunks is regular enough to time the pictures, to about
// as much as they disagree.

#include <cstdint>

struct MovieTrack;

// Agreed: the three measures' mean, where they agree to 15%.
enum class SoundPaceMeasure { None, Behind, InFront, Slope, Agreed };

// Takes a recording's pictures and sound in the order of the file and
// measures the seconds each picture lasts.
class SoundPace {
public:
    void picture();
    // Sound in the pace's track only (the first), in seconds.
    void sound(double seconds);
    // Seconds per picture by `measure`; 0 when fewer than three chunks of
    // pictures with sound between them, or less than a second of that
    // sound, were seen (eight chunks, and measures that agree, for Agreed).
    double secondsPerPicture(SoundPaceMeasure measure) const;
    // How far apart the three measures are: the largest over the smallest,
    // less 1; infinite when one of them has nothing to go on.
    double disagreement() const;
    // Whether enough chunks came to tell which measure holds.
    bool telling() const;
    // The share of the measured pictures that one chunk of them is: how
    // far off all three measures are together where a recorder wrote one
    // chunk of sound ahead of the pictures it belongs with.
    double chunkShare() const;

private:
    struct Measures {
        double behind, inFront, slope;
    };
    Measures measures() const;

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
};

// The measure by which the reference's own sound comes closest to its
// pictures' mean duration, within 3%; None where none does; Agreed where
// the reference has too few chunks to tell. A reference at a steady rate
// teaches a measure too: a recording from the same recorder may have been
// made at another rate.
SoundPaceMeasure learnSoundPace(const MovieTrack& video, const MovieTrack& sound);
