#pragma once
// How a recorder interleaves the tracks that are not video: for each sound
// track, the chunks it writes (frames per chunk, bytes, frame sizes and
// duration), learnt from the reference's tables. A gap between two video
// chunks of a damaged file holds chunks of these tracks, and these figures
// are what tells one track's chunk from another's.

#include "qt/qt_types.h"

#include <bitset>
#include <cstdint>
#include <vector>

struct MovieFile;

struct InterleaveTrack {
    int audioIndex = -1;          // position among the movie's sound tracks (-1: timed metadata)
    int trackIndex = -1;          // position among all the movie's tracks
    Fourcc codec = 0;
    uint32_t samplesPerChunk = 0; // median over the track's chunks
    uint32_t minChunkBytes = 0;
    uint32_t maxChunkBytes = 0;
    uint32_t minSampleBytes = 0;  // listed sizes, or the fixed size
    uint32_t maxSampleBytes = 0;
    // The largest size that divides every chunk but the last (that one a
    // recording's end cuts short), from two such chunks at least: a muxer
    // that cuts its sound into packets of one size writes chunks of whole
    // packets, and this is the packet (0: unknown).
    uint32_t chunkGranuleBytes = 0;
    double sampleSeconds = 0;     // the most common sample duration, in seconds
    // The top seven bits of the track's frames' first bytes. A raw AAC frame
    // opens with its first element's type and instance tag (a mono track's
    // single channel element, a stereo track's channel pair), which differ
    // between tracks of different layouts even where a decoder takes either.
    // A metadata track's samples open with their own marks ("GP", "DEVC").
    std::bitset<128> frameHeads;
    // AAC: the scale factor bands its frames' first channel codes in a long
    // window (the encoder's cutoff, fixed by its rate and bit rate). Tracks of
    // one channel layout, whose frames decode with either's settings, differ
    // here where their rates or bit rates do.
    std::bitset<64> longWindowBands;
    // MPEG audio: the rate and channels its first frame's header gives (0:
    // unknown). An MP4 sound description says 2 channels for mono.
    int32_t mpegSampleRate = 0;
    int mpegChannels = 0;
    // Timed metadata: the chunk sizes met (at most kMaxMetadataChunkSizes,
    // ascending), each the size of a chunk the track may write.
    std::vector<uint32_t> chunkSizes;
    // The same behind the track's first kOpeningMetadataChunks: a recorder
    // may open a metadata track with descriptors whose sizes do not come
    // back (empty: no chunk there).
    std::vector<uint32_t> laterChunkSizes;
    // Sound: the sizes of its chunks but the first and the last (the
    // recording's start and the reference's end make those), at most
    // kMaxMetadataChunkSizes, ascending.
    std::vector<uint32_t> wholeChunkSizes;
    // Timed metadata: how far the video in front of one of the track's
    // chunks runs past the chunk's first sample (the median over its
    // chunks). A muxer writes a chunk once the interleave has passed it,
    // so this is the time to take off the video's to place a found chunk.
    double chunkLagSeconds = 0;
    // Caption tracks: the most common durations of an empty sample (the
    // pause between two cues, a bare 2-byte length) and of a cue, in
    // seconds; 0 where the track has none.
    double pauseSeconds = 0;
    double cueSeconds = 0;
    // Caption tracks: the last sample is an empty one lying behind every
    // other track's chunks, where the muxer closed the last cue as the
    // media data ended. A recording of the same muxer ends the same way.
    bool closesMediaData = false;
    // Caption tracks: every chunk ends where a video chunk begins (the
    // muxer writes the cues due in front of the pictures they belong to).
    bool endsAtPictures = false;
    // A 'mebx' track's local key ids, as its samples' first boxes carry them
    // (at most kMaxMetadataKeys).
    std::vector<uint32_t> boxKeys;
    // Each of those samples is one box (a sensor's reading, or an empty
    // box for none): a chunk of them parts where its boxes do.
    bool oneBoxPerSample = false;
    // Timed metadata: the metadata track (its position among them) whose
    // chunk starts where most of this track's chunks end, or -1. Recorders
    // that flush several sensors at once write their chunks back to back,
    // and two such chunks read like one of the first track.
    int touchingFollower = -1;
};

