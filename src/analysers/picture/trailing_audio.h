#pragma once
// The audio a recorder wrote behind a coded picture, found backwards from
// the next picture's start: start codes tell where a picture begins, never
// where it ends, so the audio in front of the next one decides. AAC and MPEG
// audio are whole frames that end exactly there (AAC measured by decoding,
// MPEG audio by its headers), as many as the reference writes behind that
// frame; PCM has no structure and is as long as the reference's run there.

#include "analysers/audio/aac_frame_chain.h"
#include "analysers/audio/frame_chain.h"
#include "analysers/picture/reference_audio_pattern.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

class ScanBuffer;
struct RepairState;

class TrailingAudio {
public:
    enum class Kind { None, Pcm, Aac, MpegAudio };

    explicit TrailingAudio(RepairState* repairState) : m_repairState(repairState) {}

    // Learns the audio format and the pattern from the reference.
    void prepare();
    Kind kind() const { return m_kind; }
    const ReferenceAudioPattern& pattern() const { return m_pattern; }

    // The audio behind video frame k that ends exactly at `end` and starts
    // at `from` or later, as a chain (PCM: one piece); false when there is
    // none.
    // `previousEnd`: where the audio in front of the picture ends (-1: none).
    bool find(ScanBuffer& input, int64_t from, int64_t end, uint64_t k, int64_t previousEnd, FrameChain& out);
    // The same where `end` is the end of the media data, which the input
    // may have cut short (`mayBeCut`): the whole frames that are left (PCM:
    // the piece whose first sample continues `previousEnd`, the end of the
    // audio in front, or -1). False when the audio cannot be told from the
    // picture.
    bool findAtEnd(ScanBuffer& input, int64_t from, int64_t end, uint64_t k, int64_t previousEnd, bool mayBeCut,
                   FrameChain& out);
    // The audio a recording begins with, in front of its first picture,
    // ending at `end` and starting at `from` or later.
    bool findBefore(ScanBuffer& input, int64_t from, int64_t end, FrameChain& out);
    // Adds the chain's frames as audio samples; `label` names the codec in
    // the log.
    void emit(ScanBuffer& input, const FrameChain& chain, const std::string& label);

private:
    // Frames ending exactly at `end` behind a picture, as many as the
    // reference shows (Exact) or guesses (Guessed: any count it shows will
    // do), or at the end of the input (AtEnd), or running up to an end that
    // cuts one (Cut).
    enum class Search { Exact, Guessed, AtEnd, Cut };
    bool frames(ScanBuffer& input, int64_t from, int64_t end, int64_t expected, Search search, FrameChain& out);
    // Do the `left` bytes behind a run's last whole frame begin a frame
    // longer than that?
    bool cutFrameFits(const uint8_t* data, int64_t left) const;
    // Do the `left` bytes at `data` begin a frame of the recorder's kind
    // (MPEG audio: its rate, one of its sizes) that the input cuts short?
    bool recorderFrameCut(const uint8_t* data, int64_t left) const;
    // Are all frames of the size the reference's come in?
    bool plausibleFrames(const FrameChain& chain) const;
    // PCM in [from, end) whose first sample carries on the sound that ends
    // at `previousEnd`; `whole`: it ends at `end` in whole sample frames.
    bool pcmByCourse(ScanBuffer& input, int64_t from, int64_t end, int64_t previousEnd, bool whole, FrameChain& out);
    // PCM in front of `end` in sample frames that keep one course; `whole`:
    // it ends at `end` in whole frames.
    bool pcmBySmoothness(ScanBuffer& input, int64_t from, int64_t end, bool whole, FrameChain& out);
    // Length of the frame at `data` (n bytes available), 0 when none begins
    // there.
    int64_t frameLengthAt(AacFrameMeter& meter, const uint8_t* data, int64_t n) const;
    // May a frame of the recorder's begin with this byte?
    bool opensFrame(uint8_t first) const;
    // Takes the first `count` frames of `chain` into `out` when they beat
    // the best run so far (lower score, or a commoner first byte).
    void consider(const FrameChain& chain, int64_t count, int64_t score, uint8_t first, int64_t& bestScore,
                  int64_t& bestOpens, FrameChain& out) const;
    int64_t chainFrom(const uint8_t* data, int32_t n, int64_t offset, FrameChain& chain) const;
    // How far the first sample frame at `data` departs from the course of
    // the two frames in front (`before`); smaller is smoother.
    int64_t discontinuity(const uint8_t* before, const uint8_t* data) const;
    int64_t sampleValue(const uint8_t* p) const;
    // The most bytes behind one picture: the reference's, or a guess.
    int64_t largestRun() const { return std::max(m_pattern.largestRun(), m_runGuess); }
    // How far the middle of three sample frames at `data` bends away from
    // the line through the other two.
    int64_t curvature(const uint8_t* data) const;
    // Do the `n` bytes at `data` begin with sound that keeps its course?
    bool smooth(const uint8_t* data, int64_t n) const;

    RepairState* m_repairState;
    Kind m_kind = Kind::None;
    ReferenceAudioPattern m_pattern;
    AacChainConfig m_aac;
    std::array<int64_t, 256> m_firstByteCount{};  // reference AAC frames by first byte (last bit cleared)
    int64_t m_minFrame = 0, m_maxFrame = 0;  // the reference's frames
    int64_t m_frameCap = 0;                  // the longest frame the format allows
    uint32_t m_sampleRate = 0;
    int64_t m_pcmFrame = 0;  // bytes of one sample frame (all channels)
    int64_t m_pcmChannels = 0, m_pcmBytes = 0;
    bool m_pcmLittleEndian = false;
    int64_t m_runGuess = 0;  // without a reference: the longest run the interleave may write
};
