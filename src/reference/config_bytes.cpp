#include "reference/config_bytes.h"

#include <algorithm>

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

}  // namespace

std::vector<uint8_t> avcConfigBytes(const H264Config& c) {
    std::vector<uint8_t> out;
    if (c.m_version == 0 && c.spsCount() == 0 && c.ppsCount() == 0)
        return out;
    out.insert(out.end(), {c.m_version, c.m_profile, c.m_compatibility, c.m_level, c.m_lengthSizeByte,
                           c.m_spsCountByte});
    const int sps = c.spsCount() < kMaxParameterSets ? c.spsCount() : kMaxParameterSets;
    for (int i = 0; i < sps; ++i) {
        const uint16_t n = c.m_spsLength[i] < kMaxSpsBytes ? c.m_spsLength[i] : kMaxSpsBytes;
        put16(out, n);
        out.insert(out.end(), c.m_sps[i], c.m_sps[i] + n);
    }
    out.push_back(c.m_ppsCount);
    for (int i = 0; i < c.ppsCount(); ++i) {
        const uint16_t n = c.m_ppsLength[i] < kMaxPpsBytes ? c.m_ppsLength[i] : kMaxPpsBytes;
        put16(out, n);
        out.insert(out.end(), c.m_pps[i], c.m_pps[i] + n);
    }
    if (c.m_hasHighTail) {
        out.insert(out.end(), {c.m_chromaFormatByte, c.m_bitDepthLumaByte, c.m_bitDepthChromaByte, c.m_spsExtCount});
        const uint16_t n = c.m_spsExtBytes < kMaxSpsExtBytes ? c.m_spsExtBytes : uint16_t(kMaxSpsExtBytes);
        out.insert(out.end(), c.m_spsExt, c.m_spsExt + n);
    }
    return out;
}

std::vector<uint8_t> hevcConfigBytes(const HEVCConfig& c) {
    std::vector<uint8_t> out;
    if (c.m_version == 0 && c.m_arrayCount == 0)
        return out;
    out.push_back(c.m_version);
    out.push_back(c.m_profileByte);
    out.insert(out.end(), c.m_profileCompatibility, c.m_profileCompatibility + 4);
    out.insert(out.end(), c.m_constraints, c.m_constraints + 6);
    out.push_back(c.m_level);
    out.insert(out.end(), c.m_spatialSegmentation, c.m_spatialSegmentation + 2);
    out.insert(out.end(), {c.m_parallelismType, c.m_chromaFormat, c.m_lumaBitDepth, c.m_chromaBitDepth});
    put16(out, c.m_avgFrameRate);
    out.push_back(c.m_lengthSizeByte);
    const int arrays = c.m_arrayCount < kMaxHevcArrays ? c.m_arrayCount : kMaxHevcArrays;
    out.push_back(uint8_t(arrays));
    for (int a = 0; a < arrays; ++a) {
        const HEVCNalArray& array = c.m_arrays[a];
        const int nalus = array.m_nalCount < kMaxHevcNalus ? array.m_nalCount : kMaxHevcNalus;
        out.push_back(array.m_nalType);
        put16(out, uint16_t(nalus));
        for (int i = 0; i < nalus; ++i) {
            const uint16_t n = uint16_t(std::min<size_t>(array.m_nalLength[i], array.m_nal[i].size()));
            put16(out, n);
            out.insert(out.end(), array.m_nal[i].begin(), array.m_nal[i].begin() + n);
        }
    }
    return out;
}
