#include "analysers/frames/frame_analyser.h"

#include "analysers/core/top_level_atom.h"
#include "bitstream/common/byte_read.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>
#include <iomanip>

namespace {

// How far behind the last frame an atom that ends the media data (the
// movie's own index, free space) is looked for.
constexpr int32_t kTrailingAtomSearch = 4 * 1024 * 1024;

// How far in front of a clip's first frame the media data's header is
// looked for: an audio chunk or two.
constexpr int32_t kMediaDataSearch = 4 * 1024 * 1024;

// Audio samples of the one sound track carry no track word.
constexpr int32_t kNoTrackWord = -1;

// Where the payload of the media data atom whose header lies in the
// `kMediaDataSearch` bytes in front of `frame` begins; -1 when none does.
int64_t mediaDataPayloadBefore(ScanBuffer& buffer, int64_t frame) {
    const int64_t from = std::max<int64_t>(frame - kMediaDataSearch, 0);
    ByteBlock block = buffer.readBlock(from, int32_t(frame - from));
    const int64_t n = block.length();
    for (int64_t at = n - 8; at >= 0; --at) {
        if (std::memcmp(block.data() + at + 4, "mdat", 4) != 0)
            continue;
        // A 64-bit size follows a size field of 1.
        const int64_t header = bitstream::readBE32(block.data() + at) == 1 ? 16 : 8;
        if (at + header <= n)
            return from + at + header;
    }
    return -1;
}

}  // namespace

FrameAnalyser::FrameAnalyser(RepairState* repairState, ScanInfo* scanInfo, std::string label, std::string frameLog)
    : AACAnalyser(repairState, scanInfo), m_interleave(repairState, scanInfo, label),
      m_label(label), m_frameLog(std::move(frameLog)) {
    m_interleave.reset();
}

void FrameAnalyser::prepare() {
    m_interleave.reset();
    m_interleave.setAacChain(chainConfig());
    m_cutFrame = -1;
    ReferenceInfo* ref = m_repairState->m_reference.get();
    // The audio frame sizes the interleave accepts come from the
    // reference's samples.
    if (ref && ref->isOpen() && ref->videoSamples().empty())
        ref->collectSamples();
    m_interleave.updateFrameSizeRange();
    m_commandLinePcm = commandLinePcm(*m_repairState);
    m_tookFrames = false;
    m_scanInfo->setFrameStart(0);
    m_scanInfo->setFrameEnd(0);
}

void FrameAnalyser::fillParameters(const char* videoCodec, const char* audioCodec, const FrameHeader& frame) {
    VideoParameters& video = *m_repairState->m_video;
    AudioParameters& audio = *m_repairState->m_audio;
    if (video.m_codec.empty())
        video.m_codec = videoCodec;
    const ReferenceInfo* ref = reference();
    if (audio.m_codec.empty() && (!ref || ref->audioTrack(0)))
        audio.m_codec = audioCodec;
    if (video.m_width == 0)
        video.m_width = frame.width;
    if (video.m_height == 0)
        video.m_height = frame.height;
}

