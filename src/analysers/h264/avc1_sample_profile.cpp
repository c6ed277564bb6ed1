#include "analysers/h264/avc1_sample_profile.h"

#include "analysers/chunk/marked_start_search.h"
#include "bitstream/common/byte_read.h"
#include "bitstream/common/zero_bytes.h"
#include "bitstream/h264/nal_unit_type.h"
#include "bitstream/h264/sample_units.h"
#include "bitstream/h264/slice_header.h"

#include <algorithm>

namespace {

// NAL unit types of slices of a picture that is no IDR and of an IDR.
constexpr uint8_t kNonIdrSlice = 1;
constexpr uint8_t kIdrSlice = 5;

// A sample measured in the damaged input may not take more units than this
// before it fits a class.
constexpr uint32_t kMaxMeasureUnits = 256;
// Anchors are learnt only from the leading unit of a sample when it is this
// short (an access unit delimiter or a short SEI recorders repeat verbatim).
constexpr uint32_t kMaxAnchorUnit = 64;
// An access unit delimiter's payload (primary_pic_type) changes with the
// frame type, so only its length and header byte make the anchor.
constexpr size_t kDelimiterHeaderBytes = 1;
// Anchors need enough samples to be trusted, at most this many are kept, and
// each must begin at least 1 % of the samples.
constexpr uint32_t kMinAnchorSamples = 300;
constexpr size_t kMaxAnchors = 16;
// The anchors must begin at least 95.0 % of the samples (in tenths of a
// percent) before they are used as sample boundaries.
constexpr uint32_t kFastCoverage = 950;

// Units that open an access unit: nothing of the picture before them can
// follow them (access unit delimiter, SEI, SPS extension, and the parameter
// sets some recorders repeat in their samples).
bool opensAccessUnit(uint8_t type) { return type == 6 || type == 7 || type == 8 || type == 9 || type == 13; }
// Units that close one: end of sequence and end of stream.
bool closesAccessUnit(uint8_t type) { return type == 10 || type == 11; }

}  // namespace

void Avc1SampleProfile::clear() { *this = Avc1SampleProfile(); }

bool Avc1SampleProfile::learn(const uint8_t* data, int64_t size) {
    const unsigned prefix = m_lengthSize;
    const H264::SampleTiling t = H264::tileSample(data, size, H264::kAllExtraUnits, prefix);
    if (!t.exact || t.units == 0 || t.firstSliceLength == 0)
        return false;
    m_extras |= t.extras;

    // Anchors come from the units recorders repeat in front of a picture
    // (delimiters, SEI), never from a slice: a still scene codes many
    // pictures as the same few bytes, which begin no other scene's pictures.
    // A prefix unit stands in front of every slice, not only a picture's first.
    const bool leadingSlice = t.firstUnitType == 1 || t.firstUnitType == 5 || t.firstUnitType == H264::kPrefixUnit;
    if (!leadingSlice && t.firstUnitLength >= 1 && t.firstUnitLength <= kMaxAnchorUnit &&
        size >= int64_t(t.firstUnitLength) + prefix) {
        const size_t keyLength = t.firstUnitType == 9 ? prefix + kDelimiterHeaderBytes : t.firstUnitLength + prefix;
        auto it = std::find_if(m_anchorCounts.begin(), m_anchorCounts.end(), [&](const SampleAnchor& a) {
            return a.bytes.size() == keyLength && std::memcmp(a.bytes.data(), data, keyLength) == 0;
        });
        if (it == m_anchorCounts.end())
            m_anchorCounts.push_back(SampleAnchor{std::vector<uint8_t>(data, data + keyLength), 1});
        else
            ++it->count;
        uint32_t leading = 0;
        for (int64_t pos = 0; pos + prefix <= t.firstSliceOffset; ++leading)
            pos += int64_t(bitstream::readUnitLength(data + pos, prefix)) + prefix;
        m_maxLeadingUnits = std::max(m_maxLeadingUnits, leading);
    }

    for (int64_t pos = 0; pos + prefix < t.firstSliceOffset;) {
        const uint32_t length = bitstream::readUnitLength(data + pos, prefix);
        const uint8_t type = H264::nalType(data[pos + prefix]);
        if (type == H264::SPS || type == H264::PPS)
            m_carriedSets.remember(data + pos + prefix, length);
        pos += int64_t(length) + prefix;
    }

    // One walk over all the sample's units: their types, and whether every
    // payload is free of start-code-like sequences.
    for (int64_t pos = 0; pos + prefix < size;) {
        const uint32_t length = bitstream::readUnitLength(data + pos, prefix);
        m_unitTypes.set(H264::nalType(data[pos + prefix]));
        m_payloadsClean = m_payloadsClean && H264::nalPayloadClean(data + pos + prefix, length);
        pos += int64_t(length) + prefix;
    }

    const uint32_t sampleSize = uint32_t(size);
    auto cls = std::find_if(m_classes.begin(), m_classes.end(),
                            [&](const Avc1SampleClass& c) { return c.key == t.firstSliceType; });
    if (cls == m_classes.end()) {
        Avc1SampleClass c;
        c.key = t.firstSliceType;
        m_classes.push_back(c);
        cls = m_classes.end() - 1;
    }
    cls->add(sampleSize, t.firstSliceLength, t.units);
    cls->maxSlices = std::max(cls->maxSlices, t.slices);
    m_maxSlices = std::max(m_maxSlices, t.slices);
    const uint8_t* slice = data + t.firstSliceOffset + prefix;
    cls->headerBytes.set(slice[0]);
    H264::SliceHeaderStart start;
    if (H264::readSliceHeaderStart(slice, t.firstSliceLength, start)) {
        cls->sliceTypes.set(start.slice_type);
        // An encoder that predicts from two pictures predicts from one as
        // well: a recording that ends inside a group of pictures closes it
        // with a P picture where the reference, nothing but B pictures
        // between its key frames, never showed one. Its header byte must
        // still be one the reference's pictures of this type had.
        if (start.slice_type % 5 == H264::SLICE_B)
            cls->sliceTypes.set(start.slice_type - H264::SLICE_B + H264::SLICE_P);
        if (start.first_mb_in_slice != 0)
            m_firstSliceAtZero = false;
    }

    if (m_samplesUsed == 0) {
        m_minSize = m_maxSize = sampleSize;
        m_minFirstSlice = m_maxFirstSlice = t.firstSliceLength;
    } else {
        m_minSize = std::min(m_minSize, sampleSize);
        m_maxSize = std::max(m_maxSize, sampleSize);
        m_minFirstSlice = std::min(m_minFirstSlice, t.firstSliceLength);
        m_maxFirstSlice = std::max(m_maxFirstSlice, t.firstSliceLength);
    }
    ++m_samplesUsed;
    return true;
}

