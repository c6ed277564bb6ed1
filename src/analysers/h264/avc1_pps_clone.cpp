#include "analysers/h264/avc1_pps_clone.h"

#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/pps_id_rewrite.h"
#include "log/logger.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ParsedPps {
    uint32_t id = 0;
    int index = 0;
};

}  // namespace

void addMissingPps(H264Config& avc, const PpsIdSet& referenced, PpsIdSet& reported) {
    if (referenced.none())
        return;
    std::vector<ParsedPps> parsed;
    PpsIdSet present;
    for (int i = 0; i < avc.ppsCount(); ++i) {
        H264::PictureParameterSet pps;
        std::string problem;
        const size_t length = std::min<size_t>(avc.m_ppsLength[i], kMaxPpsBytes);
        if (H264::parsePictureParameterSet(avc.m_pps[i], length, pps, problem) != bitstream::ParseResult::Ok)
            continue;
        parsed.push_back({pps.pic_parameter_set_id, i});
        present.set(pps.pic_parameter_set_id);
    }
    for (uint32_t id = 0; id < referenced.size(); ++id) {
        if (!referenced.test(id) || present.test(id) || reported.test(id))
            continue;
        if (avc.ppsCount() == 0) {
            FLOG(LogLevel::Warning) << "AVC1 referenced PPS ids found, but avcC has no PPS to clone";
            reported.set(id);
            continue;
        }
        if (parsed.empty()) {
            FLOG(LogLevel::Warning) << "AVC1 referenced PPS ids found, but no parseable avcC PPS is available";
            reported.set(id);
            continue;
        }
        if (avc.ppsCount() >= kMaxParameterSets) {
            FLOG(LogLevel::Warning) << "AVC1 cannot add cloned PPS id " << id << ": avcC PPS capacity reached";
            reported.set(id);
            continue;
        }
        // Nearest id; on equal distance the lower one.
        const ParsedPps* source = &parsed.front();
        for (const ParsedPps& p : parsed) {
            const int64_t d = std::llabs(int64_t(p.id) - int64_t(id));
            const int64_t best = std::llabs(int64_t(source->id) - int64_t(id));
            if (d < best || (d == best && p.id < source->id))
                source = &p;
        }
        std::vector<uint8_t> clone;
        const size_t sourceLength = std::min<size_t>(avc.m_ppsLength[source->index], kMaxPpsBytes);
        if (!H264::clonePpsWithId(avc.m_pps[source->index], sourceLength, id, clone) || clone.size() > size_t(kMaxPpsBytes)) {
            FLOG(LogLevel::Warning) << "AVC1 failed to clone PPS for referenced id " << id;
            reported.set(id);
            continue;
        }
        const int slot = avc.ppsCount();
        std::copy(clone.begin(), clone.end(), avc.m_pps[slot]);
        avc.m_ppsLength[slot] = uint16_t(clone.size());
        avc.m_ppsCount = uint8_t(slot + 1);
        FLOG(LogLevel::Notice) << "AVC1 cloned PPS id " << id << " from PPS id " << source->id << " into avcC";
        present.set(id);
        parsed.push_back({id, slot});
    }
}
