#include "analysers/hevc/hevc_composition_order.h"

#include "analysers/chunk/presentation_order.h"
#include "bitstream/hevc/sample_units.h"
#include "bitstream/hevc/nal_unit_type.h"
#include "bitstream/hevc/sps.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

// The slice header fields up to the order count lie within the first bytes.
constexpr int32_t kHeaderBytes = 64;
// Units in front of the first slice (delimiter, SEI, parameter sets) are
// stepped over, up to this many.
constexpr int kMaxLeadingUnits = 16;
// The decoded picture buffer holds at most 16 pictures.
constexpr int64_t kMaxReorder = 16;

}  // namespace

bool HevcCompositionOrder::configure(const HEVC::ParameterSets& sets) {
    m_sets = sets;
    m_ready = false;
    // Readings made with other parameter sets.
    m_remembered.clear();
    m_rememberedSorted = true;
    if (sets.sps.empty() || sets.pps.empty())
        return false;
    const HEVC::SPS& sps = *sets.sps.begin()->second;
    m_maxPocLsb = int64_t(1) << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4);
    const size_t top = std::min<size_t>(sps.sps_max_sub_layers_minus1, sps.sps_max_num_reorder_pics.size() - 1);
    m_declaredDelay = std::min<int64_t>(sps.sps_max_num_reorder_pics[top], kMaxReorder);
    m_ready = true;
    return true;
}

template <class Bytes>
HevcCompositionOrder::Read HevcCompositionOrder::readFirstSlice(Bytes bytes, int64_t offset, int64_t size,
                                                                FirstSlice& out) const {
    int64_t pos = 0;
    for (int unit = 0; unit < kMaxLeadingUnits && size - pos >= 6; ++unit) {
        const int32_t want = int32_t(std::min<int64_t>(size - pos, kHeaderBytes));
        const uint8_t* data = bytes(offset + pos, want);
        if (!data)
            return Read::NotHeld;
        const uint32_t length = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
        if (length < 2 || int64_t(length) + 4 > size - pos)
            return Read::Unreadable;
        out.type = data[4] >> 1;
        if (HEVC::isSliceType(out.type)) {
            HEVC::SliceStart s;
            const uint32_t n = std::min<uint32_t>(length, uint32_t(want - 4));
            if (!HEVC::readSliceStart(data + 4, n, m_sets, s) || !s.firstInPicture)
                return Read::Unreadable;
            out.temporalId = uint8_t((data[5] & 7) - 1);
            out.pocLsb = s.pocLsb;
            return Read::Done;
        }
        pos += int64_t(length) + 4;
    }
    return Read::Unreadable;
}

void HevcCompositionOrder::remember(const ScanBuffer& input, int64_t offset, int32_t size) {
    if (!m_ready || size <= 0)
        return;
    FirstSlice slice;
    const Read read = readFirstSlice([&](int64_t at, int32_t n) { return input.held(at, n); }, offset, size, slice);
    if (read == Read::NotHeld || slice.pocLsb > 0xFFFF)
        return;
    if (!m_remembered.empty()) {
        const Remembered& last = m_remembered.back();
        m_rememberedSorted = m_rememberedSorted && std::tie(last.offset, last.size) <= std::tie(offset, size);
    }
    Remembered r{};
    r.offset = offset;
    r.size = size;
    r.readable = read == Read::Done;
    if (r.readable) {
        r.type = slice.type & 0x7F;
        r.temporalId = slice.temporalId;
        r.pocLsb = uint16_t(slice.pocLsb);
    }
    m_remembered.push_back(r);
}

bool HevcCompositionOrder::firstSlice(ScanBuffer& input, const MediaSample& sample, FirstSlice& out) {
    const auto before = [](const Remembered& r, const MediaSample& s) {
        return std::tie(r.offset, r.size) < std::tie(s.offset, s.size);
    };
    const auto it = std::lower_bound(m_remembered.begin(), m_remembered.end(), sample, before);
    if (it != m_remembered.end() && it->offset == sample.offset && it->size == sample.size) {
        out.type = it->type;
        out.temporalId = it->temporalId;
        out.pocLsb = it->pocLsb;
        return it->readable;
    }
    const auto fromFile = [&](int64_t at, int32_t n) -> const uint8_t* {
        const uint8_t* data = input.peek(at, n);
        return data && input.available() >= n ? data : nullptr;
    };
    return readFirstSlice(fromFile, sample.offset, sample.size, out) == Read::Done;
}

size_t HevcCompositionOrder::apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                                   bool rewriteOffsets) {
    if (!m_ready || frameDuration <= 0)
        return 0;
    if (!m_rememberedSorted) {
        std::sort(m_remembered.begin(), m_remembered.end(), [](const Remembered& a, const Remembered& b) {
            return std::tie(a.offset, a.size) < std::tie(b.offset, b.size);
        });
        m_rememberedSorted = true;
    }
    std::vector<OrderedPicture> pictures;
    // The previous TemporalId 0 picture that is no leading or sub-layer
    // non-reference picture gives the order count's high part.
    bool havePrevious = false, first = true;
    uint32_t prevLsb = 0;
    int64_t prevMsb = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!samples[i].isVideo())
            continue;
        OrderedPicture p;
        p.index = i;
        FirstSlice slice;
        p.readable = firstSlice(input, samples[i], slice);
        const bool sync = p.readable && HEVC::isIrap(slice.type);
        samples.setSync(i, sync ? SyncState::Sync : SyncState::NotSync);
        if (p.readable) {
            const uint8_t type = slice.type, tid = slice.temporalId;
            const uint32_t lsb = slice.pocLsb;
            // IDR and BLA pictures, and a CRA picture that begins the
            // stream, start the count again.
            const bool resets = HEVC::isIdr(type) || (type >= HEVC::NAL_BLA_W_LP && type <= HEVC::NAL_BLA_N_LP) ||
                                (type == HEVC::NAL_CRA_NUT && first);
            int64_t msb = 0;
            if (!resets && havePrevious) {
                if (lsb < prevLsb && int64_t(prevLsb - lsb) >= m_maxPocLsb / 2)
                    msb = prevMsb + m_maxPocLsb;
                else if (lsb > prevLsb && int64_t(lsb - prevLsb) > m_maxPocLsb / 2)
                    msb = prevMsb - m_maxPocLsb;
                else
                    msb = prevMsb;
            }
            p.restarts = resets;
            p.poc = msb + lsb;
            const bool subLayerNonRef = type <= 14 && type % 2 == 0;
            const bool leading = type >= HEVC::NAL_RADL_N && type <= HEVC::NAL_RASL_R;
            if (tid == 0 && !leading && !subLayerNonRef) {
                havePrevious = true;
                prevLsb = lsb;
                prevMsb = msb;
            }
            first = false;
        }
        pictures.push_back(p);
    }

    if (!rewriteOffsets)
        return 0;
    // Recorders count HEVC pictures one by one: a picture whose neighbours
    // were cut off still says where it is shown.
    return applyPresentationOrder(pictures, samples, frameDuration, m_declaredDelay, CountSpacing::Regular);
}