void Avc1SampleProfile::finishLearning() {
    m_anchors.clear();
    m_coverage = 0;
    m_fast = false;
    // Equal counts keep the order in which the keys were first met.
    std::stable_sort(m_anchorCounts.begin(), m_anchorCounts.end(),
                     [](const SampleAnchor& a, const SampleAnchor& b) { return a.count > b.count; });
    if (m_samplesUsed < kMinAnchorSamples)
        return;
    const uint32_t minimum = m_samplesUsed / 100;
    uint64_t covered = 0;
    for (const SampleAnchor& a : m_anchorCounts) {
        if (m_anchors.size() >= kMaxAnchors || a.count < minimum)
            break;
        m_anchors.push_back(a);
        covered += a.count;
    }
    m_coverage = uint32_t(covered * 1000 / m_samplesUsed);
    m_fast = !m_anchors.empty() && m_coverage >= kFastCoverage;
}

bool Avc1SampleProfile::classFit(uint8_t type, uint32_t firstSlice, uint32_t slices) const {
    if (m_classes.empty() || firstSlice == 0 || slices == 0)
        return false;
    // A recorder cuts its pictures into as many slices as its settings say,
    // whatever the kind of picture; the most any class used is the bound.
    for (const Avc1SampleClass& c : m_classes)
        if (c.key == type)
            return slices <= m_maxSlices;
    return false;
}

bool Avc1SampleProfile::beginsNextPicture(const uint8_t* data, int64_t n, const H264::NalUnitCheck& nal,
                                          uint32_t slices) const {
    if (opensAccessUnit(nal.type))
        return true;
    if (nal.type == H264::kPrefixUnit) {
        H264::WrappedSlice wrapped;
        if (H264::wrappedPictureSlice(data + m_lengthSize, nal.length, wrapped))
            return true;
        // A prefix unit stands in front of every base-layer slice: the
        // slice behind it tells whether a new picture begins.
        const int64_t next = int64_t(nal.length) + m_lengthSize;
        H264::NalUnitCheck slice;
        if (!H264::nalUnitCheck(data + next, n - next, slice, H264::kMinKnownSliceLength, 0, m_lengthSize) ||
            !slice.slice)
            return true;
        return beginsNextPicture(data + next, n - next, slice, slices);
    }
    if (!nal.slice)
        return false;
    if (slices >= m_maxSlices)
        return true;
    H264::SliceHeaderStart start;
    if (!H264::readSliceHeaderStart(data + m_lengthSize, nal.length, start))
        return true;
    // Without arbitrary slice order a picture's first slice starts at
    // macroblock 0 and no later one does.
    return m_firstSliceAtZero && start.first_mb_in_slice == 0;
}

