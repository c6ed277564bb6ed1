#pragma once
// The interleaving a recorder used, as learnt from the reference's chunks:
// what the analysers need to predict where the next chunk of a damaged file
// starts and how big its parts are.

#include <cstdint>
#include <string>
#include <vector>

// A reference without audio chunks gives no cycle size; the analysers that use
// it as a search window get this many bytes (about 0.5 s of 48 kHz stereo
// 16-bit PCM) instead.
constexpr uint32_t kDefaultAudioChunksSizeAll = 96200;

struct ReferenceChunkLayout {
    uint32_t m_videoSampleSizeMax = 0;    // largest video sample that fits its chunk (0 = none seen)
    uint32_t m_videoSampleSizeMin = 0;    // smallest such sample (0 = none seen)
    uint32_t m_videoSamplesPerChunk = 0;  // samples in the first video chunk
    uint32_t m_videoChunksStopGap = 0;    // bytes after the last sample of the first measurable video chunk
    uint32_t m_audioSamplesPerChunk = 0;  // samples in the last audio chunk counted
    uint32_t m_audioChunkSize = 0;        // bytes of the last audio chunk counted
    uint32_t m_audioChunksStopGap = 0;    // first gap after an audio chunk of the current cycle
    uint32_t m_audioChunksSizeAll = 0;    // largest audio bytes of one cycle (one chunk per audio track)
    // Bytes in front of the first video or sound chunk that belong to tracks
    // of a single chunk (a timecode track's one sample at the start of the
    // media data). A recorder of the same settings writes them there too.
    uint32_t m_mediaDataLead = 0;
    // Bytes at the start of the media data in front of every chunk, that
    // no track lists (an encoder's first frames the writer left out).
    uint32_t m_mediaDataUnlisted = 0;
    // Bytes that lie between every chunk and the next, whatever their
    // tracks (a record some cameras write in front of each chunk); 0: none,
    // or not the same everywhere.
    uint32_t m_chunkPad = 0;
    // Those bytes where they are the same behind every chunk (-1 where
    // they differ): what tells such a record from the start of a frame.
    std::vector<int16_t> m_chunkPadBytes;
    std::string m_fingerprint;            // codec configuration summary
};
