#include "bitstream/hevc/sample_units.h"

#include "bitstream/common/byte_read.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/pps.h"
#include "bitstream/hevc/sps.h"

#include <algorithm>

namespace HEVC {

namespace {

constexpr uint32_t kMaxUnitLength = 16777215;
constexpr uint32_t kMaxDelimiterLength = 16;
constexpr uint32_t kMaxSeiLength = 131072;
// Parameter sets repeated in a sample are small.
constexpr uint32_t kMaxParameterSetLength = 4096;
// The slice start lies in the first bytes of the unit.
constexpr uint32_t kSliceStartBytes = 64;

}  // namespace

bool unitCheck(const uint8_t* data, int64_t n, UnitCheck& out, uint32_t minSliceLength, bool parameterSets,
               const UnitExtensions& extensions) {
    if (n < 6)
        return false;
    const uint32_t length = bitstream::readBE32(data);
    if (length < 2 || length > kMaxUnitLength || int64_t(length) + 4 > n)
        return false;
    const uint8_t h0 = data[4], h1 = data[5];
    // forbidden_zero_bit clear, layer id 0 unless upper layers are let in,
    // and a temporal id.
    const uint8_t layer = uint8_t((h0 & 1) << 5 | h1 >> 3);
    if ((h0 & 0x80) != 0 || (h1 & 7) == 0 || (layer != 0 && !extensions.upperLayers))
        return false;
    const uint8_t type = h0 >> 1;
    const bool slice = HEVC::isSliceType(type);
    if (extensions.takes(type)) {
        // Unspecified: nothing of its syntax is known.
    } else if (slice) {
        if (length < std::max(minSliceLength, kMinKnownSliceLength))
            return false;
    } else if (type == HEVC::NAL_AUD) {
        if (length > kMaxDelimiterLength)
            return false;
    } else if (type == HEVC::NAL_SEI_PREFIX || type == HEVC::NAL_SEI_SUFFIX) {
        if (length > kMaxSeiLength)
            return false;
    } else if (type == HEVC::NAL_EOS_NUT || type == HEVC::NAL_EOB_NUT) {
        if (length != 2)
            return false;
    } else if (parameterSets && type >= HEVC::NAL_VPS && type <= HEVC::NAL_PPS) {
        if (length > kMaxParameterSetLength)
            return false;
    } else {
        return false;
    }
    out.length = length;
    out.type = type;
    out.temporalIdPlus1 = h1 & 7;
    out.layer = layer;
    out.slice = slice;
    return true;
}

bool readSliceStart(const uint8_t* nal, uint32_t length, const HEVC::ParameterSets& sets, SliceStart& out) {
    if (length < kMinKnownSliceLength)
        return false;
    const uint8_t type = nal[0] >> 1;
    try {
        HEVC::BitstreamReader r(nal + 2, std::min(length, kSliceStartBytes) - 2);
        out = SliceStart();
        out.firstInPicture = r.getFlag();
        if (HEVC::isIrap(type))
            r.getFlag();  // no_output_of_prior_pics_flag
        out.ppsId = r.getUe();
        const auto pps = sets.pps.find(out.ppsId);
        if (pps == sets.pps.end())
            return false;
        const auto sps = sets.sps.find(pps->second->pps_seq_parameter_set_id);
        if (sps == sets.sps.end())
            return false;
        if (!out.firstInPicture)
            return true;
        out.independent = true;
        r.skipBits(pps->second->num_extra_slice_header_bits);
        out.sliceType = r.getUe();
        if (out.sliceType > 2)
            return false;
        if (pps->second->output_flag_present_flag)
            r.getFlag();
        if (sps->second->separate_colour_plane_flag)
            r.skipBits(2);
        if (!HEVC::isIdr(type))
            out.pocLsb = r.getBits(sps->second->log2_max_pic_order_cnt_lsb_minus4 + 4);
        return true;
    } catch (const HEVC::BitstreamError&) {
        return false;
    }
}

}  // namespace HEVC