bool FrameAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame = readFrame(offset, buffer);
    if (frame.size <= 0)
        return false;
    // A recorder that pads its frames to one size stores each in a sample of
    // that size, the frame's own structure ending before the padding.
    const ReferenceInfo* ref = reference();
    if (ref && ref->videoSamples().size() > 1) {
        const int64_t lo = ref->layout().m_videoSampleSizeMin, hi = ref->layout().m_videoSampleSizeMax;
        if (lo == hi && hi > frame.size) {
            frame.size = hi;
            FLOG(LogLevel::Debug) << "using framesz=" << std::setw(11) << hi;
        }
    }
    if (offset + frame.size > buffer.fileSize()) {
        FLOG(LogLevel::Debug) << name() << " frame at " << offset << " runs past the end of the input (size="
                              << frame.size << ")";
        if (m_cutFrame < 0 || offset < m_cutFrame)
            m_cutFrame = offset;
        return false;
    }
    completeParameters(frame);
    // Frames follow each other directly or with the audio of their interval
    // between them. A recorder that writes each cycle's audio in front of its
    // video puts audio in front of the first frame too, from the start of the
    // media data on; it is taken behind that frame, which it accompanies.
    const bool first = m_scanInfo->frameEnd() == 0;
    if (!first) {
        const int64_t gapStart = int64_t(m_scanInfo->frameEnd()) + 1;
        if (offset > gapStart)
            fillGap(buffer, gapStart, offset, AudioInterleave::GapPlain);
    }
    add_video_samples(*m_repairState, buffer, offset, int32_t(frame.size), 0);
    if (!m_frameLog.empty())
        FLOG(LogLevel::Info) << m_frameLog << std::setw(11) << offset << "  size=" << std::setw(10) << frame.size;
    m_interleave.countVideoSample();
    m_tookFrames = true;
    if (first) {
        const int64_t payload = mediaDataPayloadBefore(buffer, offset);
        if (payload >= 0 && payload < offset)
            fillGap(buffer, payload, offset, AudioInterleave::GapBehindVideo);
    }
    m_scanInfo->setFrameStart(uint64_t(offset));
    m_scanInfo->setFrameEnd(uint64_t(offset + frame.size - 1));
    m_scanInfo->setGapStart(uint64_t(offset + frame.size));
    m_scanInfo->currentOffset = offset + frame.size;
    return true;
}

void FrameAnalyser::finish(ScanBuffer& buffer) {
    // In the fallback set every frame codec finishes; the sound behind the
    // last frame is that of the codec that took the frames.
    if (m_scanInfo->frameEnd() == 0 || !m_tookFrames)
        return;
    const int64_t from = int64_t(m_scanInfo->frameEnd()) + 1;
    int64_t end = buffer.fileSize();
    if (m_scanInfo->stopOffset > 0)
        end = std::min(end, m_scanInfo->stopOffset + 1);
    if (m_cutFrame >= from)
        end = std::min(end, m_cutFrame);
    // The movie's own atoms behind the media data are no audio.
    if (end - from >= 8) {
        const int32_t n = int32_t(std::min<int64_t>(end - from, kTrailingAtomSearch));
        ByteBlock block = buffer.readBlock(from, n);
        TopLevelAtom atom;
        if (findTopLevelAtom(block.data(), block.length(), from, buffer.fileSize(), block.length() - 1, atom))
            end = std::min(atom.offset, end);
    }
    if (end > from)
        fillGap(buffer, from, end, AudioInterleave::GapAtEnd);
}

void FrameAnalyser::fillGap(ScanBuffer& buffer, int64_t a, int64_t b, unsigned flags) {
    if (!m_commandLinePcm) {
        m_interleave.fillGap(buffer, a, b, flags);
        return;
    }
    if (m_scanInfo->pcmRuns)
        return;
    // Frames carry no sound of their own: all that lies between two of them
    // is the sound of that interval, in whole sample frames.
    const int64_t frame = m_commandLinePcm->frameBytes();
    const int64_t size = (b - a) - (b - a) % frame;
    if (size <= 0 || size > INT32_MAX)
        return;
    addAudioSample(*m_repairState, buffer, a, int32_t(size), kNoTrackWord);
    FLOG(LogLevel::Info) << m_label << "pcm at " << std::setw(11) << a << "  size=" << std::setw(10) << size;
}

int32_t FrameAnalyser::findByKeyByte(uint8_t key, int32_t keyAt, int64_t offset, const uint8_t* data,
                                     int32_t count, int32_t available) {
    for (int32_t i = 0; i < count;) {
        const int32_t rest = std::min(count - i, available - i - keyAt);
        if (rest <= 0)
            return count;
        const void* hit = std::memchr(data + i + keyAt, key, size_t(rest));
        if (!hit)
            return count;
        i = int32_t(static_cast<const uint8_t*>(hit) - data) - keyAt;
        if (check(offset + i, data + i, available - i))
            return i;
        ++i;
    }
    return count;
}
