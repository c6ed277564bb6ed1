#include "analysers/hevc/hevc_sample_profile.h"

#include "analysers/chunk/marked_start_search.h"
#include "bitstream/common/byte_read.h"
#include "bitstream/common/zero_bytes.h"
#include "bitstream/h264/sample_units.h"
#include "bitstream/hevc/bitstream_reader.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/pps.h"
#include "bitstream/hevc/slice.h"

#include <algorithm>

namespace {

// A sample may not take more units than this.
constexpr uint32_t kMaxUnits = 256;

int family(uint8_t type) { return HEVC::isIrap(type) ? 0 : 1; }

// A unit a single-layer stream does not have: Dolby Vision's metadata and
// enhancement layer, the second view of multi-view video.
bool isExtension(const HEVC::UnitCheck& u) { return u.layer != 0 || u.type >= 48; }

void merge(HEVC::UnitExtensions& into, const HEVC::UnitExtensions& e) {
    into.unspecifiedTypes = uint16_t(into.unspecifiedTypes | e.unspecifiedTypes);
    into.upperLayers = into.upperLayers || e.upperLayers;
}

void addExtension(HEVC::UnitExtensions& e, const HEVC::UnitCheck& u) {
    if (u.layer != 0)
        e.upperLayers = true;
    else
        e.unspecifiedTypes = uint16_t(e.unspecifiedTypes | 1u << (u.type - 48));
}

// HEVC keeps H.264's emulation prevention: no 0x000000, 0x000001 or
// 0x000002 inside a unit, and no zero last byte.
bool payloadClean(const uint8_t* unit, uint32_t length) { return H264::nalPayloadClean(unit, length); }

}  // namespace

void HevcSampleProfile::clear() {
    const HEVC::ParameterSets sets = m_sets;
    *this = HevcSampleProfile();
    setParameterSets(sets);
}

bool HevcSampleProfile::learn(const uint8_t* data, int64_t size) {
    int64_t pos = 0;
    uint32_t units = 0, slices = 0, firstLength = 0;
    uint8_t firstType = 0;
    bool parameterSets = false, clean = true;
    HEVC::SliceStart first;
    uint8_t firstTid = 0;
    const uint8_t* firstNal = nullptr;
    HEVC::UnitExtensions leading, trailing;
    while (size - pos >= 6 && units < kMaxUnits) {
        HEVC::UnitCheck u;
        if (!HEVC::unitCheck(data + pos, size - pos, u, HEVC::kMinKnownSliceLength, true, HEVC::UnitExtensions::all()))
            return false;
        const uint8_t* nal = data + pos + 4;
        if (isExtension(u))
            addExtension(slices ? trailing : leading, u);
        else if (u.slice && slices++ == 0) {
            if (!HEVC::readSliceStart(nal, u.length, m_sets, first) || !first.firstInPicture)
                return false;
            firstType = u.type;
            firstLength = u.length;
            firstTid = u.temporalIdPlus1;
            firstNal = nal;
        }
        if (u.type >= HEVC::NAL_VPS && u.type <= HEVC::NAL_PPS) {
            parameterSets = true;
            m_carriedSets.remember(nal, u.length);
        }
        clean = clean && payloadClean(nal, u.length);
        ++units;
        pos += int64_t(u.length) + 4;
    }
    if (pos != size || slices == 0)
        return false;
    auto cls = std::find_if(m_classes.begin(), m_classes.end(),
                            [&](const HevcSampleClass& c) { return c.key == firstType; });
    if (cls == m_classes.end()) {
        HevcSampleClass c;
        c.key = firstType;
        m_classes.push_back(c);
        cls = m_classes.end() - 1;
    }
    cls->add(uint32_t(size), firstLength, units);
    cls->maxSlices = std::max(cls->maxSlices, slices);
    m_maxSlices = std::max(m_maxSlices, slices);
    const int32_t entries = entryPoints(firstNal, firstLength);
    if (entries >= 0)
        m_entryPoints.set(size_t(entries));
    else
        m_entryPointsUnknown = true;
    m_sliceTypes[family(firstType)].set(first.sliceType);
    // An encoder that predicts from two pictures predicts from one as well:
    // a recording that ends inside a group of pictures (or was cut off
    // early) ends with a P picture the reference, all B pictures between
    // its key frames, never showed.
    if (first.sliceType == HEVC::SLICE_B)
        m_sliceTypes[family(firstType)].set(HEVC::SLICE_P);
    m_temporalIds.set(firstTid);
    if (first.ppsId < m_ppsIds.size())
        m_ppsIds.set(first.ppsId);
    m_parameterSetsInSamples = m_parameterSetsInSamples || parameterSets;
    m_payloadsClean = m_payloadsClean && clean;
    merge(m_leading, leading);
    merge(m_trailing, trailing);
    merge(m_extensions, leading);
    merge(m_extensions, trailing);
    return true;
}

