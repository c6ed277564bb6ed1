#pragma once
// The parameter sets seen so far, by id: what slices and SEI messages are
// parsed against. A set enters its map only after it parsed completely.

#include <cstdint>
#include <map>
#include <memory>

namespace HEVC {

class VPS;
class SPS;
class PPS;

struct ParameterSets {
    std::map<uint32_t, std::shared_ptr<VPS>> vps;
    std::map<uint32_t, std::shared_ptr<SPS>> sps;
    std::map<uint32_t, std::shared_ptr<PPS>> pps;
    // The SPS of the last slice parsed (what picture-level SEI messages refer
    // to), or -1 before any slice.
    int64_t activeSpsId = -1;

    // The active SPS, else the lowest-numbered one, else null.
    std::shared_ptr<SPS> activeSps() const;
};

}  // namespace HEVC