bool Avc1SampleProfile::continuesPicture(const uint8_t* data, int64_t n, uint8_t firstHeader,
                                         const H264::SliceHeaderStart& previous, uint32_t slices,
                                         H264::NalUnitCheck& nal) const {
    if (slices >= m_maxSlices || !unitAt(data, n, nal, H264::kMinKnownSliceLength) || !nal.slice)
        return false;
    // Every slice of one picture has the same nal_unit_type and nal_ref_idc
    // and names the same parameter set; without arbitrary slice order each
    // starts further down the picture than the one before.
    H264::SliceHeaderStart start;
    if (data[m_lengthSize] != firstHeader || !H264::readSliceHeaderStart(data + m_lengthSize, nal.length, start) ||
        start.pic_parameter_set_id != previous.pic_parameter_set_id)
        return false;
    if (m_firstSliceAtZero && start.first_mb_in_slice <= previous.first_mb_in_slice)
        return false;
    return m_cleanMemo.clean(data + m_lengthSize, nal.length);
}

bool Avc1SampleProfile::sliceRunsPast(const uint8_t* data, int64_t n, uint8_t firstHeader,
                                      const H264::SliceHeaderStart& previous) const {
    constexpr uint32_t kMaxSliceLength = 1499999;
    if (n <= m_lengthSize || data[m_lengthSize] != firstHeader)
        return false;
    const uint32_t length = bitstream::readUnitLength(data, m_lengthSize);
    if (length > kMaxSliceLength || int64_t(length) + m_lengthSize <= n)
        return false;
    // Its header must read as the picture's next slice: sound behind the
    // picture begins with such a byte now and then.
    H264::SliceHeaderStart start;
    return H264::readSliceHeaderStart(data + m_lengthSize, size_t(n - m_lengthSize), start) &&
           start.pic_parameter_set_id == previous.pic_parameter_set_id &&
           (!m_firstSliceAtZero || start.first_mb_in_slice > previous.first_mb_in_slice);
}

bool Avc1SampleProfile::wholeHeaderHolds(const uint8_t* nal, uint32_t length, uint32_t ppsId) const {
    if (m_contextPresent.empty())
        return true;
    // A picture that names a parameter set the reference lacks is taken only
    // where chance matches are rare: with four-byte lengths.
    if (length < 2 || ppsId >= m_contextPresent.size() || !m_contextPresent[ppsId])
        return false;
    const H264::SliceContext& context = m_contexts[ppsId];
    bitstream::BitReader r(nal + 1, length - 1, bitstream::Emulation::Drop);
    H264::SliceHeader header;
    return H264::parseSliceHeader(r, nal[0] & 0x1F, context, header, m_headerProblem) == bitstream::ParseResult::Ok &&
           H264::sliceHeaderTailHolds(r, nal[0], context, header);
}

bool Avc1SampleProfile::shortPictureHolds(const uint8_t* nal, uint32_t length) const {
    H264::SliceHeaderStart start;
    return !m_contextPresent.empty() && H264::readSliceHeaderStart(nal, length, start) &&
           wholeHeaderHolds(nal, length, start.pic_parameter_set_id);
}

bool Avc1SampleProfile::firstSliceFits(const uint8_t* nal, uint32_t length) const {
    H264::SliceHeaderStart start;
    if (!H264::readSliceHeaderStart(nal, length, start))
        return false;
    if (m_firstSliceAtZero && start.first_mb_in_slice != 0)
        return false;
    const uint8_t type = nal[0] & 0x1F;
    bool header = false, intra = false;
    for (const Avc1SampleClass& c : m_classes) {
        if (c.key == type && c.headerBytes.test(nal[0]) && c.sliceTypes.test(start.slice_type))
            return m_lengthSize != 2 || wholeHeaderHolds(nal, length, start.pic_parameter_set_id);
        // An open-GOP recorder starts its later groups with an I picture
        // that is no IDR; a short reference may hold none, only its first
        // IDR: such a picture has the other pictures' header byte and the
        // IDR's slice type.
        header = header || (c.key == type && c.headerBytes.test(nal[0]));
        intra = intra || (c.key == kIdrSlice && c.sliceTypes.test(start.slice_type));
    }
    return type == kNonIdrSlice && header && intra && (m_lengthSize != 2 || wholeHeaderHolds(nal, length, start.pic_parameter_set_id));
}

