#include "analysers/frames/frame_analyser.h"

#include "analysers/core/top_level_atom.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <iomanip>

namespace {

// How far behind the last frame an atom that ends the media data (the
// movie's own index, free space) is looked for.
constexpr int32_t kTrailingAtomSearch = 4 * 1024 * 1024;

}  // namespace

FrameAnalyser::FrameAnalyser(RepairState* repairState, ScanInfo* scanInfo, std::string label, std::string frameLog)
    : AACAnalyser(repairState, scanInfo), m_interleave(repairState, scanInfo, std::move(label)),
      m_frameLog(std::move(frameLog)) {
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
    const FrameHeader frame = readFrame(offset, buffer);
    if (frame.size <= 0)
        return false;
    if (offset + frame.size > buffer.fileSize()) {
        FLOG(LogLevel::Debug) << m_frameLog << offset << " runs past the end of the input (size=" << frame.size << ")";
        if (m_cutFrame < 0 || offset < m_cutFrame)
            m_cutFrame = offset;
        return false;
    }
    completeParameters(frame);
    // Frames follow each other directly or with the audio of their interval
    // between them; before the first frame nothing says where audio would
    // start, and no video was shown that it would accompany.
    if (m_scanInfo->frameEnd() != 0) {
        const int64_t gapStart = int64_t(m_scanInfo->frameEnd()) + 1;
        if (offset > gapStart)
            m_interleave.fillGap(buffer, gapStart, offset);
    }
    add_video_samples(*m_repairState, buffer, offset, int32_t(frame.size), 0);
    FLOG(LogLevel::Info) << m_frameLog << std::setw(11) << offset << "  size=" << std::setw(10) << frame.size;
    m_interleave.countVideoSample();
    m_scanInfo->setFrameStart(uint64_t(offset));
    m_scanInfo->setFrameEnd(uint64_t(offset + frame.size - 1));
    m_scanInfo->setGapStart(uint64_t(offset + frame.size));
    m_scanInfo->currentOffset = offset + frame.size;
    return true;
}

void FrameAnalyser::finish(ScanBuffer& buffer) {
    if (m_scanInfo->frameEnd() == 0)
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
        m_interleave.fillGap(buffer, from, end, AudioInterleave::GapAtEnd);
}
