#include "analysers/h264/avc1_composition_order.h"

#include "analysers/h264/avc1_slice_contexts.h"

#include "analysers/chunk/presentation_order.h"

#include "scan/scan_buffer.h"
#include "bitstream/common/byte_read.h"
#include "bitstream/h264/picture_order_count.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/recovery_point.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "qt/qt_types.h"

#include <algorithm>
#include <string>

namespace {

// pic_parameter_set_id ranges 0..255.
// The slice header fields up to the order count lie within the first bytes
// of the slice; reading this much of each sample is plenty.
constexpr int32_t kHeaderBytes = 256;
// Units in front of the first slice (delimiter, SEI) are stepped over, up to
// this many; the second field of a pair is looked for among this many units.
constexpr int kMaxLeadingUnits = 16;
constexpr int kMaxUnits = 256;
// The decoded picture buffer holds at most 16 frames, so no frame is shown
// further than that from its place in decode order; a stretch that says
// otherwise holds a damaged order count and keeps its offsets.
constexpr int64_t kMaxReorder = 16;
// How far into a unit embedded start codes are looked for: the SEI in front
// of a picture's first slice takes well under this (an encoder's settings
// string, some hundred bytes), and the input's side buffer holds this much.
constexpr int64_t kEmbeddedScan = 4 * 1024;

// Walks the start-code delimited units inside one unit of `length` bytes at
// `offset` (the first kEmbeddedScan bytes of it), handing each unit's first
// bytes to `readUnit` until it reports a picture (1) or a stop (-1).
template <typename ReadUnit>
int readEmbedded(ScanBuffer& input, int64_t offset, uint32_t length, ReadUnit&& readUnit) {
    const int32_t span = int32_t(std::min<int64_t>(length, kEmbeddedScan));
    const uint8_t* data = input.peek(offset, span);
    if (!data || input.available() < span)
        return 0;
    for (int32_t i = 0; i + 3 < span; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const int32_t at = i + 3;
        // A unit cut by the scan limit is read from the input again in full.
        const int32_t n = std::min<int32_t>(span - at, kHeaderBytes);
        const uint8_t* unit = data + at;
        std::vector<uint8_t> copy;
        if (n < kHeaderBytes && int64_t(at) + n < int64_t(length)) {
            const int32_t whole = int32_t(std::min<int64_t>(int64_t(length) - at, kHeaderBytes));
            const uint8_t* more = input.peek(offset + at, whole);
            if (!more || input.available() < whole)
                return 0;
            copy.assign(more, more + whole);
            unit = copy.data();
        }
        const int got = readUnit(unit, size_t(copy.empty() ? n : int32_t(copy.size())));
        if (got != 0)
            return got;
        // peek() may have moved the window; the walk goes on from a fresh view.
        data = input.peek(offset, span);
        if (!data || input.available() < span)
            return 0;
        i = at;
    }
    return 0;
}

}  // namespace

bool Avc1CompositionOrder::configure(const H264Config& avc) {
    m_ready = false;
    m_lengthSize = avc.lengthSize() == 2 ? 2 : 4;
    Avc1SliceContexts sets = avc1SliceContexts(avc);
    if (sets.sps.empty())
        return false;
    // One order-count rule for the stream: that of its (first) SPS.
    const H264::SequenceParameterSet& first = sets.sps.front();
    if (!H264::PictureOrderCount::followed(first))
        return false;
    m_sps = first;
    m_declaredDelay = 0;
    if (first.vui_parameters_present_flag && first.vui.bitstream_restriction_flag)
        m_declaredDelay = std::min<int64_t>(first.vui.max_num_reorder_frames, kMaxReorder);
    m_contexts = std::move(sets.contexts);
    m_present = std::move(sets.present);
    bool any = false;
    for (size_t id = 0; id < m_present.size(); ++id) {
        m_present[id] = m_present[id] && m_contexts[id].pic_order_cnt_type == m_sps.pic_order_cnt_type;
        any = any || m_present[id];
    }
    m_ready = any;
    return m_ready;
}