size_t Avc1SampleProfile::anchorAt(const uint8_t* data, int64_t n) const {
    for (const SampleAnchor& a : m_anchors)
        if (int64_t(a.bytes.size()) <= n && std::memcmp(a.bytes.data(), data, a.bytes.size()) == 0)
            return a.bytes.size();
    return 0;
}

bool Avc1SampleProfile::anchorBehindMessage(const uint8_t* data, int64_t n) const {
    if (n <= m_lengthSize || H264::nalType(data[m_lengthSize]) != H264::SEI)
        return false;
    const int64_t next = m_lengthSize + int64_t(bitstream::readUnitLength(data, m_lengthSize));
    return next < n && anchorAt(data + next, n - next) > 0;
}

int64_t Avc1SampleProfile::wrappedSampleAt(const uint8_t* data, int64_t n) const {
    H264::NalUnitCheck nal;
    H264::WrappedSlice wrapped;
    if (!(m_extras & H264::kScalableUnits) || !unitAt(data, n, nal) || nal.type != H264::kPrefixUnit ||
        !H264::wrappedPictureSlice(data + m_lengthSize, nal.length, wrapped) ||
        !firstSliceFits(data + m_lengthSize + wrapped.offset, nal.length - wrapped.offset))
        return 0;
    return int64_t(nal.length) + m_lengthSize;
}

int64_t Avc1SampleProfile::measureSample(const uint8_t* data, int64_t n) const {
    if (m_classes.empty() || n <= m_lengthSize || !anchorTest(data, n))
        return 0;
    if (const int64_t wrapped = wrappedSampleAt(data, n))
        return wrapped;
    // A message in front of the anchor is one leading unit more.
    const uint32_t leadingUnits = m_maxLeadingUnits + (m_fast && anchorAt(data, n) == 0 ? 1 : 0);
    int64_t pos = 0;
    uint32_t units = 0, slices = 0;
    uint8_t sliceType = 0;
    uint32_t sliceLength = 0;  // 0 until the first slice
    int64_t lastFit = 0;
    // A picture's first slice may be as short as a still top of the scene
    // codes it, but then a later slice must be one that the scan's unit test
    // takes on its own: a short unit alone is as likely a chance match.
    bool longSlice = false;
    // A still scene codes whole pictures in a few bytes, whatever scene the
    // reference shows: a picture of short slices is taken when its first
    // slice's whole header holds under the reference's parameter sets.
    bool shortHolds = false;
    auto taken = [&] { return longSlice || shortHolds; };
    auto fits = [&] { return taken() && classFit(sliceType, sliceLength, slices); };
    auto endHere = [&](int64_t end) { return fits() ? end : 0; };
    uint8_t firstHeader = 0;     // NAL header byte of the picture's first slice
    H264::SliceHeaderStart last;  // header start of the picture's latest slice
    while (n - pos > m_lengthSize && units < kMaxMeasureUnits) {
        H264::NalUnitCheck nal;
        // A unit that cannot belong to a sample ends it, unless it is a
        // short slice that carries on the picture begun (see continuesPicture).
        if (!unitAt(data + pos, n - pos, nal) &&
            !(slices && continuesPicture(data + pos, n - pos, firstHeader, last, slices, nal)) &&
            !(slices == 0 && unitAt(data + pos, n - pos, nal, H264::kMinKnownSliceLength) && nal.slice)) {
            // A slice of this picture that runs past the bytes given says
            // nothing of where the sample ends: the picture is not whole here.
            if (slices && sliceRunsPast(data + pos, n - pos, firstHeader, last))
                return 0;
            return slices ? endHere(pos) : 0;
        }
        if (slices && !m_fast && beginsNextPicture(data + pos, n - pos, nal, slices))
            return endHere(pos);
        // The header test first: it reads a few bytes, the payload test the
        // whole unit, and a search meets a "slice" of chance length (up to a
        // megabyte of audio) at nearly every offset of a gap.
        const bool firstSlice = nal.slice && sliceLength == 0;
        if (firstSlice && !firstSliceFits(data + pos + m_lengthSize, nal.length))
            return 0;
        if (m_payloadsClean && !m_cleanMemo.clean(data + pos + m_lengthSize, nal.length))
            return slices ? endHere(pos) : 0;
        ++units;
        if (firstSlice) {
            sliceType = nal.type;
            sliceLength = nal.length;
            firstHeader = data[pos + m_lengthSize];
            shortHolds = shortPictureHolds(data + pos + m_lengthSize, nal.length);
        }
        if (nal.slice && !H264::readSliceHeaderStart(data + pos + m_lengthSize, nal.length, last))
            last = H264::SliceHeaderStart();
        slices += nal.slice;
        longSlice = longSlice || (nal.slice && nal.length >= H264::kMinScanSliceLength);
        pos += int64_t(nal.length) + m_lengthSize;
        if (sliceLength == 0) {
            if (m_fast && units >= leadingUnits && n - pos > m_lengthSize && anchorAt(data + pos, n - pos))
                return 0;  // the next sample begins before this one had a slice
            continue;
        }
        if (!m_fast) {
            if (closesAccessUnit(nal.type))
                return endHere(pos);
            continue;
        }
        if (fits())
            lastFit = pos;
        if (n - pos > m_lengthSize && anchorAt(data + pos, n - pos))
            return taken() ? pos : 0;
    }
    // The data ran out (or the unit cap was reached) inside the sample.
    return m_fast ? lastFit : (slices ? endHere(pos) : 0);
}