void HevcSampleProfile::learnOtherTrack(const uint8_t* data, int64_t size) {
    uint32_t length = 0;
    const uint8_t* nal = firstSlice(data, size, length);
    const int32_t entries = nal ? entryPoints(nal, length) : -1;
    if (entries >= 0)
        m_otherEntryPoints.set(size_t(entries));
}

void HevcSampleProfile::finishLearning() {
    m_entryPointsTellTracks = !m_entryPointsUnknown && m_entryPoints.any() && m_otherEntryPoints.any() &&
                              (m_entryPoints & m_otherEntryPoints).none();
}

const uint8_t* HevcSampleProfile::firstSlice(const uint8_t* data, int64_t size, uint32_t& length) const {
    int64_t pos = 0;
    for (uint32_t units = 0; size - pos >= 6 && units < kMaxUnits; ++units) {
        HEVC::UnitCheck u;
        if (!HEVC::unitCheck(data + pos, size - pos, u, HEVC::kMinKnownSliceLength, true, HEVC::UnitExtensions::all()))
            return nullptr;
        if (u.slice && !isExtension(u)) {
            length = u.length;
            return data + pos + 4;
        }
        pos += int64_t(u.length) + 4;
    }
    return nullptr;
}

int32_t HevcSampleProfile::entryPoints(const uint8_t* nal, uint32_t length) const {
    // The header ends well within this, entry points of a tall picture included.
    constexpr uint32_t kHeaderBytes = 2048;
    if (length < 3)
        return -1;
    try {
        HEVC::BitstreamReader r(nal + 2, std::min(length, kHeaderBytes) - 2);
        HEVC::Slice slice(nal[0] >> 1);
        slice.parse(r, m_parseSets);
        const auto pps = m_parseSets.pps.find(slice.slice_pic_parameter_set_id);
        if (slice.spsId < 0 || pps == m_parseSets.pps.end() ||
            !(pps->second->tiles_enabled_flag || pps->second->entropy_coding_sync_enabled_flag) ||
            slice.num_entry_point_offsets >= kEntryPointCounts)
            return -1;
        return int32_t(slice.num_entry_point_offsets);
    } catch (const HEVC::BitstreamError&) {
        return -1;
    }
}

bool HevcSampleProfile::extensionFits(const HEVC::UnitCheck& u, bool leading) const {
    const HEVC::UnitExtensions& e = leading ? m_leading : m_trailing;
    return u.layer != 0 ? e.upperLayers : e.takes(u.type);
}

bool HevcSampleProfile::wholeSample(const uint8_t* data, int64_t size) const {
    int64_t pos = 0;
    uint32_t units = 0;
    while (size - pos >= 6 && units < kMaxUnits) {
        HEVC::UnitCheck u;
        if (!HEVC::unitCheck(data + pos, size - pos, u, HEVC::kMinKnownSliceLength, true, m_extensions))
            return false;
        ++units;
        pos += int64_t(u.length) + 4;
    }
    return units > 0 && pos == size;
}

bool HevcSampleProfile::boundedUnitAt(const uint8_t* data, int64_t n) const {
    HEVC::UnitCheck u;
    return unitAt(data, n, u, HEVC::kMinKnownSliceLength);
}

bool HevcSampleProfile::firstSliceFits(const uint8_t* nal, uint32_t length) const {
    const uint8_t type = nal[0] >> 1;
    const int f = family(type);
    if (m_sliceTypes[f].none() || !m_temporalIds.test(nal[1] & 7))
        return false;
    HEVC::SliceStart s;
    if (!HEVC::readSliceStart(nal, length, m_sets, s) || !s.firstInPicture || !m_sliceTypes[f].test(s.sliceType) ||
        s.ppsId >= m_ppsIds.size() || !m_ppsIds.test(s.ppsId))
        return false;
    if (!m_entryPointsTellTracks)
        return true;
    const int32_t entries = entryPoints(nal, length);
    return entries >= 0 && m_entryPoints.test(size_t(entries));
}

bool HevcSampleProfile::otherTrackSliceFits(const uint8_t* nal, uint32_t length) const {
    HEVC::SliceStart s;
    if (!HEVC::readSliceStart(nal, length, m_sets, s) || !s.firstInPicture)
        return false;
    const int32_t entries = entryPoints(nal, length);
    return entries >= 0 && m_otherEntryPoints.test(size_t(entries));
}

int64_t HevcSampleProfile::measureOtherTrackSample(const uint8_t* data, int64_t n) const {
    return m_entryPointsTellTracks ? measure(data, n, true, true) : 0;
}

