#include "analysers/audio/pcm_analyser.h"

#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_track.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Sound is read in blocks of about this many bytes (whole sample frames).
constexpr int32_t kBlockBytes = 120;
// This many equal values in a row are digital silence, or zeros that are not
// sound at all; without a layout to say where sound sits, neither is taken.
constexpr int64_t kFrozenFrames = 1000;
// Sound-like frames a position must begin with to be worth a run. Compressed
// data passes each frame's jump test about one time in six, so a few frames
// tell it from sound at once, and a run that starts a byte off the sound's
// frame grid fails just as quickly.
constexpr int kProbeFrames = 8;
// Without a reference sound track the recorder's chunk is unknown: samples of
// this many frames are reported.
constexpr int64_t kDefaultChunkFrames = 5000;
// Audio samples of this analyser carry no track word.
constexpr int32_t kAudioWordNone = -1;

double fullScale(const PcmFormat& f) { return double(int64_t(1) << (f.bitsPerSample - 1)); }

// Do the frames at `data` continue the sound whose last values were
// `previous`? Looks at most kProbeFrames frames and no byte past `available`.
bool startsLikeSound(const uint8_t* data, int32_t available, const PcmFormat& f, const int32_t previous[2]) {
    const int fs = f.frameBytes();
    const int bytes = f.bitsPerSample / 8;
    const int32_t limit = f.jumpLimit();
    int32_t left = previous[0], right = previous[1];
    for (int i = 0; i < kProbeFrames && (i + 1) * fs <= available; ++i) {
        const uint8_t* frame = data + i * fs;
        const int32_t s = f.sampleAt(frame);
        if (std::abs(s - left) >= limit)
            return false;
        const int32_t r = f.channels >= 2 ? f.sampleAt(frame + bytes) : right;
        if (std::abs(r - right) >= limit)
            return false;
        left = s;
        right = r;
    }
    return true;
}

}  // namespace

bool pcmLittleEndian(const MovieTrack& track) {
    // 'sowt' is little-endian and 'twos' big-endian by name; 'in24' says
    // little-endian with an enda of 1, and version-2 'lpcm' carries a
    // big-endian flag.
    const std::string codec = fourccString(track.m_codec);
    if (codec == "twos")
        return false;
    if (codec == "in24")
        return track.m_endianness == 1;
    if (codec == "lpcm")
        return (track.m_lpcmFlags & 2) == 0;
    if (codec == "ipcm")
        return track.m_pcmcLittleEndian;
    return true;
}

PCMAnalyser::PCMAnalyser(RepairState* repairState, ScanInfo* scanInfo) : StreamAnalyser(repairState, scanInfo) {}

bool PCMAnalyser::referencePlacesSound() const {
    const ReferenceInfo* ref = m_repairState ? m_repairState->m_reference.get() : nullptr;
    return ref && ref->isOpen() && ref->audioTrack(0) && ref->videoTrack() && ref->layout().m_audioChunksSizeAll > 0 &&
           ref->layout().m_videoSamplesPerChunk > 0;
}

PcmFormat PCMAnalyser::format() const {
    PcmFormat f;
    const AudioParameters* audio = m_repairState ? m_repairState->m_audio.get() : nullptr;
    if (audio) {
        f.bitsPerSample = int(audio->m_sampleSize ? audio->m_sampleSize : 16);
        f.channels = int(audio->m_channels ? audio->m_channels : 2);
    }
    const ReferenceInfo* ref = m_repairState ? m_repairState->m_reference.get() : nullptr;
    const MovieTrack* track = ref && ref->isOpen() ? ref->audioTrack(0) : nullptr;
    const std::string codec = track ? fourccString(track->m_codec) : (audio ? audio->m_codec : std::string());
    // Without a reference, little-endian as 'sowt' writes.
    if (track)
        f.littleEndian = pcmLittleEndian(*track);
    else
        f.littleEndian = codec != "twos" && codec != "in24";
    f.chunkFrames = kDefaultChunkFrames;
    if (track && track->m_sampleToChunk.size() > 0 && track->m_sampleToChunk[0].m_samplesPerChunk > 0)
        f.chunkFrames = track->m_sampleToChunk[0].m_samplesPerChunk;
    return f;
}

bool PCMAnalyser::accepts() {
    m_format = format();
    // Where the reference shows where the sound sits, the interleave takes it
    // whole, digital silence included; reading it as a run loses what does not
    // fill a chunk and the silence.
    m_runs = m_scanInfo && m_scanInfo->pcmFilter && !referencePlacesSound() && m_format.usable();
    if (m_scanInfo)
        m_scanInfo->pcmRuns = m_runs;
    if (m_scanInfo && m_scanInfo->pcmFilter && !m_runs)
        FLOG(LogLevel::Info) << "PCMAnalyser: the reference's interleave places the sound; its gaps are taken whole";
    return true;
}

