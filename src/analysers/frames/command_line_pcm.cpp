#include "analysers/frames/command_line_pcm.h"

#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"

#include <cstring>
#include <string>

namespace {

struct PcmCodec {
    const char* fourcc;
    uint32_t bits;  // the codec's own sample size; 0: the sound description says
    bool littleEndian;
};

// QuickTime's linear PCM sample descriptions.
constexpr PcmCodec kCodecs[] = {
    {"twos", 16, false}, {"sowt", 16, true}, {"in24", 24, false}, {"in32", 32, false},
    {"fl32", 32, false}, {"fl64", 64, false}, {"raw ", 8, true},  {"lpcm", 0, true},
};

// Most recorders write two channels.
constexpr uint32_t kDefaultChannels = 2;
constexpr uint32_t kDefaultBits = 16;

}  // namespace

std::optional<PcmLayout> commandLinePcm(RepairState& state) {
    const ReferenceInfo* ref = state.m_reference.get();
    if (ref && ref->audioTrack(0))
        return std::nullopt;
    AudioParameters& audio = *state.m_audio;
    const PcmCodec* codec = nullptr;
    for (const PcmCodec& c : kCodecs)
        if (audio.m_codec == c.fourcc)
            codec = &c;
    if (!codec)
        return std::nullopt;
    if (audio.m_sampleSize == 0 || audio.m_sampleSize % 8 != 0) {
        audio.m_sampleSize = codec->bits ? codec->bits : kDefaultBits;
        FLOG(LogLevel::Notice) << "audio sample size not given; using " << audio.m_sampleSize;
    }
    if (audio.m_channels == 0) {
        audio.m_channels = kDefaultChannels;
        FLOG(LogLevel::Notice) << "audio channels not given; using " << audio.m_channels;
    }
    PcmLayout layout;
    layout.channels = audio.m_channels;
    layout.bytesPerSample = audio.m_sampleSize / 8;
    // 8-bit samples have no byte order; 'lpcm' is taken as the little-endian
    // integers recorders write under it.
    layout.littleEndian = codec->littleEndian;
    return layout;
}