constexpr size_t kMaxMetadataKeys = 16;

// One sound chunk of a gap, in file order: the track (its position among the
// sound tracks) and its bytes. Neighbouring chunks of one track count as one.
struct GapChunk {
    int audioIndex = -1;
    uint64_t bytes = 0;
    uint64_t samples = 0;
    // The track's last chunk in the reference: where the reference ended,
    // not where the chunk would have, so it tells nothing of its length.
    bool open = false;
};

constexpr size_t kMaxMetadataChunkSizes = 32;
constexpr uint32_t kOpeningMetadataChunks = 2;

class ReferenceInterleaveCycle {
public:
    // Nothing learnt for a movie without sound tracks.
    void learn(const MovieFile& movie);

    const std::vector<InterleaveTrack>& audioTracks() const { return m_audio; }
    // Timed-metadata tracks ('mebx', 'gpmd', 'tmcd', ...) whose chunks lie
    // between the others.
    const std::vector<InterleaveTrack>& metadataTracks() const { return m_metadata; }
    // Tracks of one sample in one chunk (a timecode) that the recorder
    // writes between the picture chunks, not at an end of the media data
    // (chunkSizes holds the sample's size).
    const std::vector<InterleaveTrack>& singleSampleTracks() const { return m_singleSamples; }
    // The gaps between video chunks hold more than one sound track's chunks,
    // or metadata chunks besides the sound.
    bool sharedGaps() const { return m_audio.size() > 1 || (!m_audio.empty() && !m_metadata.empty()); }
    // Between two video chunks each sound track writes at most one chunk
    // (a recorder flushing all its tracks at once), rather than packets in
    // turns as a muxer interleaving by time does.
    bool oneChunkPerGap() const { return m_oneChunkPerGap; }
    // The sound chunks of one gap last about as long as each other (a
    // recorder flushing its tracks together), rather than each track's
    // packet duration (a muxer interleaving packets of one size by time,
    // whose packets of a low-rate track last longer).
    bool chunksShareTime() const { return m_chunksShareTime; }
    // The sound chunks between the reference's first two video chunks (none
    // when timed metadata lies among them). A muxer starts every recording
    // of one setting the same way, and often not in the order it keeps
    // later: ffmpeg's chunked interleave opens with A2 A1 A2.
    const std::vector<GapChunk>& firstGap() const { return m_firstGap; }
    // The most sound bytes between two of the reference's video chunks: a
    // muxer interleaving by time writes many chunks of each track there.
    uint64_t largestSoundGap() const { return m_largestSoundGap; }
    // The same but for the sound in front of the second video chunk: how
    // much a recording's last flush may hold, which its first gap does not
    // tell (a muxer may hold seconds of sound back behind the first pictures).
    uint64_t largestLaterSoundGap() const { return m_largestLaterSoundGap; }
    // The largest chunk of the sound tracks set aside (their codecs' frames
    // cannot be found), summed over them: bytes between the found sound
    // and pictures that no more than this are those tracks' chunks.
    uint64_t setAsideChunkBytes() const { return m_setAsideChunkBytes; }
    // The muxer ordered the sound tracks' packets by times rounded to
    // milliseconds (an encoder clock of milliseconds), not by their own.
    bool millisecondOrder() const { return m_millisecondOrder; }

private:
    std::vector<InterleaveTrack> m_audio;
    std::vector<InterleaveTrack> m_metadata;
    std::vector<InterleaveTrack> m_singleSamples;
    bool m_oneChunkPerGap = false;
    bool m_chunksShareTime = false;
    uint64_t m_largestSoundGap = 0;
    uint64_t m_largestLaterSoundGap = 0;
    uint64_t m_setAsideChunkBytes = 0;
    bool m_millisecondOrder = false;
    std::vector<GapChunk> m_firstGap;
};
