#include "bitstream/hevc/hevc_parser.h"

#include "bitstream/common/nal_span.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/pps.h"
#include "bitstream/hevc/sei.h"
#include "bitstream/hevc/slice.h"
#include "bitstream/hevc/sps.h"
#include "bitstream/hevc/vps.h"

#include <algorithm>

namespace HEVC {

std::shared_ptr<NALUnit> parseUnit(ParameterSets& maps, const uint8_t* payload, size_t size, uint8_t t) {
    BitstreamReader r(payload, payload ? size : 0);
    if (isSliceType(t)) {
        auto s = std::make_shared<Slice>(t);
        s->parse(r, maps);
        return s;
    }
    switch (t) {
    case NAL_VPS: {
        auto v = std::make_shared<VPS>();
        v->parse(r, maps);
        maps.vps[v->vps_video_parameter_set_id] = v;
        return v;
    }
    case NAL_SPS: {
        auto s = std::make_shared<SPS>();
        s->parse(r, maps);
        maps.sps[s->sps_seq_parameter_set_id] = s;
        return s;
    }
    case NAL_PPS: {
        auto p = std::make_shared<PPS>();
        p->parse(r, maps);
        maps.pps[p->pps_pic_parameter_set_id] = p;
        return p;
    }
    case NAL_AUD: {
        auto a = std::make_shared<AUD>();
        a->pic_type = static_cast<uint8_t>(r.getBits(3));
        return a;
    }
    case NAL_SEI_PREFIX:
    case NAL_SEI_SUFFIX: {
        auto s = std::make_shared<SEI>(t);
        s->parse(r, maps);
        return s;
    }
    default:
        return nullptr;
    }
}

std::shared_ptr<NALUnit> parseNalUnit(ParameterSets& maps, const uint8_t* nal, size_t size, std::string* error) {
    NalHeader h;
    if (!readNalHeader(nal, size, h)) {
        if (error)
            *error = "NAL unit shorter than its header";
        return nullptr;
    }
    try {
        return parseUnit(maps, nal + 2, size - 2, h.nal_unit_type);
    } catch (const BitstreamError& e) {
        if (error)
            *error = e.what();
        return nullptr;
    }
}

void HevcParser::process(const uint8_t* data, size_t size, int64_t fileOffset) {
    for (const bitstream::NalSpan& nal : bitstream::splitAnnexB(data, size)) {
        std::string error;
        auto unit = parseNalUnit(m_maps, nal.data, nal.size, &error);
        const uint8_t type = nal.size > 0 ? (nal.data[0] >> 1) & 0x3F : 0;
        for (Consumer* c : m_consumers)
            c->onNalUnit(unit, type, fileOffset + static_cast<int64_t>(nal.offset), error);
    }
}

void HevcParser::addConsumer(Consumer* consumer) {
    if (consumer && std::find(m_consumers.begin(), m_consumers.end(), consumer) == m_consumers.end())
        m_consumers.push_back(consumer);
}

}  // namespace HEVC