size_t Avc1CompositionOrder::readPictures(ScanBuffer& input, const MediaSample& sample, Coded (&out)[2]) const {
    size_t pictures = 0;
    bool recoveryPoint = false;
    // One unit's first bytes: 1 = a picture was read, 0 = not a slice, -1 = stop.
    auto readUnit = [&](const uint8_t* unit, size_t n) -> int {
        const uint8_t type = unit[0] & 0x1F;
        if (pictures == 0 && H264::announcesRecoveryPoint(unit, n))
            recoveryPoint = true;
        if (type != 1 && type != 5)
            return 0;
        H264::SliceHeaderStart start;
        if (!H264::readSliceHeaderStart(unit, n, start) || !m_present[start.pic_parameter_set_id])
            return -1;
        // Further slices of the picture already read.
        if (pictures > 0 && start.first_mb_in_slice != 0)
            return 0;
        bitstream::BitReader r(unit + 1, n - 1, bitstream::Emulation::Drop);
        Coded& c = out[pictures];
        std::string problem;
        if (H264::parseSliceHeader(r, type, m_contexts[start.pic_parameter_set_id], c.header, problem) ==
            bitstream::ParseResult::Malformed)
            return -1;
        c.idr = type == 5;
        c.reference = (unit[0] & 0x60) != 0;
        c.recoveryPoint = pictures == 0 && recoveryPoint;
        ++pictures;
        return 1;
    };
    int64_t pos = 0;
    const unsigned prefix = m_lengthSize;
    for (int unit = 0; unit < kMaxUnits && sample.size - pos > prefix; ++unit) {
        const int32_t want = int32_t(std::min<int64_t>(sample.size - pos, kHeaderBytes));
        const uint8_t* data = input.peek(sample.offset + pos, want);
        if (!data || input.available() < want)
            break;
        const uint32_t length = bitstream::readUnitLength(data, prefix);
        if (length == 0 || int64_t(length) + prefix > sample.size - pos)
            break;
        const int64_t unitStart = pos + prefix;
        pos += int64_t(length) + prefix;
        const uint8_t* nal = data + prefix;
        const size_t head = std::min<size_t>(length, size_t(want) - prefix);
        int got = readUnit(nal, head);
        // No unit holds three bytes 00 00 01 (emulation prevention rules
        // them out), so where one does, a recorder has put start-code
        // delimited units inside it (a scalable-video prefix unit followed
        // by the SEI and slices of the picture). The first start code comes
        // right behind the short prefix unit; other units are not searched.
        static constexpr uint8_t kStartCode[] = {0, 0, 1};
        if (got == 0 && (nal[0] & 0x1F) != 1 && (nal[0] & 0x1F) != 5 &&
            std::search(nal, nal + head, kStartCode, kStartCode + 3) != nal + head) {
            got = readEmbedded(input, sample.offset + unitStart, length, readUnit);
        }
        if (got < 0)
            break;
        if (got == 0) {
            if (pictures == 0 && unit + 1 >= kMaxLeadingUnits)
                break;
            continue;
        }
        // A frame is the whole sample; a field may have its pair behind it.
        if (!out[pictures - 1].header.field_pic_flag || pictures == 2)
            break;
    }
    return pictures;
}

size_t Avc1CompositionOrder::apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                                   bool rewriteOffsets) const {
    if (!m_ready || frameDuration <= 0)
        return 0;
    std::vector<OrderedPicture> pictures;
    H264::PictureOrderCount orderCount(m_sps);
    m_continuity = Continuity();
    const uint32_t maxFrameNum = uint32_t(1) << std::min<uint32_t>(m_sps.log2_max_frame_num_minus4 + 4, 16);
    bool previousRead = false;
    Coded previous;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!samples[i].isVideo())
            continue;
        OrderedPicture p;
        p.index = i;
        Coded coded[2];
        const size_t n = readPictures(input, samples[i], coded);
        p.readable = n > 0;
        if (p.readable && previousRead) {
            const uint32_t expected = (previous.header.frame_num + (previous.reference ? 1 : 0)) % maxFrameNum;
            ++m_continuity.pairs;
            m_continuity.continuing += coded[0].header.frame_num == expected || coded[0].header.frame_num == 0;
        }
        previousRead = p.readable;
        if (p.readable)
            previous = coded[0];
        p.restarts = p.readable && coded[0].idr;
        p.poc = p.readable ? orderCount.next(coded[0].idr, coded[0].reference, coded[0].header) : orderCount.skip();
        // A field pair is shown from its earlier field.
        if (n == 2)
            p.poc = std::min(p.poc, orderCount.next(coded[1].idr, coded[1].reference, coded[1].header));
        const bool sync = p.readable && (coded[0].idr || coded[0].recoveryPoint);
        samples.setSync(i, sync ? SyncState::Sync : SyncState::NotSync);
        pictures.push_back(p);
    }

    if (!rewriteOffsets)
        return 0;
    return applyPresentationOrder(pictures, samples, frameDuration, m_declaredDelay);
}
