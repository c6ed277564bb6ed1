#include "reference/sound_codecs.h"

#include "qt/movie_track.h"
#include "qt/qt_types.h"
#include "reference/audio_frame_duration.h"

bool isLinearPcmCodec(const std::string& codec) {
    // 'ipcm': integer PCM in an ISO file, its byte order in a 'pcmC' atom.
    static const char* const kCodecs[] = {"twos", "sowt", "in24", "in32", "fl32", "fl64", "lpcm", "raw ", "ipcm"};
    for (const char* c : kCodecs)
        if (codec == c)
            return true;
    return false;
}

bool isRecoverableSoundTrack(const MovieTrack& track) {
    return track.m_codec == makeFourcc("mp4a") || isMpegAudioTrack(track) ||
           isLinearPcmCodec(fourccText(track.m_codec));
}