int64_t Avc1SampleProfile::measureBoundedSample(const uint8_t* data, int64_t n) const {
    if (m_classes.empty())
        return 0;
    if (const int64_t wrapped = wrappedSampleAt(data, n))
        return wrapped;
    int64_t pos = 0;
    uint32_t units = 0, slices = 0, firstLength = 0;
    uint8_t firstType = 0, firstHeader = 0;
    H264::SliceHeaderStart last;
    while (n - pos > m_lengthSize && units < kMaxMeasureUnits) {
        H264::NalUnitCheck nal;
        if (!unitAt(data + pos, n - pos, nal, H264::kMinKnownSliceLength))
            break;
        if (slices && beginsNextPicture(data + pos, n - pos, nal, slices))
            break;
        if (m_payloadsClean && !m_cleanMemo.clean(data + pos + m_lengthSize, nal.length))
            return 0;
        if (nal.slice) {
            if (slices == 0) {
                if (!firstSliceFits(data + pos + m_lengthSize, nal.length))
                    return 0;
                firstType = nal.type;
                firstLength = nal.length;
                firstHeader = data[pos + m_lengthSize];
            } else if (!continuesPicture(data + pos, n - pos, firstHeader, last, slices, nal)) {
                return 0;
            }
            if (!H264::readSliceHeaderStart(data + pos + m_lengthSize, nal.length, last))
                return 0;
            ++slices;
        }
        ++units;
        pos += int64_t(nal.length) + m_lengthSize;
        if (slices && closesAccessUnit(nal.type))
            break;
    }
    return slices && classFit(firstType, firstLength, slices) ? pos : 0;
}

int64_t Avc1SampleProfile::nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const {
    H264::NalUnitCheck nal;
    // Short units are starts too: a picture may begin with a short slice
    // (measureSample then asks for a longer one behind it).
    auto isStart = [&](int64_t at) { return unitAt(data + at, n - at, nal, H264::kMinKnownSliceLength); };
    // A two-byte length may be any pair: only the header byte behind it,
    // whose forbidden bit is clear, marks the places for the whole test.
    if (m_lengthSize == 2)
        return firstMarkedStart(
            data, n, from, last, 18, [](const uint8_t* p) { return bitstream::smallByteMask16(p + 2, 0x7F); },
            [](int64_t) { return true; }, isStart);
    // A unit's length is at most 1,500,000 (0x16E360), so it begins with a
    // zero byte and one of at most 0x16: only such pairs need the whole
    // test, and they are found 16 at a time.
    return firstMarkedStart(
        data, n, from, last, 17,
        [](const uint8_t* p) { return bitstream::zeroByteMask16(p) & bitstream::smallByteMask16(p + 1, 0x16); },
        [](int64_t) { return true; }, isStart);
}

int32_t Avc1SampleProfile::parameterSetId(const uint8_t* sample, int64_t size) const {
    return H264::firstSlicePpsId(sample, size, m_extras, m_lengthSize);
}
