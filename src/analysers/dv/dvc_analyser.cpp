#include "analysers/dv/dvc_analyser.h"

#include "output/repair_state.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// A DIF sequence: 150 blocks of 80 bytes.
constexpr int64_t kSequenceBytes = 12000;
// DIF sequences of one channel: 10 in 525-line (60 Hz) systems, 12 in
// 625-line (50 Hz) ones. DVCPRO50 records two channels per frame.
constexpr int kSequences525 = 10;
constexpr int kSequences625 = 12;
constexpr int kMaxChannels = 2;
// Header block id: section type 0 with the reserved bits set.
constexpr uint8_t kHeaderId = 0x1F;
constexpr uint8_t kHeaderIdAlt = 0x3F;

bool headerBlock(uint8_t id) { return id == kHeaderId || id == kHeaderIdAlt; }

// DIF sequence number (4 bits) and channel (the FSC bit) of a header block.
int sequenceOf(const uint8_t* block) { return block[1] >> 4; }
int channelOf(const uint8_t* block) { return (block[1] >> 3) & 1; }

}  // namespace

DVCAnalyser::DVCAnalyser(RepairState* repairState, ScanInfo* scanInfo)
    : FrameAnalyser(repairState, scanInfo, "dvc", "dvc   at ") {}

bool DVCAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    // Sequence 0 of channel 0; byte 3's top bit tells 525 from 625 lines.
    return available >= 4 && data[0] == kHeaderId && (data[1] == 0x07 || data[1] == 0x03) && data[2] == 0x00 &&
           (data[3] & 0x7F) == 0x3F;
}

int32_t DVCAnalyser::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    return findByKeyByte(kHeaderId, 0, offset, data, count, available);
}

FrameHeader DVCAnalyser::readFrame(int64_t offset, ScanBuffer& buffer) {
    FrameHeader frame;
    const uint8_t* p = buffer.get(offset, 4);
    if (buffer.available() < 4)
        return frame;
    const bool lines625 = (p[3] & 0x80) != 0;  // DSF
    const int sequences = lines625 ? kSequences625 : kSequences525;
    frame.width = 720;
    frame.height = lines625 ? 576 : 480;
    // The reference's frame size says how many channels the recorder
    // writes; without one, a second channel's first header block right
    // behind the first channel tells.
    int64_t size = 0;
    const int64_t channelBytes = sequences * kSequenceBytes;
    const ReferenceInfo* ref = reference();
    const int64_t refSize = ref ? int64_t(ref->layout().m_videoSampleSizeMax) : 0;
    if (refSize > 0 && refSize % channelBytes == 0 && refSize / channelBytes <= kMaxChannels)
        size = refSize;
    p = buffer.get(offset, int32_t(kMaxChannels * channelBytes));
    const int64_t got = buffer.available();
    if (size == 0) {
        size = channelBytes;
        if (got >= channelBytes + 4 && headerBlock(p[channelBytes]) && sequenceOf(p + channelBytes) == 0 &&
            channelOf(p + channelBytes) == 1)
            size = 2 * channelBytes;
    }
    // A frame cut by the end of the input is reported whole; the caller
    // sees that it does not fit.
    for (int64_t at = 0; at < size && at + 4 <= got; at += kSequenceBytes) {
        const int64_t k = at / kSequenceBytes;
        if (!headerBlock(p[at]) || sequenceOf(p + at) != int(k % sequences) || channelOf(p + at) != int(k / sequences))
            return frame;
    }
    frame.size = size;
    return frame;
}

void DVCAnalyser::completeParameters(const FrameHeader& frame) {
    const char* codec = "dvc ";
    if (frame.size == 2 * kSequences525 * kSequenceBytes)
        codec = "dv5n";
    else if (frame.size == 2 * kSequences625 * kSequenceBytes)
        codec = "dv5p";
    else if (frame.size == kSequences625 * kSequenceBytes)
        codec = "dvcp";
    // "-vf 'dvc '" without a reference names the family; the frames tell
    // which of its formats the tape holds.
    VideoParameters& video = *m_repairState->m_video;
    const ReferenceInfo* ref = reference();
    if (video.m_codec == "dvc " && !(ref && ref->videoTrack()))
        video.m_codec = codec;
    fillParameters(codec, "sowt", frame);
}
