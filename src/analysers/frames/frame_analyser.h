#pragma once
// The common ground of the codecs whose frames delimit themselves (ProRes,
// DV, Motion JPEG, AIC): a frame is recognised by its own header and taken
// whole, and whatever lies between two frames is the audio of that interval.
// Each codec says only where a frame starts and how long it is; the gaps go
// to the same audio interleave the chunk-based video analysers use, which
// knows PCM of one or several tracks, AAC and MPEG audio, and the timed
// metadata chunks a recorder writes beside them.

#include "analysers/audio/aac_analyser.h"
#include "analysers/audio/audio_interleave.h"
#include "analysers/frames/command_line_pcm.h"

#include <cstdint>
#include <optional>
#include <string>

// What a codec reads from a frame's own header.
struct FrameHeader {
    int64_t size = 0;  // the whole frame in bytes; 0: no frame starts here
    uint32_t width = 0, height = 0;  // 0 when the header does not say
};

// Built on the AAC analyser for its view of the reference's AAC frames, as
// the chunk-based video analysers are.
class FrameAnalyser : public AACAnalyser {
public:
    // `label` names the codec in the audio log lines ("prores" gives
    // "prorespcm at ..." for PCM blocks); `frameLog` starts each frame's line
    // (empty: the codec tells its frames itself).
    FrameAnalyser(RepairState* repairState, ScanInfo* scanInfo, std::string label, std::string frameLog);

    // Served by the registry row's video classes, not by the audio codec.
    bool accepts() override { return StreamAnalyser::accepts(); }

    // Takes the frame starting here, if one does, with the audio in front of
    // it, and moves the scan behind it.
    bool analyse(int64_t offset, ScanBuffer& buffer) final;
    void prepare() override;
    // The audio behind the last frame.
    void finish(ScanBuffer& buffer) override;

protected:
    // The frame starting at `offset` (whose check() answered true).
    virtual FrameHeader readFrame(int64_t offset, ScanBuffer& buffer) = 0;
    // Fills what the working parameters still lack once a frame was seen:
    // the codec, and the audio codec a recorder of it writes.
    virtual void completeParameters(const FrameHeader& frame) = 0;

    // Sets the working video codec, audio codec and frame size where they
    // are still unset. The audio codec is left alone when a reference says
    // the recorder writes no sound.
    void fillParameters(const char* videoCodec, const char* audioCodec, const FrameHeader& frame);

    // findCandidate for a codec whose signature holds the byte `key` at
    // `keyAt`: the byte is looked for with memchr and check() runs only where
    // it stands.
    int32_t findByKeyByte(uint8_t key, int32_t keyAt, int64_t offset, const uint8_t* data, int32_t count,
                          int32_t available);

private:
    // The audio of the gap [a, b): the reference's interleave, or the
    // command line's PCM when there is no reference sound to follow.
    void fillGap(ScanBuffer& buffer, int64_t a, int64_t b, unsigned flags);

    AudioInterleave m_interleave;
    std::optional<PcmLayout> m_commandLinePcm;
    std::string m_label;
    std::string m_frameLog;
    // The first frame whose header runs past the end of the input: the
    // recording was cut inside it, so no audio lies behind its start.
    int64_t m_cutFrame = -1;
    bool m_tookFrames = false;
};
