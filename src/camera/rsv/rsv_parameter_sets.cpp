#include "camera/rsv/rsv_parameter_sets.h"

#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/sps.h"
#include "log/logger.h"

#include <algorithm>
#include <cstring>

namespace rsv {

namespace {

constexpr size_t kSideDataHeader = 20;
constexpr uint32_t kMaxSideDataUnit = 8192;
constexpr size_t kHevcUnitsPerArray = 7;

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The unit without emulation prevention bytes.
Unit rbsp(const Unit& nal) {
    Unit out;
    size_t zeros = 0;
    for (uint8_t b : nal) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    return out;
}

// A fresh hvcC header: what the SPS says where it can be read, neutral
// values elsewhere.
void initialiseHevcHeader(const Unit& sps, HEVCConfig& config) {
    config = HEVCConfig();
    config.m_version = 1;
    config.m_spatialSegmentation[0] = 0xF0;
    config.m_spatialSegmentation[1] = 0x00;
    config.m_parallelismType = 0xFC;
    config.m_chromaFormat = 0xFC;
    config.m_lumaBitDepth = 0xF8;
    config.m_chromaBitDepth = 0xF8;
    config.m_avgFrameRate = 0;
    config.m_lengthSizeByte = 0xFF;
    const Unit raw = rbsp(sps);
    // NAL header (2 bytes), then one byte of ids, then profile_tier_level.
    if (raw.size() >= 15) {
        config.m_profileByte = raw[3];
        std::memcpy(config.m_profileCompatibility, &raw[4], 4);
        std::memcpy(config.m_constraints, &raw[8], 6);
        config.m_level = raw[14];
    }
    if (sps.size() < 3)
        return;
    try {
        HEVC::ParameterSets sets;
        HEVC::parseUnit(sets, sps.data() + 2, sps.size() - 2, 33);
        if (const auto parsed = sets.activeSps()) {
            config.m_chromaFormat = uint8_t(0xFC | (parsed->chroma_format_idc & 3));
            config.m_lumaBitDepth = uint8_t(0xF8 | (parsed->bit_depth_luma_minus8 & 7));
            config.m_chromaBitDepth = uint8_t(0xF8 | (parsed->bit_depth_chroma_minus8 & 7));
        }
    } catch (const HEVC::BitstreamError&) {
        // The neutral values stay.
    }
}

}  // namespace

bool addDistinct(std::vector<Unit>& list, const uint8_t* data, size_t size) {
    for (const Unit& u : list)
        if (u.size() == size && std::equal(u.begin(), u.end(), data))
            return false;
    list.emplace_back(data, data + size);
    return true;
}

void collectSideData(const uint8_t* data, size_t size, ParameterSetLists& lists) {
    for (size_t i = 0; i + kSideDataHeader <= size; ++i) {
        // Find the 0x10 of the header's start fast; the rest is checked below.
        const void* hit = std::memchr(data + i + 1, 0x10, size - kSideDataHeader - i + 1);
        if (!hit)
            return;
        i = size_t(static_cast<const uint8_t*>(hit) - data) - 1;
        const uint8_t* p = data + i;
        if (p[0] != 0x00 || p[1] != 0x10 || p[2] != 0x02 || p[3] != 0x00)
            continue;
        const uint32_t length = le32(p + 12);
        if (length < 1 || length > kMaxSideDataUnit || p[16] != 0x00 || p[17] != uint8_t(length + 4) ||
            p[18] != 0x02 || p[19] != 0x01 || length > size - i - kSideDataHeader)
            continue;
        const uint8_t* unit = p + kSideDataHeader;
        const uint8_t type = unit[0] & 31;
        if (type != 7 && type != 8)
            continue;
        std::vector<Unit>& list = type == 7 ? lists.avcSps : lists.avcPps;
        if (addDistinct(list, unit, length))
            FLOG(LogLevel::Info) << "SonyRSV avcC " << (type == 7 ? "SPS" : "PPS") << " len=" << length
                                 << " count=" << list.size();
    }
}

void collectUnits(const uint8_t* data, size_t size, bool hevc, ParameterSetLists& lists) {
    size_t pos = 0;
    while (size - pos >= 4) {
        const uint32_t length = be32(data + pos);
        if (length < 2 || length > size - pos - 4)
            return;
        const uint8_t* nal = data + pos + 4;
        pos += 4 + size_t(length);
        std::vector<Unit>* list = nullptr;
        const char* label = nullptr;
        if (hevc) {
            const uint8_t type = (nal[0] >> 1) & 0x3F;
            list = type == 32 ? &lists.hevcVps : type == 33 ? &lists.hevcSps : type == 34 ? &lists.hevcPps : nullptr;
            label = type == 32 ? "SonyRSV hvcC VPS" : type == 33 ? "SonyRSV hvcC SPS" : "SonyRSV hvcC PPS";
        } else {
            const uint8_t type = nal[0] & 31;
            list = type == 7 ? &lists.avcSps : type == 8 ? &lists.avcPps : nullptr;
            label = type == 7 ? "SonyRSV avcC SPS" : "SonyRSV avcC PPS";
        }
        if (list && addDistinct(*list, nal, length))
            FLOG(LogLevel::Info) << label << " len=" << length << " count=" << list->size();
    }
}

bool buildAvcConfig(const ParameterSetLists& lists, H264Config& config) {
    if (lists.avcSps.empty() || lists.avcPps.empty() || lists.avcSps[0].size() < 4)
        return false;
    config.clear();
    const Unit& first = lists.avcSps[0];
    config.m_version = 1;
    config.m_profile = first[1];
    config.m_compatibility = first[2];
    config.m_level = first[3];
    config.m_lengthSizeByte = 0xFF;
    int sps = 0;
    for (const Unit& u : lists.avcSps) {
        if (sps == 31 || u.size() > size_t(kMaxSpsBytes))
            continue;
        config.m_spsLength[sps] = uint16_t(u.size());
        std::memcpy(config.m_sps[sps], u.data(), u.size());
        ++sps;
    }
    int pps = 0;
    for (const Unit& u : lists.avcPps) {
        if (pps == kMaxParameterSets || u.size() > size_t(kMaxPpsBytes))
            continue;
        config.m_ppsLength[pps] = uint16_t(u.size());
        std::memcpy(config.m_pps[pps], u.data(), u.size());
        ++pps;
    }
    config.m_spsCountByte = uint8_t(0xE0 | sps);
    config.m_ppsCount = uint8_t(pps);
    // High profiles describe their chroma format and bit depths after the
    // PPS, as a muxer writing the camera's own file would.
    if (H264Config::profileHasHighTail(config.m_profile)) {
        H264::SequenceParameterSet parsed;
        std::string problem;
        if (H264::parseSequenceParameterSet(first.data(), first.size(), parsed, problem) == bitstream::ParseResult::Ok)
            config.setHighTail(parsed.chroma_format_idc, parsed.bit_depth_luma_minus8, parsed.bit_depth_chroma_minus8);
    }
    return true;
}

bool buildHevcConfig(const ParameterSetLists& lists, HEVCConfig& config) {
    if (lists.hevcVps.empty() || lists.hevcSps.empty() || lists.hevcPps.empty())
        return false;
    if (config.m_version == 0)
        initialiseHevcHeader(lists.hevcSps[0], config);
    const std::vector<Unit>* kinds[3] = {&lists.hevcVps, &lists.hevcSps, &lists.hevcPps};
    config.m_arrayCount = 3;
    for (int a = 0; a < 3; ++a) {
        HEVCNalArray& array = config.m_arrays[a];
        array.m_nalType = uint8_t(0x80 | (32 + a));
        array.m_nalCount = 0;
        for (const Unit& u : *kinds[a]) {
            if (array.m_nalCount == kHevcUnitsPerArray)
                break;
            // A unit the 16-bit length cannot describe would not be one the
            // decoder could be configured with.
            if (u.size() > 0xFFFF)
                continue;
            array.m_nalLength[array.m_nalCount] = uint16_t(u.size());
            array.m_nal[array.m_nalCount] = u;
            ++array.m_nalCount;
        }
    }
    return true;
}

}  // namespace rsv