int64_t HevcSampleProfile::measure(const uint8_t* data, int64_t n, bool bounded, bool otherTrack) const {
    if (m_classes.empty())
        return 0;
    int64_t pos = 0;
    uint32_t units = 0, slices = 0, firstPps = 0;
    uint8_t firstType = 0, firstHeader = 0, firstLayerAndTemporalId = 0;
    bool longSlice = bounded;
    auto endHere = [&](int64_t end) { return slices > 0 && longSlice && slices <= m_maxSlices ? end : 0; };
    while (n - pos >= 6 && units < kMaxUnits) {
        HEVC::UnitCheck u;
        const uint8_t* nal = data + pos + 4;
        if (!unitAt(data + pos, n - pos, u, HEVC::kMinKnownSliceLength)) {
            // A segment of this picture (its whole header the first one's)
            // that runs past the bytes given says nothing of where the
            // sample ends: the picture is not whole here. One whose first
            // bit opens a picture is the next picture cut off, and this one
            // ends in front of it.
            if (slices && !bounded && n - pos >= 6 && nal[0] == firstHeader && nal[1] == firstLayerAndTemporalId &&
                int64_t(bitstream::readBE32(data + pos)) + 4 > n - pos && !(n - pos >= 7 && (nal[2] & 0x80)))
                return 0;
            break;
        }
        bool closes = false;
        if (isExtension(u)) {
            // Behind the base layer's slices, an extension unit the
            // reference carried there is part of the picture; in front of
            // them, one it carried there begins it.
            if (!extensionFits(u, slices == 0)) {
                if (slices == 0 || bounded)
                    return 0;
                break;
            }
        } else if (u.slice) {
            HEVC::SliceStart s;
            const bool read = HEVC::readSliceStart(nal, u.length, m_sets, s);
            if (slices == 0) {
                if (!read || !(otherTrack ? otherTrackSliceFits(nal, u.length) : firstSliceFits(nal, u.length)))
                    return 0;
                firstType = u.type;
                firstHeader = nal[0];
                firstLayerAndTemporalId = nal[1];
                firstPps = s.ppsId;
            } else if (read && s.firstInPicture) {
                break;  // the next picture
            } else if (!read || u.type != firstType || s.ppsId != firstPps || slices >= m_maxSlices) {
                if (bounded)
                    return 0;
                break;
            }
        } else if (slices) {
            // A suffix SEI belongs to the picture in front; an end of
            // sequence or bitstream closes it; anything else opens the next.
            if (u.type == HEVC::NAL_EOS_NUT || u.type == HEVC::NAL_EOB_NUT)
                closes = true;
            else if (u.type != HEVC::NAL_SEI_SUFFIX)
                break;
        } else if (u.type == HEVC::NAL_SEI_SUFFIX || u.type == HEVC::NAL_EOS_NUT || u.type == HEVC::NAL_EOB_NUT) {
            return 0;  // a picture does not begin with these
        }
        if (m_payloadsClean && !m_cleanMemo.clean(nal, u.length)) {
            if (bounded || slices == 0)
                return 0;
            break;
        }
        if (u.slice && !isExtension(u)) {
            ++slices;
            longSlice = longSlice || u.length >= HEVC::kMinScanSliceLength;
        }
        ++units;
        pos += int64_t(u.length) + 4;
        if (closes)
            break;
    }
    return endHere(pos);
}

int64_t HevcSampleProfile::measureSample(const uint8_t* data, int64_t n) const { return measure(data, n, false); }

int64_t HevcSampleProfile::measureBoundedSample(const uint8_t* data, int64_t n) const { return measure(data, n, true); }

int64_t HevcSampleProfile::nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const {
    HEVC::UnitCheck u;
    // Only a zero byte can begin a unit's length; they are found 16 at a time.
    return firstMarkedStart(
        data, n, from, last, 16, [](const uint8_t* p) { return bitstream::zeroByteMask16(p); },
        [&](int64_t at) { return data[at] == 0; },
        [&](int64_t at) { return unitAt(data + at, n - at, u, HEVC::kMinKnownSliceLength); });
}

int32_t HevcSampleProfile::parameterSetId(const uint8_t* sample, int64_t size) const {
    int64_t pos = 0;
    for (uint32_t units = 0; size - pos >= 6 && units < kMaxUnits; ++units) {
        HEVC::UnitCheck u;
        if (!unitAt(sample + pos, size - pos, u, HEVC::kMinKnownSliceLength))
            return -1;
        if (u.slice && u.layer == 0) {
            HEVC::SliceStart s;
            return HEVC::readSliceStart(sample + pos + 4, u.length, m_sets, s) ? int32_t(s.ppsId) : -1;
        }
        pos += int64_t(u.length) + 4;
    }
    return -1;
}