void PCMAnalyser::prepare() {
    m_resume = 0;
    m_previous[0] = m_previous[1] = 0;
}

bool PCMAnalyser::check(int64_t offset, const uint8_t* data, int32_t available) {
    return m_runs && offset >= m_resume && startsLikeSound(data, available, m_format, m_previous);
}

int32_t PCMAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    if (!m_runs || count <= 0)
        return std::max(count, 0);
    int32_t i = 0;
    if (offset < m_resume)
        i = int32_t(std::min<int64_t>(m_resume - offset, count));
    for (; i < count; ++i)
        if (startsLikeSound(data + i, available - i, m_format, m_previous))
            return i;
    return count;
}

PcmRun PCMAnalyser::measureRun(ScanBuffer& buffer, int64_t offset, const PcmFormat& f) {
    PcmRun run;
    const int fs = f.frameBytes();
    const int bytes = f.bitsPerSample / 8;
    const int32_t block = std::max(fs, kBlockBytes / fs * fs);
    const double scale = fullScale(f);
    const int32_t limit = f.jumpLimit();
    const int64_t wanted = f.chunkFrames + std::max<int64_t>(m_scanInfo->pcmStartAdjustment, 0);
    int32_t left = m_previous[0], right = m_previous[1];
    int64_t unchanged = 0;
    int64_t pos = offset;
    run.endOffset = offset;
    while (run.frames < wanted) {
        const uint8_t* data = buffer.get(pos, block);
        if (buffer.available() < block)
            return run;
        for (int32_t i = 0; i + fs <= block && run.frames < wanted; i += fs, pos += fs) {
            const int32_t s = f.sampleAt(data + i);
            const int32_t r = f.channels >= 2 ? f.sampleAt(data + i + bytes) : right;
            run.lastDiff = s - left;
            run.lastDiff2 = r - right;
            unchanged = s == left ? unchanged + 1 : 0;
            if (unchanged >= kFrozenFrames) {
                // The frozen stretch is no part of the run; the scan goes on
                // behind it, so it is read only once.
                run.frames -= unchanged - 1;
                int64_t end = pos + fs;
                for (;;) {
                    const uint8_t* next = buffer.get(end, fs);
                    if (buffer.available() < fs || f.sampleAt(next) != s)
                        break;
                    end += fs;
                }
                run.endOffset = end;
                run.frozen = true;
                return run;
            }
            if (std::abs(run.lastDiff) >= limit || std::abs(run.lastDiff2) >= limit) {
                run.endOffset = pos;
                return run;
            }
            if (run.frames == 0)
                run.startValue = s;
            run.energy += s / scale;
            left = s;
            right = r;
            ++run.frames;
            run.endOffset = pos + fs;
            if (run.frames == f.chunkFrames)
                run.stopValue = s;
        }
    }
    m_previous[0] = left;
    m_previous[1] = right;
    return run;
}

bool PCMAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    if (!m_runs || offset < m_resume)
        return false;
    AudioParameters& audio = *m_repairState->m_audio;
    if (audio.m_codec.empty())
        audio.m_codec = "sowt";
    const PcmFormat& f = m_format;
    const int64_t fs = f.frameBytes();
    const int64_t cut = m_scanInfo->pcmStartAdjustment;
    const PcmRun run = measureRun(buffer, offset, f);
    const int64_t start = offset + cut * fs;
    const int64_t size = f.chunkFrames * fs;
    // A negative cut moves the sample in front of the run, but never so far
    // that the scan would meet the same run again.
    if (run.frames >= f.chunkFrames + std::max<int64_t>(cut, 0) && start >= 0 && start + size > offset) {
        FLOG(LogLevel::Info) << "PCM   at " << start << "  size=" << size << "  startvalue=" << run.startValue
                             << "  stopvalue=" << run.stopValue << "  energy=" << run.energy << "  diff=" << run.lastDiff
                             << "  diff2=" << run.lastDiff2;
        addAudioSample(*m_repairState, buffer, start, int32_t(size), kAudioWordNone);
        m_resume = start + size;
        return false;
    }
    // A run that held to the frame grid for a while was sound too short for a
    // chunk, and a frozen stretch is silence: the scan goes on behind them. Anything shorter may
    // have started off the grid, so the next byte is tried.
    const bool onGrid = run.frozen || run.frames >= kProbeFrames;
    m_resume = onGrid ? std::max(offset + 1, run.endOffset - cut * fs) : offset + 1;
    return false;
}
