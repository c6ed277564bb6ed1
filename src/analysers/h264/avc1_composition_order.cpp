#include "analysers/h264/avc1_composition_order.h"

#include "analysers/chunk/presentation_order.h"

#include "scan/scan_buffer.h"
#include "bitstream/common/byte_read.h"
#include "bitstream/h264/picture_order_count.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "qt/qt_types.h"

#include <algorithm>
#include <string>

namespace {

// pic_parameter_set_id ranges 0..255.
constexpr size_t kPpsIds = 256;
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

}  // namespace

bool Avc1CompositionOrder::configure(const H264Config& avc) {
    m_ready = false;
    m_contexts.assign(kPpsIds, H264::SliceContext{});
    m_present.assign(kPpsIds, false);
    std::vector<H264::SequenceParameterSet> spsList;
    std::string problem;
    for (int i = 0; i < avc.spsCount() && i < kMaxParameterSets; ++i) {
        H264::SequenceParameterSet sps;
        if (avc.m_spsLength[i] > 0 &&
            H264::parseSequenceParameterSet(avc.m_sps[i], avc.m_spsLength[i], sps, problem) == bitstream::ParseResult::Ok)
            spsList.push_back(sps);
    }
    if (spsList.empty())
        return false;
    // One order-count rule for the stream: that of its (first) SPS.
    const H264::SequenceParameterSet& first = spsList.front();
    if (!H264::PictureOrderCount::followed(first))
        return false;
    m_sps = first;
    m_declaredDelay = 0;
    if (first.vui_parameters_present_flag && first.vui.bitstream_restriction_flag)
        m_declaredDelay = std::min<int64_t>(first.vui.max_num_reorder_frames, kMaxReorder);
    bool any = false;
    for (int i = 0; i < avc.ppsCount(); ++i) {
        H264::PictureParameterSet pps;
        if (avc.m_ppsLength[i] == 0 ||
            H264::parsePictureParameterSet(avc.m_pps[i], avc.m_ppsLength[i], pps, problem) == bitstream::ParseResult::Malformed)
            continue;
        auto sps = std::find_if(spsList.begin(), spsList.end(), [&](const H264::SequenceParameterSet& s) {
            return s.seq_parameter_set_id == pps.seq_parameter_set_id;
        });
        if (sps == spsList.end() || sps->pic_order_cnt_type != m_sps.pic_order_cnt_type || pps.pic_parameter_set_id >= kPpsIds)
            continue;
        m_contexts[pps.pic_parameter_set_id] = H264::SliceContext::from(*sps, pps);
        m_present[pps.pic_parameter_set_id] = true;
        any = true;
    }
    m_ready = any;
    return m_ready;
}

size_t Avc1CompositionOrder::readPictures(ScanBuffer& input, const MediaSample& sample, Coded (&out)[2]) const {
    size_t pictures = 0;
    int64_t pos = 0;
    for (int unit = 0; unit < kMaxUnits && sample.size - pos >= 5; ++unit) {
        const int32_t want = int32_t(std::min<int64_t>(sample.size - pos, kHeaderBytes));
        const uint8_t* data = input.peek(sample.offset + pos, want);
        if (!data || input.available() < want)
            break;
        const uint32_t length = bitstream::readBE32(data);
        const uint8_t type = data[4] & 0x1F;
        if (length == 0 || int64_t(length) + 4 > sample.size - pos)
            break;
        pos += int64_t(length) + 4;
        if (type != 1 && type != 5) {
            if (pictures == 0 && unit + 1 >= kMaxLeadingUnits)
                break;
            continue;
        }
        H264::SliceHeaderStart start;
        const size_t n = std::min<size_t>(length, size_t(want - 4));
        if (!H264::readSliceHeaderStart(data + 4, n, start) || !m_present[start.pic_parameter_set_id])
            break;
        // Further slices of the picture already read.
        if (pictures > 0 && start.first_mb_in_slice != 0)
            continue;
        bitstream::BitReader r(data + 5, n - 1, bitstream::Emulation::Drop);
        Coded& c = out[pictures];
        std::string problem;
        if (H264::parseSliceHeader(r, type, m_contexts[start.pic_parameter_set_id], c.header, problem) ==
            bitstream::ParseResult::Malformed)
            break;
        c.idr = type == 5;
        c.reference = (data[4] & 0x60) != 0;
        ++pictures;
        // A frame is the whole sample; a field may have its pair behind it.
        if (!c.header.field_pic_flag || pictures == 2)
            break;
    }
    return pictures;
}

size_t Avc1CompositionOrder::apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration) const {
    if (!m_ready || frameDuration <= 0)
        return 0;
    std::vector<OrderedPicture> pictures;
    H264::PictureOrderCount orderCount(m_sps);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!samples[i].isVideo())
            continue;
        OrderedPicture p;
        p.index = i;
        Coded coded[2];
        const size_t n = readPictures(input, samples[i], coded);
        p.readable = n > 0;
        p.restarts = p.readable && coded[0].idr;
        p.poc = p.readable ? orderCount.next(coded[0].idr, coded[0].reference, coded[0].header) : orderCount.skip();
        // A field pair is shown from its earlier field.
        if (n == 2)
            p.poc = std::min(p.poc, orderCount.next(coded[1].idr, coded[1].reference, coded[1].header));
        pictures.push_back(p);
    }

    return applyPresentationOrder(pictures, samples, frameDuration, m_declaredDelay);
}
