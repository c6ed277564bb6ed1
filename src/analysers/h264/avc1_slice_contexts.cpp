#include "analysers/h264/avc1_slice_contexts.h"

#include "bitstream/h264/picture_parameter_set.h"
#include "qt/qt_types.h"

#include <algorithm>
#include <string>

Avc1SliceContexts avc1SliceContexts(const H264Config& avc) {
    Avc1SliceContexts out;
    out.contexts.assign(H264::kMaxPpsId + 1, H264::SliceContext{});
    out.present.assign(out.contexts.size(), false);
    std::string problem;
    for (int i = 0; i < avc.spsCount() && i < kMaxParameterSets; ++i) {
        H264::SequenceParameterSet sps;
        if (avc.m_spsLength[i] > 0 &&
            H264::parseSequenceParameterSet(avc.m_sps[i], avc.m_spsLength[i], sps, problem) == bitstream::ParseResult::Ok)
            out.sps.push_back(sps);
    }
    for (int i = 0; i < avc.ppsCount(); ++i) {
        H264::PictureParameterSet pps;
        if (avc.m_ppsLength[i] == 0 ||
            H264::parsePictureParameterSet(avc.m_pps[i], avc.m_ppsLength[i], pps, problem) == bitstream::ParseResult::Malformed)
            continue;
        const auto sps = std::find_if(out.sps.begin(), out.sps.end(), [&](const H264::SequenceParameterSet& s) {
            return s.seq_parameter_set_id == pps.seq_parameter_set_id;
        });
        if (sps == out.sps.end() || pps.pic_parameter_set_id >= out.contexts.size())
            continue;
        out.contexts[pps.pic_parameter_set_id] = H264::SliceContext::from(*sps, pps);
        out.present[pps.pic_parameter_set_id] = true;
    }
    return out;
}
